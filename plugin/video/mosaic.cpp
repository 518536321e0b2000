// The 4 x 4 mosaic of sampled frames that the optimum palette is built from.
#include <cstring>

#include "plugin/image/dib_image.h"
#include "plugin/video/palettes.h"

int PlaceMosaicTile(HGLOBAL* sample, HGLOBAL* mosaic, int tile) {
  if (tile < 0 || tile > 15) return 0;
  DibImage source(sample);
  DibImage target(mosaic);
  if (source.Handle() == nullptr || target.Refresh() != DibImage::kOk) return -1;
  // Resizing works on a copy: the sample stays as the host rendered it.
  HGLOBAL copySlot = nullptr;
  DibImage copy(&copySlot);
  const std::int32_t tileWidth = target.Width() / 4;
  const std::int32_t tileHeight = target.Height() / 4;
  if (copy.Assign(source) != DibImage::kOk || copy.Resize(tileWidth, tileHeight) != DibImage::kOk) {
    copy.Free();
    return -1;
  }
  const std::uint8_t* from = copy.Bits();
  std::uint8_t* to = target.Bits();
  if (from != nullptr && to != nullptr) {
    const std::int32_t left = (tile % 4) * tileWidth;
    const std::int32_t bottom = (tile / 4) * tileHeight;
    for (std::int32_t y = 0; y < tileHeight; ++y) {
      std::memcpy(to + target.PixelOffset(left, bottom + y), from + copy.PixelOffset(0, y),
                  3 * static_cast<std::size_t>(tileWidth));
    }
  }
  if (to != nullptr) target.Unlock();
  if (from != nullptr) copy.Unlock();
  copy.Free();
  return from != nullptr && to != nullptr ? 0 : -1;
}
