// Without libimagequant the image library reduces colours by median cut.
#include "hoststub/quantise.h"

namespace norv::host {

bool QuantiseImage(const std::vector<Rgba>& pixels, int, int, int colors, Quantised* out) {
  return MedianCut(pixels, colors, out);
}

}  // namespace norv::host
