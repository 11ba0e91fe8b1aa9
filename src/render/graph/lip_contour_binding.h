// The load-time rewrite that bounds the director's compose alpha by the lip contour: a graph input
// `lip_delivery` and a Min node make the compose blend with min(alpha, lip_delivery), so that the
// renderer can rasterise the tight lip outline per frame in place of the graph's own ellipse.
#pragma once

#include <string>

#include "render/graph/onnx_proto_writer.h"

namespace le {

inline constexpr const char* kLipDeliveryInput = "lip_delivery";
inline constexpr const char* kLipDeliveryMinNode = "tessera_lipdel_min";
inline constexpr const char* kLipDeliveryAlpha = "tessera_lipdel_alpha";

// Rewires the compose tail (Add of a Mul by the alpha and a Mul by Sub(1, alpha), the alpha made by
// a Clip) to read min(alpha, lip_delivery), adds the input [batch, 1, canvas, canvas] and checks the
// result. On success the bytes are replaced, *canvas receives the compose canvas (the height of
// P_rgb) and *second its width. On failure the bytes are unchanged and reason says why. Malformed
// bytes throw the reader's "onnx: ..." errors.
bool rewriteBindLipContour(GsBytes& model, std::string& reason, int* canvas, int* second);

}  // namespace le
