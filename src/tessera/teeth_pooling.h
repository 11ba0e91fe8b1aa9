// Average pooling of float planes by an integer factor, shared by the coarse retrieval index and
// the blend head.
#pragma once

namespace le::tessera {

// Each of `planes` planes of height x width becomes (height / factor) x (width / factor): every
// output the mean of its factor x factor block, summed row by row in float; the remainder rows
// and columns are dropped.
void averagePool(const float* in, int planes, int height, int width, int factor, float* out);

}  // namespace le::tessera
