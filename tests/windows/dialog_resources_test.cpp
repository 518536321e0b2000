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
#include <string>
#include <vector>

#include "plugin/dialogs/dialog_templates.h"
#include "plugin/resources/string_table.h"
#include "tests/support/test_support.h"

namespace {

using norv::ui::ControlKind;
using norv::ui::ControlTemplate;

// The Windows values the templates are written with.
constexpr std::uint32_t kWsPopup = 0x80000000, kWsChild = 0x40000000, kWsVisible = 0x10000000,
                        kWsCaption = 0x00C00000, kWsSysMenu = 0x00080000, kWsTabStop = 0x00010000;
constexpr std::uint32_t kDsModalFrame = 0x80, kDsSetFont = 0x40;
constexpr int kButton = 0x80, kEdit = 0x81, kStatic = 0x82, kComboBox = 0x85;
constexpr int kRtDialog = 5, kRtString = 6, kRtDlgInit = 240;

constexpr int kTemplateIds[] = {kAviSettingsTemplate, kCompressionOptionsTemplate,
                                kAudioSettingsTemplate, kAudioOptionsTemplate,
                                kPlaybackOptionsTemplate};

// A little-endian reader that fails the test, rather than reading past the
// end, on a truncated resource.
class Reader {
 public:
  explicit Reader(const std::vector<std::uint8_t>& bytes) : bytes_(bytes) {}
  std::size_t at = 0;
  bool ok = true;
  std::uint32_t U(int size) {
    std::uint32_t v = 0;
    if (at + static_cast<std::size_t>(size) > bytes_.size()) ok = false;
    for (int i = 0; ok && i < size; ++i) v |= std::uint32_t{bytes_[at++]} << (8 * i);
    return v;
  }
  int S16() { return static_cast<std::int16_t>(U(2)); }
  // A zero-terminated UTF-16 string, or an ordinal (0xFFFF then the number)
  // as "#number"; the templates use ASCII only.
  std::string Text() {
    std::string s;
    if (at + 2 <= bytes_.size() && bytes_[at] == 0xFF && bytes_[at + 1] == 0xFF) {
      U(2);
      return "#" + std::to_string(U(2));
    }
    for (std::uint32_t c = U(2); ok && c != 0; c = U(2)) s.push_back(c < 0x80 ? char(c) : '?');
    return s;
  }
  std::string Bytes(std::size_t count) {
    if (at + count > bytes_.size()) ok = false;
    if (!ok) return {};
    at += count;
    return std::string(bytes_.begin() + std::ptrdiff_t(at - count),
                       bytes_.begin() + std::ptrdiff_t(at));
  }

