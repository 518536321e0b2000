// The dialog templates inside the built NorvAvi.dll, read back out of it with
// windres, against the control model's table: on Windows the dialog manager
// makes the windows from the one while the logic runs over the other, so
// every dialog, control, rectangle, caption, style and list item must agree.
// Likewise the DLL's string table, from which Windows loads the words,
// against the table that answers on Linux.
//
// Run by ctest after windows.build, with NORV_WINDRES (the MinGW windres)
// and NORV_WINDOWS_DIR (the Windows build folder) set.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "plugin/dialogs/dialog_templates.h"
#include "plugin/resources/string_table.h"
#include "tests/support/test_support.h"

namespace {

using norv::test::RunCommand;
using norv::test::TempDir;
using norv::ui::ControlKind;
using norv::ui::ControlTemplate;
using norv::ui::DialogTemplate;

// The Windows values the templates are written with.
constexpr std::uint32_t kWsPopup = 0x80000000, kWsChild = 0x40000000, kWsVisible = 0x10000000,
                        kWsCaption = 0x00C00000, kWsSysMenu = 0x00080000, kWsTabStop = 0x00010000;
constexpr std::uint32_t kDsModalFrame = 0x80, kDsSetFont = 0x40;
constexpr std::uint32_t kBsPushButton = 0, kBsDefPushButton = 1, kBsAutoCheckBox = 3,
                        kBsGroupBox = 7, kBsPushLike = 0x1000;
constexpr std::uint32_t kSsLeft = 0, kSsCenter = 1;
constexpr std::uint32_t kEsNumber = 0x2000;
constexpr std::uint32_t kCbsDropDownList = 3, kCbsSort = 0x100;
constexpr std::uint32_t kTbsVert = 2, kTbsNoTicks = 0x10;
constexpr int kRtDialog = 5, kRtString = 6, kRtDlgInit = 240;
constexpr std::uint16_t kDlgInitAddString = 0x0403;

constexpr int kTemplateIds[] = {kAviSettingsTemplate, kCompressionOptionsTemplate,
                                kAudioSettingsTemplate, kAudioOptionsTemplate,
                                kPlaybackOptionsTemplate};

// A little-endian reader that fails the test, rather than reading past the
// end, on a truncated resource.
class Reader {
 public:
  explicit Reader(const std::vector<std::uint8_t>& bytes) : bytes_(bytes) {}
  std::size_t at() const { return at_; }
  bool ok() const { return ok_; }
  void Align4() { at_ = (at_ + 3) & ~std::size_t{3}; }
  void Seek(std::size_t at) { at_ = at; }
  std::uint32_t U(int size) {
    if (at_ + static_cast<std::size_t>(size) > bytes_.size()) {
      ok_ = false;
      return 0;
    }
    std::uint32_t v = 0;
    for (int i = 0; i < size; ++i)
      v |= std::uint32_t{bytes_[at_ + static_cast<std::size_t>(i)]} << (8 * i);
    at_ += static_cast<std::size_t>(size);
    return v;
  }
  std::uint16_t U16() { return static_cast<std::uint16_t>(U(2)); }
  std::uint32_t U32() { return U(4); }
  std::int16_t S16() { return static_cast<std::int16_t>(U16()); }
  // A zero-terminated UTF-16 string; the templates use ASCII only.
  std::string Text() {
    std::string s;
    for (std::uint16_t c = U16(); ok_ && c != 0; c = U16())
      s.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    return s;
  }
  // An ordinal (0xFFFF then the number) or a string.
  std::string TextOrOrdinal(int* ordinal) {
    *ordinal = -1;
    if (at_ + 2 <= bytes_.size() && bytes_[at_] == 0xFF && bytes_[at_ + 1] == 0xFF) {
      U16();
      *ordinal = U16();
      return {};
    }
    return Text();
  }
  std::string Bytes(std::size_t count) {
    if (at_ + count > bytes_.size()) {
      ok_ = false;
      return {};
    }
    std::string s(bytes_.begin() + static_cast<std::ptrdiff_t>(at_),
                  bytes_.begin() + static_cast<std::ptrdiff_t>(at_ + count));
    at_ += count;
    return s;
  }

