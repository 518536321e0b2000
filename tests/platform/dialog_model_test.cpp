// The control model and the scripted binding: what reaches the handlers and
// in which order, what a user can and cannot do, and how a dialog ends.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/ui/message_box.h"
#include "platform/ui/scripted_binding.h"

namespace {

using norv::ui::ControlKind;
using norv::ui::Dialog;
using norv::ui::Notification;

norv::ui::DialogTemplate Sample() {
  return {.id = 900,
          .caption = "Sample",
          .controls = {
              {norv::ui::kNoId, ControlKind::kLabel, "Name:", {1, 1, 10, 8}},
              {10, ControlKind::kEdit, "", {12, 1, 20, 12}, norv::ui::kStyleDigitsOnly},
              {11, ControlKind::kEdit, "", {12, 15, 20, 12}},
              {12, ControlKind::kCheckBox, "Tick", {1, 30, 20, 10}},
              {13, ControlKind::kDropDownList, "", {1, 45, 40, 50}, 0, {"a", "b"}},
              {14, ControlKind::kTrackBar, "", {1, 60, 40, 11}},
              {15, ControlKind::kPushButton, "Hidden", {1, 75, 20, 12}, norv::ui::kStyleHidden},
              {Dialog::kOk, ControlKind::kDefaultPushButton, "OK", {1, 90, 20, 12}},
              {Dialog::kCancel, ControlKind::kPushButton, "Cancel", {30, 90, 20, 12}},
          }};
}

// Logs every notification it gets, and writes edit 11 from edit 10's handler
// the way the real dialogs do (so the write's own notification shows up too).
class LoggingDialog : public Dialog {
 public:
  LoggingDialog() : Dialog(Sample()) {}
  std::vector<std::string> log;
  int inits = 0;

 protected:
  void BindControls() override {
    Bind(10, Notification::kTextChanged, [this] {
      log.push_back("text10=" + Text(10));
      SetText(11, Text(10) + "!");
    });
    Bind(11, Notification::kTextChanged, [this] { log.push_back("text11=" + Text(11)); });
    Bind(10, Notification::kFocusLost, [this] { log.push_back("lost10"); });
    Bind(12, Notification::kClicked,
         [this] { log.push_back(IsChecked(12) ? "ticked" : "unticked"); });
    Bind(13, Notification::kSelectionChanged,
         [this] { log.push_back("sel=" + std::to_string(Selection(13))); });
    Bind(14, Notification::kScrolled,
         [this] { log.push_back("pos=" + std::to_string(Position(14))); });
  }
  void OnInitDialog() override {
    ++inits;
    SetTextLimit(10, 2);
    SetRange(14, 1, 9);
  }
};

// What a user does reaches the handlers in order; what a user cannot do is
// recorded as an error and refused; menus, choosers and messages are
// answered from their queues. Without a binding a dialog is initialised and
// cancelled.
TEST(DialogModel, UserActionsReachTheHandlersInOrderAndTheImpossibleAreRefused) {
  ASSERT_EQ(norv::ui::CurrentDialogBinding(), nullptr);
  LoggingDialog unbound;
  EXPECT_EQ(unbound.DoModal(), Dialog::kCancel);
  EXPECT_EQ(unbound.inits, 1);
  EXPECT_EQ(unbound.TrackPopupMenu({}, {}, 0), 0);
  norv::ui::ScriptedBinding binding;
  binding.AnswerMenu(7);
  binding.AnswerMenu(99);  // not in the menu: dismissed, and an error
  binding.AnswerChooser("/tmp/x.pal");
  binding.AnswerMessage(IDCANCEL);
  LoggingDialog dialog;
  binding.Expect(900, [](norv::ui::ScriptedUser& user) {
    EXPECT_TRUE(user.Type(10, "57"));
    EXPECT_TRUE(user.Click(12));
    EXPECT_TRUE(user.Select(13, 1));
    EXPECT_TRUE(user.Scroll(14, 40));  // kept within 1..9
    EXPECT_EQ(user.Position(14), 9);
    EXPECT_FALSE(user.Click(15));        // hidden
    EXPECT_FALSE(user.Type(10, "4x"));   // digits only
    EXPECT_FALSE(user.Type(10, "123"));  // limit of two characters
    EXPECT_EQ(user.Text(10), "12");
    user.dialog().EnableControl(12, false);
    EXPECT_FALSE(user.Click(12));
    EXPECT_FALSE(user.Select(13, 2));
    EXPECT_TRUE(user.Type(11, "x"));
    EXPECT_TRUE(user.TabAway());  // from 11 over the disabled box to the list
    EXPECT_EQ(user.dialog().focus(), 13);

    norv::ui::PopupMenu menu;
    menu.Append(7, "Seven");
    menu.AppendSeparator();
    EXPECT_EQ(user.dialog().TrackPopupMenu(menu, {5, 6}, norv::ui::kTrackRightButton), 7);
    EXPECT_EQ(user.dialog().TrackPopupMenu(menu, {5, 6}, 0), 0);
    norv::ui::OpenFileRequest request;
    int inits = 0;
    request.onInit = [&](HWND frame, HWND self) {
      EXPECT_NE(frame, self);
      ++inits;
    };
    EXPECT_TRUE(user.dialog().ChooseOpenFile(request));
    EXPECT_EQ(request.path, "/tmp/x.pal");
    EXPECT_EQ(inits, 1);
    EXPECT_FALSE(user.dialog().ChooseOpenFile(request));  // nothing queued: cancelled
    EXPECT_EQ(MessageBoxA(user.dialog().window(), "Hello", "", MB_OKCANCEL), IDCANCEL);
    EXPECT_TRUE(user.Click(Dialog::kOk));
  });
  EXPECT_EQ(dialog.DoModal(), Dialog::kOk);
  // "4x" is typed up to the letter; "123" up to the limit.
  const std::vector<std::string> expected = {"text10=5",  "text11=5!",  "text10=57", "text11=57!",
                                             "lost10",    "ticked",     "sel=1",     "pos=9",
                                             "text10=4",  "text11=4!",  "text10=1",  "text11=1!",
                                             "text10=12", "text11=12!", "lost10",    "text11=x"};
  EXPECT_EQ(dialog.log, expected);
  EXPECT_EQ(binding.errors().size(), 5u);  // 15, "4x", 12, item 2, menu item 99
  EXPECT_EQ(binding.opened(), std::vector<int>{900});
  EXPECT_EQ(binding.menus().size(), 2u);  // where and how: SettingsDialogs
  EXPECT_EQ(binding.choosers().size(), 2u);
  EXPECT_EQ(binding.messages(), std::vector<std::string>{"Hello"});
}

}  // namespace