 private:
  const std::vector<std::uint8_t>& bytes_;
};

// Resources of NorvAvi.dll by type and number; empty when it cannot be read.
using Resources = std::map<std::pair<int, int>, std::vector<std::uint8_t>>;

const Resources& DllResources() {
  static const Resources resources = [] {
    Resources all;
    const char* windres = std::getenv("NORV_WINDRES");
    const char* dir = std::getenv("NORV_WINDOWS_DIR");
    if (windres == nullptr || dir == nullptr) return all;
    static norv::test::TempDir temp;
    const std::string res = temp.File("NorvAvi.res");
    int status = 0;
    const std::string out = norv::test::RunCommand(
        std::string(windres) + " -i " + dir + "/NorvAvi.dll -O res -o " + res + " 2>&1", &status);
    EXPECT_EQ(status, 0) << "windres could not read NorvAvi.dll: " << out;
    std::ifstream in(res, std::ios::binary);
    const std::vector<std::uint8_t> file{std::istreambuf_iterator<char>(in), {}};
    Reader r(file);
    while (r.ok && r.at + 8 <= file.size()) {
      const std::size_t start = r.at;
      const std::uint32_t dataSize = r.U(4), headerSize = r.U(4);
      const std::string type = r.Text(), name = r.Text();
      const std::size_t data = start + headerSize;
      if (headerSize < 16 || data + dataSize > file.size()) {
        ADD_FAILURE() << "truncated resource at " << start;
        break;
      }
      if (dataSize > 0 && type[0] == '#' && name[0] == '#')
        all[{std::stoi(type.substr(1)), std::stoi(name.substr(1))}].assign(
            file.begin() + std::ptrdiff_t(data), file.begin() + std::ptrdiff_t(data + dataSize));
      r.at = (data + dataSize + 3) & ~std::size_t{3};
    }
    return all;
  }();
  return resources;
}

// A control as one line: id, caption, rectangle, kind and the style words
// that matter for it, list items.
std::string Line(int id, const std::string& caption, std::vector<int> rect, std::string kind,
                 const std::vector<std::string>& items) {
  std::string s = std::to_string(id) + " \"" + caption + "\"";
  for (int v : rect) s += " " + std::to_string(v);
  s += " " + kind;
  for (const std::string& item : items) s += " |" + item;
  return s;
}

// What the model's kind and style ask for.
std::string ModelLine(const ControlTemplate& c) {
  static const char* const kKinds[] = {"group",   "label", "check", "push",
                                       "default", "edit",  "list",  "track"};
  auto has = [&](std::uint32_t bit) { return (c.style & bit) != 0; };
  std::string kind = kKinds[static_cast<int>(c.kind)];
  if (c.kind == ControlKind::kCheckBox && has(norv::ui::kStylePushLike)) kind += " pushlike";
  if (c.kind == ControlKind::kLabel && has(norv::ui::kStyleCentred)) kind += " centred";
  if (c.kind == ControlKind::kEdit && has(norv::ui::kStyleDigitsOnly)) kind += " digits";
  if (c.kind == ControlKind::kDropDownList && has(norv::ui::kStyleUnsorted)) kind += " unsorted";
  if (c.kind == ControlKind::kTrackBar && has(norv::ui::kStyleHorizontal)) kind += " horizontal";
  if (c.kind == ControlKind::kTrackBar && has(norv::ui::kStyleNoTicks)) kind += " noticks";
  if (has(norv::ui::kStyleHidden)) kind += " hidden";
  return Line(c.id, c.caption, {c.rect.x, c.rect.y, c.rect.width, c.rect.height}, kind, c.items);
}

// What the window class and style bits of a template's control make of it.
std::string ShownKind(const std::string& windowClass, std::uint32_t style) {
  const std::uint32_t type = style & 0xF;
  std::string kind = "class " + windowClass;
  if (windowClass == "#" + std::to_string(kButton)) {
    if (type == 7) kind = "group";
    if (type == 3) kind = (style & 0x1000) != 0 ? "check pushlike" : "check";
    if (type == 0 || type == 1) kind = type == 0 ? "push" : "default";
    if (type != 7 && (style & kWsTabStop) == 0) kind += " untabbed";
  } else if (windowClass == "#" + std::to_string(kStatic)) {
    kind = (style & 0x1F) == 0 ? "label" : (style & 0x1F) == 1 ? "label centred" : "label other";
  } else if (windowClass == "#" + std::to_string(kEdit)) {
    kind = (style & 0x2000) != 0 ? "edit digits" : "edit";
  } else if (windowClass == "#" + std::to_string(kComboBox) && (style & 3) == 3) {
    kind = (style & 0x100) == 0 ? "list unsorted" : "list";
  } else if (windowClass == "msctls_trackbar32") {
    kind = std::string("track") + ((style & 2) == 0 ? " horizontal" : "") +
           ((style & 0x10) != 0 ? " noticks" : "");
  }
  if ((style & kWsChild) == 0) kind += " unchild";
  return (style & kWsVisible) == 0 ? kind + " hidden" : kind;
}

// An extended dialog template, as the dialog manager reads it: its header
// line, then a line per control with the items its initialisation adds.
std::vector<std::string> ReadDialog(const std::vector<std::uint8_t>& bytes,
                                    const std::vector<std::uint8_t>* init) {
  static const std::vector<std::uint8_t> kNone = {0, 0};
  std::map<int, std::vector<std::string>> items;
  Reader i(init != nullptr ? *init : kNone);
  for (int id = int(i.U(2)); i.ok && id != 0; id = int(i.U(2))) {
    EXPECT_EQ(i.U(2), 0x0403u) << "control " << id << ": not an added string";
    std::string text = i.Bytes(i.U(4));
    EXPECT_TRUE(!text.empty() && text.back() == '\0') << "control " << id << ": unterminated item";
    items[id].push_back(text.substr(0, text.find('\0')));
  }
  Reader r(bytes);
  EXPECT_EQ(r.U(4), 0xFFFF0001u) << "an extended template";
  r.U(4), r.U(4);  // help, extended style
  const std::uint32_t style = r.U(4);
  const int count = int(r.U(2));
  std::vector<int> rect;
  for (int k = 0; k < 4; ++k) rect.push_back(r.S16());
  const std::string menu = r.Text(), dialogClass = r.Text(), title = r.Text();
  std::string header = menu + "|" + dialogClass + "|" + title;
  if ((style & kDsSetFont) != 0) {
    header += "|" + std::to_string(r.U(2));
    r.U(4);  // weight, italic, character set
    header += " " + r.Text();
  }
  const std::uint32_t frame = kWsPopup | kWsCaption | kWsSysMenu | kDsModalFrame;
  std::vector<std::string> lines = {
      Line(0, header, rect, (style & frame) == frame ? "" : "unframed", {})};
  for (int k = 0; k < count && r.ok; ++k) {
    r.at = (r.at + 3) & ~std::size_t{3};
    r.U(4), r.U(4);  // help, extended style
    const std::uint32_t controlStyle = r.U(4);
    std::vector<int> place;
    for (int v = 0; v < 4; ++v) place.push_back(r.S16());
    const int id = static_cast<std::int32_t>(r.U(4));
    std::string windowClass = r.Text();
    for (char& ch : windowClass)
      ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    const std::string caption = r.Text();
    r.Bytes(r.U(2));  // creation data
    lines.push_back(Line(id, caption, place, ShownKind(windowClass, controlStyle), items[id]));
  }
  EXPECT_TRUE(r.ok && i.ok) << "the template or its items are truncated";
  return lines;
}

class DialogResources : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::getenv("NORV_WINDRES") == nullptr || std::getenv("NORV_WINDOWS_DIR") == nullptr)
      GTEST_SKIP() << "NORV_WINDRES and NORV_WINDOWS_DIR are not set";
    ASSERT_FALSE(DllResources().empty()) << "no resources in NorvAvi.dll";
  }
  static const std::vector<std::uint8_t>* Find(int type, int id) {
    const auto it = DllResources().find({type, id});
    return it != DllResources().end() ? &it->second : nullptr;
  }
};

