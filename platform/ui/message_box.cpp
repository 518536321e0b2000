#include "platform/ui/message_box.h"

#include <cstdio>
#include <mutex>

namespace {

std::mutex g_mutex;
NorvMessageSink g_sink = nullptr;
void* g_context = nullptr;

}  // namespace

void NorvSetMessageSink(NorvMessageSink sink, void* context) {
  std::lock_guard lock(g_mutex);
  g_sink = sink;
  g_context = context;
}

int MessageBoxA(HWND, const char* text, const char* caption, UINT type) {
  NorvMessageSink sink;
  void* context;
  {
    std::lock_guard lock(g_mutex);
    sink = g_sink;
    context = g_context;
  }
  if (sink != nullptr) return sink(context, text, caption, type);
  std::fprintf(stderr, "%s%s%s\n", caption != nullptr ? caption : "",
               caption != nullptr ? ": " : "", text != nullptr ? text : "");
  return IDOK;
}

int FrameworkMessageBox(const char* text, UINT type) {
  return MessageBoxA(nullptr, text, nullptr, type);
}