 private:
  const std::vector<std::uint8_t>& bytes_;
  std::size_t at_ = 0;
  bool ok_ = true;
};

// Resources of a .res file by type and number.
using Resources = std::map<std::pair<int, int>, std::vector<std::uint8_t>>;

Resources ReadResFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<std::uint8_t> file{std::istreambuf_iterator<char>(in), {}};
  Resources resources;
  Reader r(file);
  while (r.ok() && r.at() + 8 <= file.size()) {
    const std::size_t start = r.at();
    const std::uint32_t dataSize = r.U32();
    const std::uint32_t headerSize = r.U32();
    int type = -1, name = -1;
    r.TextOrOrdinal(&type);
    r.TextOrOrdinal(&name);
    const std::size_t data = start + headerSize;
    if (headerSize < 16 || data + dataSize > file.size()) {
      ADD_FAILURE() << "truncated resource at " << start;
      break;
    }
    if (dataSize > 0 && type >= 0 && name >= 0)
      resources[{type, name}].assign(file.begin() + static_cast<std::ptrdiff_t>(data),
                                     file.begin() + static_cast<std::ptrdiff_t>(data + dataSize));
    r.Seek((data + dataSize + 3) & ~std::size_t{3});
  }
  return resources;
}

struct ShownControl {
  std::uint32_t style = 0;
  int x = 0, y = 0, width = 0, height = 0;
  int id = 0;
  int classOrdinal = -1;
  std::string className;
  std::string caption;
};

struct ShownDialog {
  std::uint32_t style = 0;
  int x = 0, y = 0, width = 0, height = 0;
  std::string caption;
  int fontSize = 0;
  std::string fontName;
  std::vector<ShownControl> controls;
};

// An extended dialog template, as the dialog manager reads it.
ShownDialog ReadDialog(const std::vector<std::uint8_t>& bytes) {
  ShownDialog d;
  Reader r(bytes);
  EXPECT_EQ(r.U16(), 1) << "version";
  EXPECT_EQ(r.U16(), 0xFFFF) << "an extended template";
  r.U32();  // help
  r.U32();  // extended style
  d.style = r.U32();
  const int count = r.U16();
  d.x = r.S16(), d.y = r.S16(), d.width = r.S16(), d.height = r.S16();
  int ordinal = 0;
  EXPECT_EQ(r.TextOrOrdinal(&ordinal), "") << "menu";
  EXPECT_EQ(r.TextOrOrdinal(&ordinal), "") << "window class";
  d.caption = r.Text();
  if ((d.style & kDsSetFont) != 0) {
    d.fontSize = r.U16();
    r.U16();  // weight
    r.U16();  // italic, character set
    d.fontName = r.Text();
  }
  for (int i = 0; i < count && r.ok(); ++i) {
    ShownControl c;
    r.Align4();
    r.U32();  // help
    r.U32();  // extended style
    c.style = r.U32();
    c.x = r.S16(), c.y = r.S16(), c.width = r.S16(), c.height = r.S16();
    c.id = static_cast<std::int32_t>(r.U32());
    c.className = r.TextOrOrdinal(&c.classOrdinal);
    for (char& ch : c.className)
      ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    int titleOrdinal = 0;
    c.caption = r.TextOrOrdinal(&titleOrdinal);
    r.Bytes(r.U16());  // creation data
    d.controls.push_back(c);
  }
  EXPECT_TRUE(r.ok()) << "the template is truncated";
  return d;
}

// The list items a dialog-initialisation resource adds, by control.
std::map<int, std::vector<std::string>> ReadListItems(const std::vector<std::uint8_t>& bytes) {
  std::map<int, std::vector<std::string>> items;
  Reader r(bytes);
  for (int id = r.U16(); r.ok() && id != 0; id = r.U16()) {
    EXPECT_EQ(r.U16(), kDlgInitAddString) << "control " << id;
    const std::uint32_t length = r.U32();
    std::string text = r.Bytes(length);
    EXPECT_TRUE(!text.empty() && text.back() == '\0') << "control " << id << ": unterminated item";
    if (!text.empty()) text.pop_back();
    items[id].push_back(text);
  }
  EXPECT_TRUE(r.ok()) << "the item list has no end";
  return items;
}

