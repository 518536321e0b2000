#include "platform/ui/dialog_binding.h"

#include <atomic>

namespace norv::ui {
namespace {
std::atomic<DialogBinding*> g_binding{nullptr};
}

void SetDialogBinding(DialogBinding* binding) {
  g_binding.store(binding);
}

DialogBinding* CurrentDialogBinding() {
  return g_binding.load();
}

ScreenRect DialogUnitsToPixels(const DialogRect& rect) {
  constexpr int kBaseX = 6;
  constexpr int kBaseY = 13;
  const int left = rect.x * kBaseX / 4;
  const int top = rect.y * kBaseY / 8;
  return {left, top, left + rect.width * kBaseX / 4, top + rect.height * kBaseY / 8};
}

}  // namespace norv::ui