// Same controls in the same order, which is also the tab order; the lists'
// items and nothing else; no dialog the model does not know.
TEST_F(DialogResources, EveryTemplateIsTheModelsDialog) {
  int dialogs = 0;
  for (const auto& [key, bytes] : DllResources()) dialogs += key.first == kRtDialog ? 1 : 0;
  EXPECT_EQ(dialogs, std::size(kTemplateIds)) << "the DLL holds dialogs the model does not know";
  for (const int id : kTemplateIds) {
    SCOPED_TRACE("template " + std::to_string(id));
    const norv::ui::DialogTemplate& want = *FindDialogTemplate(id);
    const std::vector<std::uint8_t>* bytes = Find(kRtDialog, id);
    ASSERT_NE(bytes, nullptr) << "NorvAvi.dll has no dialog " << id;
    std::vector<std::string> lines = {
        Line(0, "||" + want.caption + "|" + std::to_string(want.fontSize) + " " + want.fontName,
             {0, 0, want.width, want.height}, "", {})};
    bool lists = false;
    for (const ControlTemplate& c : want.controls) {
      lines.push_back(ModelLine(c));
      lists = lists || !c.items.empty();
    }
    const std::vector<std::uint8_t>* init = Find(kRtDlgInit, id);
    EXPECT_EQ(init != nullptr, lists) << "list items where there are no lists, or none for them";
    EXPECT_EQ(ReadDialog(*bytes, init), lines);
  }
}

// A string-table resource as LoadString reads it: block n holds the numbers
// 16 (n - 1) to 16 (n - 1) + 15, each a length and that many UTF-16 units;
// length 0 is no entry.
TEST_F(DialogResources, StringTableIsTheModelsTable) {
  std::map<int, std::string> got;
  for (const auto& [key, bytes] : DllResources()) {
    if (key.first != kRtString) continue;
    Reader r(bytes);
    for (int i = 0; i < 16 && r.ok; ++i) {
      std::string text;
      for (std::uint32_t n = r.U(2); r.ok && n > 0; --n) {
        const std::uint32_t c = r.U(2);
        text.push_back(c < 0x80 ? char(c) : '?');
      }
      if (!text.empty()) got[16 * (key.second - 1) + i] = text;
    }
    EXPECT_TRUE(r.ok) << "string block " << key.second << " is truncated";
  }
  // Every number a block of the DLL can hold, and the model's numbers.
  std::map<int, std::string> want;
  for (int id = 0; id < 16 * 64; ++id)
    if (const char* text = LoadStringEntry(id)) want[id] = text;
  EXPECT_FALSE(want.empty());
  EXPECT_EQ(got, want);
}

}  // namespace
