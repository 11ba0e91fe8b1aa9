#include "render/graph/head_resize_chain.h"

#include <array>
#include <string>

#include "render/graph/onnx_emitter.h"
#include "render/graph/onnx_tensor_reader.h"

namespace le {

namespace {

constexpr int32_t kTensorInt64 = 7;
constexpr int64_t kEdge = 2;  // the window reaches two source pixels either side

// The five-slot window of one phase: t = 0.75 in slots 0 to 3 (even), t = 0.25 in slots 1 to 4.
std::array<double, kHeadResizeWindow> phaseWindow(int phase, double a) {
  const std::array<double, 4> taps = headResizeTaps(phase == 0 ? 0.75 : 0.25, a);
  std::array<double, kHeadResizeWindow> window{};
  for (int i = 0; i < 4; ++i) window[size_t(i + phase)] = taps[size_t(i)];
  return window;
}

}  // namespace

std::array<double, 4> headResizeTaps(double t, double a) {
  const double distances[4] = {t + 1, t, 1 - t, 2 - t};
  std::array<double, 4> taps{};
  double sum = 0;
  for (int i = 0; i < 4; ++i) {
    const double d = distances[i];
    taps[i] = d <= 1 ? ((a + 2) * d - (a + 3)) * d * d + 1 : ((d - 5) * d + 8) * d * a - 4 * a;
    sum += taps[i];
  }
  for (double& tap : taps) tap /= sum;
  return taps;
}

std::vector<float> headResizeWeights(int64_t channels, double a) {
  constexpr int kArea = kHeadResizeWindow * kHeadResizeWindow;
  const std::array<double, kHeadResizeWindow> phases[2] = {phaseWindow(0, a), phaseWindow(1, a)};
  std::vector<float> weights(size_t(channels) * 4 * kArea);
  for (int64_t c = 0; c < channels; ++c)
    for (int py = 0; py < 2; ++py)
      for (int px = 0; px < 2; ++px) {
        float* w = weights.data() + size_t(c * 4 + py * 2 + px) * kArea;
        for (int y = 0; y < kHeadResizeWindow; ++y)
          for (int x = 0; x < kHeadResizeWindow; ++x)
            w[y * kHeadResizeWindow + x] = float(phases[py][size_t(y)] * phases[px][size_t(x)]);
      }
  return weights;
}

GsBytes headResizeChain(const GsNodeView& resize, int64_t channels, double a) {
  const std::string base = resize.name.empty() ? "/Resize" : resize.name;
  GsBytes out;
  const int64_t pads[8] = {0, 0, kEdge, kEdge, 0, 0, kEdge, kEdge};
  gsInit(out, base + "_pads", kTensorInt64, {8}, pads, sizeof pads);
  const std::vector<float> weights = headResizeWeights(channels, a);
  gsInit(out, base + "_dw_w", kTensorFloat, {channels * 4, 1, kHeadResizeWindow, kHeadResizeWindow}, weights.data(),
         weights.size() * sizeof(float));

  GsBytes padAttrs;
  gsAttrS(padAttrs, "mode", "edge");
  gsNode(out, "Pad", {resize.inputs[0], base + "_pads"}, base + "_padout", base + "/pad", padAttrs);

  GsBytes convAttrs;
  const int64_t ones[2] = {1, 1}, kernel[2] = {kHeadResizeWindow, kHeadResizeWindow}, noPads[4] = {0, 0, 0, 0};
  gsAttrIs(convAttrs, "dilations", ones, 2);
  gsAttrI(convAttrs, "group", channels);
  gsAttrIs(convAttrs, "kernel_shape", kernel, 2);
  gsAttrIs(convAttrs, "pads", noPads, 4);
  gsAttrIs(convAttrs, "strides", ones, 2);
  gsNode(out, "Conv", {base + "_padout", base + "_dw_w"}, base + "_convout", base + "/dwconv", convAttrs);

  GsBytes d2sAttrs;
  gsAttrI(d2sAttrs, "blocksize", 2);
  gsAttrS(d2sAttrs, "mode", "CRD");
  gsNode(out, "DepthToSpace", {base + "_convout"}, resize.outputs[0], base + "/d2s", d2sAttrs);
  return out;
}

}  // namespace le
