// The image library's colour reduction through libimagequant.
#include <libimagequant.h>

#include "hoststub/quantise.h"

namespace norv::host {

static_assert(sizeof(liq_color) == sizeof(Rgba));

bool QuantiseImage(const std::vector<Rgba>& pixels, int width, int height, int colors,
                   Quantised* out) {
  liq_attr* attr = liq_attr_create();
  if (attr == nullptr) return false;
  bool ok = false;
  liq_result* result = nullptr;
  liq_image* input = nullptr;
  std::vector<std::uint8_t> indices(pixels.size());
  if (liq_set_max_colors(attr, colors) == LIQ_OK) {
    input = liq_image_create_rgba(attr, pixels.data(), width, height, 0);
  }
  if (input != nullptr && liq_image_quantize(input, attr, &result) == LIQ_OK) {
    liq_set_dithering_level(result, 0.0f);
    if (liq_write_remapped_image(result, input, indices.data(), indices.size()) == LIQ_OK) {
      const liq_palette* palette = liq_get_palette(result);
      out->palette.clear();
      for (unsigned i = 0; i < palette->count; ++i) {
        const liq_color& c = palette->entries[i];
        out->palette.push_back(Rgba{c.r, c.g, c.b, c.a});
      }
      out->indices = std::move(indices);
      ok = true;
    }
  }
  if (result != nullptr) liq_result_destroy(result);
  if (input != nullptr) liq_image_destroy(input);
  liq_attr_destroy(attr);
  return ok;
}

}  // namespace norv::host
