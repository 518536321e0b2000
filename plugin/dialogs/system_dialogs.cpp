#include "plugin/dialogs/system_dialogs.h"

#include "platform/ui/dialog_binding.h"
#if defined(_WIN32)
#include "platform/ui/win32/win32_binding.h"
#include "plugin/resources/resource_module.h"
#endif

void UseSystemDialogsUnlessBound() {
#if defined(_WIN32)
  // Templates come from the resource module of the moment, which the
  // settings entry points switch to this one.
  static norv::ui::Win32Binding binding(&CurrentResourceModule);
  if (norv::ui::CurrentDialogBinding() == nullptr) norv::ui::SetDialogBinding(&binding);
#endif
}
