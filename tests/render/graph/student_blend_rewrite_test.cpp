// The student-blend normalisation: the MatMul named /s2/blend becomes a Gemm that computes the
// same, and nothing else changes.
#include "render/graph/student_blend_rewrite.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "render/graph/onnx_graph_reader.h"
#include "render/graph/onnx_node_view.h"
#include "render/support/ort_runner.h"
#include "render/support/test_models.h"

namespace {

TEST(StudentBlendRewrite, GemmComputesWhatTheMatMulDid) {
  const le::GsBytes& original = le::test::testModel("student_blend");
  le::GsBytes rewritten = original;
  ASSERT_EQ(le::normaliseStudentBlend(rewritten), 1u);
  const le::test::TensorMap inputs = le::test::makeInputs(original, 4);
  EXPECT_LE(le::test::maxAbsDiff(le::test::runModel(original, inputs), le::test::runModel(rewritten, inputs)), 1e-6f);
}

TEST(StudentBlendRewrite, OnlyTheExactNameIsNormalisedAndItsFieldsAreKept) {
  le::GsBytes model = le::test::testModel("student_blend");
  ASSERT_EQ(le::normaliseStudentBlend(model), 1u);
  std::vector<le::GsNodeView> nodes;
  le::GsReader reader(le::gsGraphOf(le::gsSliceOf(model)));
  le::GsField f;
  while (reader.next(f))
    if (f.number == le::kGraphNode) nodes.push_back(le::gsViewNode(f.payload));
  ASSERT_EQ(nodes.size(), 2u);
  EXPECT_EQ(nodes[0].opType, "Gemm");
  EXPECT_EQ(nodes[0].name, "/s2/blend");
  EXPECT_EQ(nodes[0].domain, "");
  EXPECT_EQ(nodes[0].inputs, (std::vector<std::string>{"A", "blend_w"}));
  EXPECT_EQ(nodes[0].outputs, (std::vector<std::string>{"mixed"}));
  EXPECT_EQ(nodes[1].opType, "MatMul");
  EXPECT_EQ(nodes[1].name, "/s2/blend/MatMul");
  // A second pass finds nothing left to normalise.
  const le::GsBytes once = model;
  EXPECT_EQ(le::normaliseStudentBlend(model), 0u);
  EXPECT_EQ(model, once);
}

}  // namespace
