// The image library: not available yet.
#include "plugin/host/host_api.h"

extern "C" {

std::int32_t ImageFromDib(const void*) {
  return -1;
}
std::int32_t ReduceColors(std::int32_t, std::int32_t, std::int32_t, std::int32_t) {
  return -1;
}
HPALETTE ImagePalette(std::int32_t) {
  return nullptr;
}
HGLOBAL ImageToDib(std::int32_t, std::uint32_t*, std::uint32_t*, std::uint32_t*) {
  return nullptr;
}
std::int32_t ReleaseImage(std::int32_t) {
  return 0;
}
}
