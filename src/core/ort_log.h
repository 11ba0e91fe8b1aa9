// ONNX Runtime's own warnings and errors, sent through the library's log path instead of straight
// to standard error. ONNX Runtime keeps one environment per process, whose logger is the one given
// by its first creator, so every environment the library creates passes this function.
#pragma once

#include <onnxruntime_c_api.h>

namespace le {

void ortLog(void* param, OrtLoggingLevel severity, const char* category, const char* logId, const char* codeLocation,
            const char* message);

}  // namespace le
