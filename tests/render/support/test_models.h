// The ONNX graphs of the render tests, written once per test run by make_test_models.py (the onnx
// package) into a temporary directory that is removed at exit.
#pragma once

#include <string>
#include <vector>

#include "render/graph/onnx_proto_writer.h"

namespace le::test {

// The bytes of a model by name ("gs_w13", "director", ...); fails the calling test when absent.
const GsBytes& testModel(const std::string& name);

// Names of every single-GridSample model (the gs_* family).
std::vector<std::string> gridSampleModelNames();

}  // namespace le::test