// A string-table resource as LoadString reads it: block n holds the numbers
// 16 (n - 1) to 16 (n - 1) + 15, each a length and that many UTF-16 units;
// length 0 is no entry.
void ReadStringBlock(int block, const std::vector<std::uint8_t>& bytes,
                     std::map<int, std::string>* entries) {
  Reader r(bytes);
  for (int i = 0; i < 16 && r.ok(); ++i) {
    const int length = r.U16();
    std::string text;
    for (int k = 0; k < length; ++k) {
      const std::uint16_t c = r.U16();
      text.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    }
    if (length > 0) (*entries)[16 * (block - 1) + i] = text;
  }
  EXPECT_TRUE(r.ok()) << "string block " << block << " is truncated";
}

// What the template's kind and style bits become in a control's window.
void ExpectSameControl(const ControlTemplate& want, const ShownControl& got) {
  SCOPED_TRACE("control " + std::to_string(want.id) + " \"" + want.caption + "\"");
  EXPECT_EQ(got.id, want.id);
  EXPECT_EQ(got.caption, want.caption);
  EXPECT_EQ((std::vector<int>{got.x, got.y, got.width, got.height}),
            (std::vector<int>{want.rect.x, want.rect.y, want.rect.width, want.rect.height}));
  EXPECT_NE(got.style & kWsChild, 0u);
  EXPECT_EQ((got.style & kWsVisible) != 0, (want.style & norv::ui::kStyleHidden) == 0);
  constexpr int kButton = 0x80, kEdit = 0x81, kStatic = 0x82, kComboBox = 0x85;
  const std::uint32_t type = got.style & 0xF;
  switch (want.kind) {
    case ControlKind::kGroupBox:
      EXPECT_EQ(got.classOrdinal, kButton);
      EXPECT_EQ(type, kBsGroupBox);
      break;
    case ControlKind::kLabel:
      EXPECT_EQ(got.classOrdinal, kStatic);
      EXPECT_EQ(got.style & 0x1F,
                (want.style & norv::ui::kStyleCentred) != 0 ? kSsCenter : kSsLeft);
      break;
    case ControlKind::kCheckBox:
      EXPECT_EQ(got.classOrdinal, kButton);
      EXPECT_EQ(type, kBsAutoCheckBox);
      EXPECT_EQ((got.style & kBsPushLike) != 0, (want.style & norv::ui::kStylePushLike) != 0);
      EXPECT_NE(got.style & kWsTabStop, 0u);
      break;
    case ControlKind::kPushButton:
    case ControlKind::kDefaultPushButton:
      EXPECT_EQ(got.classOrdinal, kButton);
      EXPECT_EQ(type,
                want.kind == ControlKind::kDefaultPushButton ? kBsDefPushButton : kBsPushButton);
      EXPECT_NE(got.style & kWsTabStop, 0u);
      break;
    case ControlKind::kEdit:
      EXPECT_EQ(got.classOrdinal, kEdit);
      EXPECT_EQ((got.style & kEsNumber) != 0, (want.style & norv::ui::kStyleDigitsOnly) != 0);
      break;
    case ControlKind::kDropDownList:
      EXPECT_EQ(got.classOrdinal, kComboBox);
      EXPECT_EQ(got.style & 3, kCbsDropDownList);
      EXPECT_EQ((got.style & kCbsSort) == 0, (want.style & norv::ui::kStyleUnsorted) != 0);
      break;
    case ControlKind::kTrackBar:
      EXPECT_EQ(got.className, "msctls_trackbar32");
      EXPECT_EQ((got.style & kTbsVert) == 0, (want.style & norv::ui::kStyleHorizontal) != 0);
      EXPECT_EQ((got.style & kTbsNoTicks) != 0, (want.style & norv::ui::kStyleNoTicks) != 0);
      break;
  }
}

