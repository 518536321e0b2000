#include "plugin/io/message.h"

#include "platform/ui/message_box.h"

void ShowMessage(const char* text) {
  FrameworkMessageBox(text, MB_OK);
}