class DialogResources : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    const char* windres = std::getenv("NORV_WINDRES");
    const char* dir = std::getenv("NORV_WINDOWS_DIR");
    if (windres == nullptr || dir == nullptr) return;
    static TempDir temp;
    const std::string res = temp.File("NorvAvi.res");
    int status = 0;
    const std::string out = RunCommand(
        std::string(windres) + " -i " + dir + "/NorvAvi.dll -O res -o " + res + " 2>&1", &status);
    if (status != 0) {
      error_ = "windres could not read NorvAvi.dll: " + out;
      return;
    }
    resources_ = std::make_unique<Resources>(ReadResFile(res));
  }
  void SetUp() override {
    if (!error_.empty()) FAIL() << error_;
    if (resources_ == nullptr) GTEST_SKIP() << "NORV_WINDRES and NORV_WINDOWS_DIR are not set";
  }
  static const std::vector<std::uint8_t>* Find(int type, int id) {
    const auto it = resources_->find({type, id});
    return it != resources_->end() ? &it->second : nullptr;
  }

  static inline std::unique_ptr<Resources> resources_;
  static inline std::string error_;
};

TEST_F(DialogResources, EveryTemplateIsTheModelsDialog) {
  for (const int id : kTemplateIds) {
    SCOPED_TRACE("template " + std::to_string(id));
    const DialogTemplate& want = *FindDialogTemplate(id);
    const std::vector<std::uint8_t>* bytes = Find(kRtDialog, id);
    ASSERT_NE(bytes, nullptr) << "NorvAvi.dll has no dialog " << id;
    const ShownDialog got = ReadDialog(*bytes);
    EXPECT_EQ(got.caption, want.caption);
    EXPECT_EQ((std::vector<int>{got.x, got.y, got.width, got.height}),
              (std::vector<int>{0, 0, want.width, want.height}));
    EXPECT_EQ(got.fontName, want.fontName);
    EXPECT_EQ(got.fontSize, want.fontSize);
    EXPECT_EQ(got.style & (kWsPopup | kWsCaption | kWsSysMenu | kDsModalFrame),
              kWsPopup | kWsCaption | kWsSysMenu | kDsModalFrame);
    // Same controls in the same order, which is also the tab order.
    ASSERT_EQ(got.controls.size(), want.controls.size());
    for (std::size_t i = 0; i < want.controls.size(); ++i)
      ExpectSameControl(want.controls[i], got.controls[i]);
  }
}

TEST_F(DialogResources, ListItemsAndNothingElse) {
  int dialogs = 0;
  for (const auto& [key, bytes] : *resources_) dialogs += key.first == kRtDialog ? 1 : 0;
  EXPECT_EQ(dialogs, std::size(kTemplateIds)) << "the DLL holds dialogs the model does not know";

  for (const int id : kTemplateIds) {
    SCOPED_TRACE("template " + std::to_string(id));
    std::map<int, std::vector<std::string>> want;
    for (const ControlTemplate& c : FindDialogTemplate(id)->controls)
      if (!c.items.empty()) want[c.id] = c.items;
    const std::vector<std::uint8_t>* bytes = Find(kRtDlgInit, id);
    if (want.empty()) {
      EXPECT_EQ(bytes, nullptr) << "items for a dialog without lists";
      continue;
    }
    ASSERT_NE(bytes, nullptr) << "the lists' items are missing";
    EXPECT_EQ(ReadListItems(*bytes), want);
  }
}

TEST_F(DialogResources, StringTableIsTheModelsTable) {
  std::map<int, std::string> got;
  for (const auto& [key, bytes] : *resources_)
    if (key.first == kRtString) ReadStringBlock(key.second, bytes, &got);
  // Every number a block of the DLL can hold, and the model's numbers.
  std::map<int, std::string> want;
  for (int id = 0; id < 16 * 64; ++id)
    if (const char* text = LoadStringEntry(id)) want[id] = text;
  EXPECT_FALSE(want.empty());
  EXPECT_EQ(got, want);
}

}  // namespace
