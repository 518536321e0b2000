// The settings dialogs walked as a user would, through FileTypeLaunchSettings
// of the loaded module and the scripted binding. After every step the whole
// state of the dialog (each control's enabled, shown, text, check, selection
// and items) is compared with the expected state, kept as text: a baseline
// per dialog and the lines each step changes. Then the record the dialog left.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "hoststub/norv_host.h"
#include "platform/ui/scripted_binding.h"
#include "plugin/dialogs/dialog_templates.h"
#include "plugin/host/host_api.h"
#include "tests/support/plugin_fixture.h"
#include "tests/support/scripted_compressor.h"

namespace {

using namespace norv::test;
using norv::ui::ControlKind;
using norv::ui::ScriptedBinding;
using norv::ui::ScriptedUser;
using Lines = std::vector<std::string>;

const DWORD kHandlerA = MakeFourCC("SCRA");
const DWORD kHandlerB = MakeFourCC("SCRB");
const DWORD kHandlerC = MakeFourCC("SCRC");
const std::string kScripted = "Scripted test compressor ";
// The compressor rows: "No Compression", then those the test installed
// (sorted: a built-in one replaced keeps its place only the first time).
std::string Rows(const std::string& installed = "") {
  return "compressor[] No Compression" + installed;
}

// What choosing a compressor that takes 24-bit frames and a data rate shows.
Lines Chosen(const std::string& row) {
  return {"compressor " + row, "options", "colour 24 Bits", "colour[] 24 Bits=24",
          "dataRate Default"};
}

// The controls each dialog's state is made of, by the names the steps use.
const std::map<int, std::vector<std::pair<int, std::string>>> kControls = {
    {kAviSettingsTemplate,
     {{kHardwareGroup, "hwGroup"},
      {kHardwareEnable, "hw"},
      {kHardwareOptions, "hwOptions"},
      {kFrameRateList, "rate"},
      {kWidthEdit, "width"},
      {kHeightEdit, "height"},
      {kLockAspect, "lock"},
      {kAspectXEdit, "aspectX"},
      {kAspectYEdit, "aspectY"},
      {kCompressorList, "compressor"},
      {kCompressionOptions, "options"},
      {kColourList, "colour"},
      {kPaletteButton, "palette"},
      {kDataRateList, "dataRate"},
      {kPlaybackOptions, "playback"},
      {kFieldHandlingList, "field"},
      {kSubPixel, "subPixel"},
      {kCropping, "cropping"},
      {kDvReverse, "dvReverse"},
      {kAudioGroup, "audioGroup"},
      {kAudioEnable, "audio"},
      {kAudioSettingsButton, "audioSettings"},
      {kAudioOptionsButton, "audioOptions"},
      {kUnusedPresetButton, "unused"},
      {kLoadPreset, "load"},
      {kSavePreset, "save"}}},
    {kCompressionOptionsTemplate,
     {{kQualityTrack, "quality"},
      {kQualityLabel, "qualityLabel"},
      {kKeyFrameTrack, "keys"},
      {kKeyFrameLabel, "keysLabel"},
      {kConfigure, "configure"}}},
    {kAudioSettingsTemplate,
     {{kSampleSizeList, "bits"},
      {kSampleRateList, "rate"},
      {kChannelsList, "channels"},
      {kAudioPresetButton, "preset"}}},
    {kAudioOptionsTemplate, {{kInterleaveTrack, "track"}, {kInterleaveLabel, "label"}}},
    {kPlaybackOptionsTemplate, {{kDataRateTrack, "track"}, {kDataRateLabel, "label"}}},
};

// Each dialog as it opens on the fixture's record: defaults, a project, no hardware.
const std::map<int, Lines> kBaselines = {
    {kAviSettingsTemplate,
     {"caption AVI Settings",
      "hwGroup off hidden",
      "hw off hidden [ ]",
      "hwOptions off hidden",
      "rate 25",
      "rate[] 30|29.97|25|24|15|12|10|8|6|5|4|3|2|1",
      "width 160",
      "height 120",
      "lock [ ]",
      "aspectX off 4",
      "aspectY off 3",
      "compressor No Compression",
      Rows(),
      "options off",
      "colour 24 Bits",
      "colour[] 8 Bits, 3-3-2 Bits=80|8 Bits, 6-6-6 Levels=81|8 Bits, 6-7-6 Levels=82|"
      "8 Bits, Common Optimum=83|8 Bits, User Select Palette=84|24 Bits=24",
      "palette off",
      "dataRate off Default",
      "dataRate[] Default|800 KB/Sec=800|700 KB/Sec=700|600 KB/Sec=600|500 KB/Sec=500|"
      "400 KB/Sec=400|300 KB/Sec=300|150 KB/Sec=150|Custom Option",
      "playback off",
      "field Frame",
      "field[] Frame|Interlaced, Fld Order A|Interlaced, Fld Order B|Field 1|Field 2",
      "subPixel [ ]",
      "cropping",
      "dvReverse [ ]",
      "audioGroup",
      "audio [x]",
      "audioSettings",
      "audioOptions",
      "unused hidden",
      "load",
      "save"}},
    {kCompressionOptionsTemplate,
     {"caption Compression Options", "quality 75 0..100", "qualityLabel 75", "keys 4 1..999",
      "keysLabel 4", "configure"}},
    {kAudioSettingsTemplate,
     {"caption Audio Settings", "bits 16", "bits[] 8=8|16=16", "rate 44100",
      "rate[] 11025=11025|22050=22050|32000=32000|44100=44100|48000=48000",
      "channels Stereo, 2 Channels", "channels[] Mono, 1 Channel=1|Stereo, 2 Channels=2",
      "preset"}},
    {kAudioOptionsTemplate, {"caption Audio Options", "track 30 1..999", "label 30"}},
    {kPlaybackOptionsTemplate, {"caption Playback Options", "track 1 1..8000", "label 1"}},
};

std::string Key(const std::string& line) {
  return line.substr(0, line.find(' '));
}

// `base` with each change replacing the line that starts with the same word.
Lines With(Lines base, const Lines& changes) {
  for (const std::string& change : changes) {
    auto at = std::find_if(base.begin(), base.end(),
                           [&](const std::string& l) { return Key(l) == Key(change); });
    if (at == base.end()) {
      ADD_FAILURE() << "no line for " << change;
    } else {
      *at = change;
    }
  }
  return base;
}

std::string Join(const Lines& lines) {
  std::string text;
  for (const std::string& l : lines) text += l + "\n";
  return text;
}

std::string Shorter(std::string text) {
  if (text.rfind(kScripted, 0) == 0) text = "~" + text.substr(kScripted.size());
  return text;
}

// "caption ...", then per control: its name, " off" when disabled, " hidden"
// when hidden, and what it shows: "[x]"/"[ ]", the text, "position lo..hi",
// or the selected item ("-": none) and a line "name[] item|item=data|...".
Lines Shown(norv::ui::Dialog& dialog) {
  Lines lines{"caption " + dialog.caption()};
  for (const auto& [id, name] : kControls.at(dialog.dialogTemplate().id)) {
    const norv::ui::Control& c = *dialog.Find(id);
    std::string line = name + (c.enabled ? "" : " off") + (c.visible ? "" : " hidden");
    if (c.kind() == ControlKind::kCheckBox) line += c.checked ? " [x]" : " [ ]";
    if (c.kind() == ControlKind::kEdit || c.kind() == ControlKind::kLabel) line += " " + c.text;
    if (c.kind() == ControlKind::kTrackBar)
      line += " " + std::to_string(c.position) + " " + std::to_string(c.rangeMin) + ".." +
              std::to_string(c.rangeMax);
    if (c.kind() == ControlKind::kDropDownList) {
      const bool none = c.selection < 0 || c.selection >= static_cast<int>(c.items.size());
      lines.push_back(line + " " + (none ? "-" : Shorter(c.items[c.selection].text)));
      Lines items;
      for (const norv::ui::ListItem& item : c.items)
        items.push_back(Shorter(item.text) +
                        (item.data != 0 ? "=" + std::to_string(item.data) : ""));
      // Of the compressors only the test's own: the built-in ones vary with the libraries.
      if (id == kCompressorList && !items.empty()) {
        items.erase(std::remove_if(items.begin() + 1, items.end(),
                                   [](const std::string& i) { return i.rfind('~', 0) != 0; }),
                    items.end());
        std::sort(items.begin() + 1, items.end());
      }
      line = name + "[]";
      for (const std::string& item : items) line += (&item == &items[0] ? " " : "|") + item;
    }
    lines.push_back(line);
  }
  return lines;
}

struct Step {
  std::string act;  // "", "tab", "click ok", "type width=5", "select field=3",
                    // "pick compressor=~SCRA" (an item by text), "scroll track=9"
  Lines shows;      // the lines this step changes
  std::function<void(ScriptedUser&)> then = nullptr;
};

void Act(ScriptedUser& user, const std::string& act) {
  if (act.empty()) return;
  if (act == "tab") {
    user.TabAway();
    return;
  }
  const std::size_t space = act.find(' '), equals = act.find('=');
  const std::string verb = act.substr(0, space);
  const std::string name = act.substr(space + 1, equals - space - 1);
  std::string arg = equals == std::string::npos ? "" : act.substr(equals + 1);
  if (arg.rfind("~", 0) == 0) arg = kScripted + arg.substr(1);
  int id = name == "ok" ? kIdOk : kIdCancel;
  for (const auto& [controlId, controlName] : kControls.at(user.templateId()))
    if (controlName == name) id = controlId;
  if (verb == "click") user.Click(id);
  if (verb == "type") user.Type(id, arg);
  if (verb == "select") user.Select(id, std::stoi(arg));
  if (verb == "pick") user.SelectText(id, arg);
  if (verb == "scroll") user.Scroll(id, std::stoi(arg));
}

// Acts each step and, while the dialog is open, compares its whole state.
void Walk(ScriptedUser& user, Lines expected, const std::vector<Step>& steps) {
  for (const Step& step : steps) {
    Act(user, step.act);
    expected = With(expected, step.shows);
    if (user.IsOpen()) {
      EXPECT_EQ(Join(Shown(user.dialog())), Join(expected)) << step.act;
    }
    if (step.then) step.then(user);
  }
}

std::string FourCC(DWORD handler) {
  if (handler == 0) return "0";
  std::string text;
  for (int i = 0; i < 4; ++i) text.push_back(static_cast<char>((handler >> (8 * i)) & 0xFF));
  return text;
}

// The record as lines, to compare with the default record changed by a test.
Lines Record(const AviSettings& s) {
  char rate[32];
  std::snprintf(rate, sizeof rate, "%g", static_cast<double>(s.frameRate));
  auto n = [](auto v) { return std::to_string(v); };
  return {"compressor " + FourCC(s.compressorHandler),
          std::string("rate ") + rate,
          "size " + n(s.width) + "x" + n(s.height),
          "aspect " + n(s.aspectX) + ":" + n(s.aspectY) + " lock " + n(s.lockAspect),
          "colour " + n(s.colorFormat),
          "field " + n(s.fieldHandling),
          "subPixel " + n(s.subPixel),
          "quality " + n(s.quality) + " keys " + n(s.keyFrameEvery) + " only " + n(s.keyFramesOnly),
          "dataRate " + n(s.dataRateChoice) + " " + n(s.dataRate),
          "interleave " + n(s.interleaveFrames),
          "audio " + n(s.audioAvailable) + " " + n(s.audioEnabled) + " " + n(s.audioFormat[1]) +
              "/" + n(s.audioFormat[2]) + "/" + n(s.audioFormat[3]),
          "hw " + n(s.hwAccel),
          "state " + n(s.compressorStateSize) + "/" + n(s.compressorStateCapacity)};
}

const Lines kDefaultRecord = {
    "compressor 0",  "rate 25",       "size 160x120",         "aspect 4:3 lock 0",
    "colour 24",     "field 0",       "subPixel 0",           "quality 7500 keys 4 only 0",
    "dataRate 0 -1", "interleave 30", "audio 1 1 16/44100/2", "hw 0",
    "state 0/0"};

std::vector<std::uint8_t> StateBytes(const AviSettings& s) {
  const auto* p = static_cast<const std::uint8_t*>(HostBlockAddress(s.compressorState));
  return p == nullptr ? std::vector<std::uint8_t>{}
                      : std::vector<std::uint8_t>(p, p + s.compressorStateSize);
}

class SettingsDialogs : public ::testing::Test {
 protected:
  void SetUp() override {
    blocksBefore_ = NorvHostBlocksInUse();
    ASSERT_EQ(Plugin().FileTypeDefaultSettings(1, &settings, 0), 1);
    project.kind = 1;
    ASSERT_EQ(Plugin().FileTypeDefaultSettings(1, &project.video, 0), 1);
    const std::uint32_t audio[14] = {1, 16, 48000, 2};
    std::memcpy(project.audioFormat, audio, sizeof audio);
  }
  void TearDown() override {
    HostFree(&settings.compressorState);
    for (const std::string& e : ui.errors()) ADD_FAILURE() << e;
    EXPECT_EQ(ui.pendingScripts(), 0u);
    EXPECT_EQ(NorvHostBlocksInUse(), blocksBefore_);
  }
  // Queues a dialog's steps, its state compared from `opens` (changes to its baseline).
  void Expect(int dialog, const Lines& opens, std::vector<Step> steps) {
    Lines expected = With(kBaselines.at(dialog), opens);
    steps.insert(steps.begin(), Step{"", {}});
    ui.Expect(dialog, [expected, steps](ScriptedUser& user) { Walk(user, expected, steps); });
  }
  int Launch(bool withProject = true) {
    return Plugin().FileTypeLaunchSettings(1, &settings, withProject ? &project : nullptr, nullptr);
  }
  void ExpectRecord(const Lines& changes) {
    EXPECT_EQ(Join(Record(settings)), Join(With(kDefaultRecord, changes)));
  }
  void Hardware(int width, int height, int rateX100) {
    NorvHostSetHardware(1);
    NorvHostSetProject(width, height, rateX100);
    settings.hwAccel = 1;
  }

  HostScope host;
  ScriptedBinding ui;
  AviSettings settings{};
  ProjectSettings project{};

 private:
  long blocksBefore_ = 0;
};

TEST_F(SettingsDialogs, CancelStillNormalisesTheRecordAndOkReturnsOne) {
  settings.frameRate = 7.0f;
  settings.width = 5;
  settings.height = 20000;
  settings.fieldHandling = 9;
  settings.aspectX = 0;
  settings.aspectY = 150;
  settings.lockAspect = 5;
  settings.hwAccel = 1;  // the host has no hardware
  // The locked aspect shows 32 x 99 = 3168 lines; the record keeps the clamped 9999.
  const Lines shown = {"rate 15",   "width 32",   "height 3168",  "lock [x]",
                       "aspectX 1", "aspectY 99", "field Field 2"};
  Expect(kAviSettingsTemplate, shown, {{"click cancel"}});
  EXPECT_EQ(Launch(), 0);
  ExpectRecord({"rate 15", "size 32x9999", "aspect 1:99 lock 1", "field 4"});

  // Without audio the hidden Enable box is not read back: the record's choice stays.
  settings.audioAvailable = 0;
  Lines silent = shown;
  silent.insert(silent.end(), {"audioGroup off hidden", "audio off hidden [ ]",
                               "audioSettings off hidden", "audioOptions off hidden"});
  Expect(kAviSettingsTemplate, silent, {{"click ok"}});
  EXPECT_EQ(Launch(/*withProject=*/false), 1);
  ExpectRecord(
      {"rate 15", "size 32x3168", "aspect 1:99 lock 1", "field 4", "audio 0 1 16/44100/2"});
}

TEST_F(SettingsDialogs, WithoutABindingTheRecordIsNormalisedAndZeroReturned) {
  ScriptedBinding* installed = &ui;
  norv::ui::SetDialogBinding(nullptr);
  settings.frameRate = 7.0f;
  settings.width = 5;
  EXPECT_EQ(Launch(), 0);
  EXPECT_EQ(Plugin().FileTypeLaunchSettings(2, &settings, nullptr, nullptr), 0);
  norv::ui::SetDialogBinding(installed);
  ExpectRecord({"rate 15", "size 32x120"});
}

// Typing one size edit of a locked aspect shows the other, rounded to the
// nearest pixel and clamped; the typed edit is clamped when the focus leaves.
TEST_F(SettingsDialogs, SizeEditsClampOnLeavingAndFollowTheAspectLock) {
  settings.lockAspect = 1;
  Expect(kAviSettingsTemplate, {"lock [x]", "aspectX 4", "aspectY 3"},
         {{"type width=5", {"width 5", "height 32"}},  // 4 before clamping
          {"tab", {"width 32"}},
          {"type aspectX=16", {"aspectX 16"}},
          {"type aspectY=9", {"aspectY 9"}},
          {"type width=72000", {"width 7200", "height 4050"}},  // four characters at most
          {"type width=641", {"width 641", "height 361"}},      // 360.56
          {"type height=361", {"height 361", "width 642"}},     // 641.78
          {"type height=9000", {"height 9000", "width 9999"}},
          {"type height=10", {"height 10", "width 32"}},
          {"type width=720", {"width 720", "height 405"}},
          {"click lock", {"lock [ ]", "aspectX off 16", "aspectY off 9"}},
          {"click ok"}});
  EXPECT_EQ(Launch(), 1);
  ExpectRecord({"size 720x405", "aspect 16:9 lock 0"});

  // With hardware acceleration the project's size is the largest and heights are even.
  Hardware(720, 576, 2500);
  settings.lockAspect = 1;
  Expect(kAviSettingsTemplate,
         {"hwGroup", "hw [x]", "hwOptions", "rate[] 25|24|15|12|10|8|6|5|4|3|2|1", "width 720",
          "height 404", "lock [x]", "aspectX 16", "aspectY 9", "subPixel off [ ]", "cropping off"},
         {{"type height=500", {"height 500", "width 720"}},  // 889
          {"click lock", {"lock [ ]", "aspectX off 16", "aspectY off 9"}},
          {"type width=1000", {"width 1000"}},
          {"tab", {"width 720"}},
          {"click cancel"}});
  EXPECT_EQ(Launch(), 0);
}

// Under hardware acceleration the field modes halve the project's height, made even.
TEST_F(SettingsDialogs, HardwareFieldModesHalveTheHeight) {
  for (const auto& [height, field, shows] :
       {std::tuple{480, 3, "Field 1|240"}, std::tuple{486, 4, "Field 2|242"}}) {
    Hardware(720, height, 2997);
    settings.width = 720;
    settings.height = height;
    settings.fieldHandling = 0;
    const std::string text = shows, half = text.substr(8);
    Expect(kAviSettingsTemplate,
           {"hwGroup", "hw [x]", "hwOptions", "rate[] 29.97|25|24|15|12|10|8|6|5|4|3|2|1",
            "width 720", "height " + std::to_string(height), "subPixel off [ ]", "cropping off"},
           {{"select field=" + std::to_string(field),
             {"field " + text.substr(0, 7), "height " + half}},
            {"click ok"}});
    EXPECT_EQ(Launch(), 1);
    ExpectRecord({"size 720x" + half, "field " + std::to_string(field), "hw 1"});
  }
}

TEST_F(SettingsDialogs, HardwareKeepsRatesAtOrBelowTheProjects) {
  Hardware(720, 576, 2500);
  settings.frameRate = 29.97f;
  Expect(kAviSettingsTemplate,
         {"hwGroup", "hw [x]", "hwOptions", "rate 15", "rate[] 25|24|15|12|10|8|6|5|4|3|2|1",
          "subPixel off [ ]", "cropping off"},
         {{"click hw",  // off: every rate again, sub pixel and cropping back
           {"hw [ ]", "hwOptions off", "rate[] 30|29.97|25|24|15|12|10|8|6|5|4|3|2|1",
            "subPixel [ ]", "cropping"}},
          {"click cancel"}});
  EXPECT_EQ(Launch(), 0);
  ExpectRecord({"rate 15", "hw 1"});  // the toggle was cancelled
}

TEST_F(SettingsDialogs, QrvExportLocksCompressorAndColourAndChecksFieldOrder) {
  settings.qrvExport = 1;
  Expect(kAviSettingsTemplate,
         {"caption Export QRV File", "compressor off No Compression", "colour off 24 Bits",
          "audioOptions hidden", "dvReverse [x]"},
         {{"click ok"}});
  EXPECT_EQ(Launch(), 1);
  EXPECT_EQ(ReadProfileInt("Last Make Movie", "DV Reverse", 0, 0), 1);
  ExpectRecord({});
}

TEST_F(SettingsDialogs, UserPaletteNeedsAnExistingFileBeforeOkCloses) {
  const std::string palette = host.dir().File("mine.pal");
  norv::test::WriteFileBytes(palette, {'R', 'I', 'F', 'F'});
  settings.colorFormat = kColorPaletteFile;
  std::strcpy(settings.paletteFile, "/no/such/file.pal");
  ui.AnswerChooser(palette);
  Expect(kAviSettingsTemplate, {"colour 8 Bits, User Select Palette", "palette"},
         {{"click dvReverse", {"dvReverse [x]"}},
          {"click ok",
           {},
           [](ScriptedUser&) {  // refused, but the box is stored
             EXPECT_EQ(ReadProfileInt("Last Make Movie", "DV Reverse", 0, 0), 1);
           }},
          {"click palette"},
          {"click ok"}});
  EXPECT_EQ(Launch(), 1);
  ExpectRecord({"colour 84"});
  EXPECT_EQ(ui.messages(), Lines{"Select a valid palette file."});
  EXPECT_EQ(std::string(settings.paletteFile), palette);
  ASSERT_EQ(ui.choosers().size(), 1u);
  const norv::ui::OpenFileRequest& asked = ui.choosers()[0];
  EXPECT_EQ(Join({asked.title, asked.filterDescription, asked.filterPattern, asked.defaultExtension,
                  asked.path, std::to_string(asked.maxPath), std::to_string(asked.fileMustExist)}),
            Join({"Select palette file", "Palette File (pal)", "*.pal", "pal", "/no/such/file.pal",
                  "259", "0"}));
}

TEST_F(SettingsDialogs, EachCompressorRowRemembersQualityKeyFramesAndState) {
  ScriptedCompressor a(kHandlerA), b(kHandlerB);
  b.SetDefaults(5000, 8);
  const std::vector<std::uint8_t> saved(ScriptedCompressor::kStateSize, 0xA5);
  settings.compressorHandler = kHandlerA;
  settings.quality = 6000;
  settings.keyFrameEvery = 7;
  settings.compressorState = HostAlloc(1000, 1);
  settings.compressorStateCapacity = 1000;
  settings.compressorStateSize = static_cast<std::uint32_t>(saved.size());
  std::memcpy(HostBlockAddress(settings.compressorState), saved.data(), saved.size());
  Lines opens = Chosen("~SCRA");
  opens.push_back(Rows("|~SCRA|~SCRB"));
  Expect(kAviSettingsTemplate, opens,
         {{"click options"},
          {"pick compressor=~SCRB", {"compressor ~SCRB"}},
          {"click options"},
          {"pick compressor=~SCRA", {"compressor ~SCRA"}},
          {"click options"},
          {"click ok"}});
  auto options = [](int quality, int keys) -> Lines {
    return {"quality " + std::to_string(quality) + " 0..100",
            "qualityLabel " + std::to_string(quality), "keys " + std::to_string(keys) + " 1..999",
            "keysLabel " + std::to_string(keys)};
  };
  Expect(
      kCompressionOptionsTemplate, options(60, 7),
      {{"scroll quality=33", options(33, 7)}, {"scroll keys=10", options(33, 10)}, {"click ok"}});
  Expect(kCompressionOptionsTemplate, options(50, 8), {{"click cancel"}});
  Expect(kCompressionOptionsTemplate, options(33, 10), {{"click cancel"}});
  EXPECT_EQ(Launch(), 1);
  ExpectRecord({"compressor SCRA", "quality 3300 keys 10 only 0", "state 24/1000"});
  EXPECT_EQ(StateBytes(settings), saved);
  EXPECT_EQ(a.lastStateSet(), saved);  // the compressor started from the saved state
}

// Compression Options over a record without state: OK takes the rounded
// quality and the state the compressor confirms, Cancel takes nothing.
TEST_F(SettingsDialogs, CompressionOptionsOkTakesQualityAndConfirmedStateCancelNothing) {
  constexpr DWORD kSmall = ScriptedCompressor::kStateSize;
  struct Case {
    DWORD stateSize;
    LRESULT handOver;  // what the compressor answers when it copies its state out
    const char* button;
    const char* record;  // quality, then state size and capacity
    const char* state;
  };
  const Case cases[] = {
      {kSmall, kSmall, "click ok", "quality 7500 keys 4 only 0", "state 24/1000"},
      {kSmall, kSmall, "click cancel", "quality 7550 keys 4 only 0", "state 0/0"},
      // whole thousands with room to spare, even at a multiple
      {1000, 1000, "click ok", "quality 7500 keys 4 only 0", "state 1000/2000"},
      // an unconfirmed state is dropped
      {kSmall, kSmall - 12, "click ok", "quality 7500 keys 4 only 0", "state 0/1000"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.stateSize << " bytes, answer " << c.handOver);
    ScriptedCompressor a(kHandlerA);
    a.SetState(c.stateSize, c.handOver);
    HostFree(&settings.compressorState);
    settings.compressorStateSize = 0;
    settings.compressorStateCapacity = 0;
    settings.compressorHandler = kHandlerA;
    settings.quality = 7550;
    Lines opens = Chosen("~SCRA");
    opens.push_back(Rows("|~SCRA"));
    Expect(kAviSettingsTemplate, opens, {{"click options"}, {"click ok"}});
    std::vector<Step> steps = {{c.button}};
    if (c.button == std::string("click cancel"))
      steps.insert(steps.begin(), {"scroll quality=20", {"quality 20 0..100", "qualityLabel 20"}});
    Expect(kCompressionOptionsTemplate, {}, steps);
    EXPECT_EQ(Launch(), 1);
    ExpectRecord({"compressor SCRA", c.record, c.state});
    const std::vector<std::uint8_t> state = a.state();
    EXPECT_EQ(
        StateBytes(settings),
        std::vector<std::uint8_t>(state.begin(), state.begin() + settings.compressorStateSize));
  }
}

TEST_F(SettingsDialogs, CompressorWithoutTemporalCompressionMakesEveryFrameAKey) {
  ScriptedCompressor c(kHandlerC);
  c.SetFlags(VIDCF_QUALITY);
  settings.colorFormat = kColor666;
  // "No Compression" offers the five palettes and 24 bits, no data rate, no options.
  Expect(kAviSettingsTemplate, {Rows("|~SCRC"), "colour 8 Bits, 6-6-6 Levels"},
         {{"pick compressor=~SCRC", Chosen("~SCRC")}, {"click ok"}});
  EXPECT_EQ(Launch(), 1);
  ExpectRecord({"compressor SCRC", "quality 7500 keys 1 only 1"});

  // Opening on a record that already names it keeps the record's interval.
  settings.keyFrameEvery = 5;
  Lines opens = Chosen("~SCRC");
  opens.push_back(Rows("|~SCRC"));
  Expect(kAviSettingsTemplate, opens, {{"click ok"}});
  EXPECT_EQ(Launch(), 1);
  ExpectRecord({"compressor SCRC", "quality 7500 keys 5 only 1"});

  // ZQKM is taken as intra-only whatever flags it describes itself with.
  ScriptedCompressor zqkm(MakeFourCC("ZQKM"));
  settings.compressorHandler = 0;
  opens = {Rows("|~SCRC|~ZQKM")};
  Expect(kAviSettingsTemplate, opens, {{"pick compressor=~ZQKM", Chosen("~ZQKM")}, {"click ok"}});
  EXPECT_EQ(Launch(), 1);
  ExpectRecord({"compressor ZQKM", "quality 7500 keys 1 only 1"});
}

TEST_F(SettingsDialogs, MotionJpegIsProbedOpenForCompressingAndListedEvenWhenItWillNotOpenSo) {
  struct Case {
    WORD bits;  // 0: refuses to open for compressing
    const char* colour;
  };
  // Depths up to 27 bits have rows of their own; beyond, 24 bits stands in.
  for (const Case& c : {Case{0, "24 Bits=24"}, Case{16, "16 Bits=16"}, Case{27, "27 Bits=27"},
                        Case{32, "24 Bits=24"}}) {
    settings.compressorHandler = 0;
    settings.colorFormat = kColor24;
    ScriptedCompressor m(MakeFourCC("MJPG"));  // replaces the built-in one
    if (c.bits == 0) m.RefuseOpens(ICMODE_COMPRESS);
    if (c.bits != 0) m.FormatsOnlyWhenCompressing(c.bits);
    const std::string colour = c.colour;
    Lines shows = Chosen("~MJPG");
    shows.insert(shows.end(),
                 {"colour " + colour.substr(0, colour.find('=')), "colour[] " + colour});
    Expect(kAviSettingsTemplate, {Rows("|~MJPG")},
           {{"pick compressor=~MJPG", shows}, {"click ok"}});
    EXPECT_EQ(Launch(), 1);
    settings.quality = 7500;  // whatever the compressor probed before it answered
    settings.keyFrameEvery = 4;
    ExpectRecord({"compressor MJPG", "colour " + colour.substr(colour.find('=') + 1)});
  }
}

// An 8-bit compressor answers the palettised probe with a 1064-byte format
// (header and 256 colours) and offers the five 8-bit rows, no 24 bits. Newly
// chosen, it starts from its first row, not from the colour chosen before.
TEST_F(SettingsDialogs, EightBitCompressorOffersTheEightBitRowsOnly) {
  ScriptedCompressor odd(kHandlerA);
  odd.TakesEightBitsOnly(16);  // takes 8-bit frames but answers another depth
  settings.colorFormat = kColor666;
  const Lines rle = {"compressor Microsoft RLE 8-bit", "options", "colour 8 Bits, 3-3-2 Bits",
                     "colour[] 8 Bits, 3-3-2 Bits=80|8 Bits, 6-6-6 Levels=81|8 Bits, 6-7-6 "
                     "Levels=82|8 Bits, Common Optimum=83|8 Bits, User Select Palette=84",
                     "dataRate off Default"};
  Expect(kAviSettingsTemplate, {Rows("|~SCRA"), "colour 8 Bits, 6-6-6 Levels"},
         {{"pick compressor=Microsoft RLE 8-bit", rle},
          {"pick compressor=~SCRA", Chosen("~SCRA")},
          {"pick compressor=Microsoft RLE 8-bit", rle},
          {"click ok"}});
  EXPECT_EQ(Launch(), 1);
  settings.quality = 7500;  // it does not answer: the last answer of another stays
  ExpectRecord({"compressor MRLE", "colour 80", "quality 7500 keys 1 only 1"});
}

TEST_F(SettingsDialogs, CompressorRowsFollowTheirRulesAndPlaybackRowsCarryTheirRates) {
  ScriptedCompressor a(kHandlerA), msvc(MakeFourCC("msvc")), loud(kHandlerB),
      hidden(MakeFourCC("iv31"));
  msvc.SetDefaults(7000, 9);  // its key frames come from the rule, not from it
  loud.SetDefaults(20000, 6);
  settings.compressorHandler = kHandlerA;
  settings.quality = 1234;
  settings.dataRateChoice = 3;
  settings.dataRate = 600;
  Lines opens = Chosen("~SCRA");
  opens.insert(opens.end(), {Rows("|~SCRA|~SCRB|~msvc"), "dataRate 600 KB/Sec"});
  Expect(kAviSettingsTemplate, opens,
         {{"pick compressor=~SCRA"},  // the same one: no change
          {"select dataRate=7", {"dataRate 150 KB/Sec"}},
          {"click ok"}});
  EXPECT_EQ(Launch(), 1);
  ExpectRecord({"compressor SCRA", "quality 1234 keys 4 only 0", "dataRate 7 150"});

  // Another compressor starts from its own defaults and the Default rate.
  opens.back() = "dataRate 150 KB/Sec";
  Expect(kAviSettingsTemplate, opens, {{"pick compressor=~msvc", Chosen("~msvc")}, {"click ok"}});
  EXPECT_EQ(Launch(), 1);
  ExpectRecord({"compressor msvc", "quality 7000 keys 4 only 0"});
  opens = Chosen("~msvc");
  opens.push_back(Rows("|~SCRA|~SCRB|~msvc"));
  Expect(kAviSettingsTemplate, opens, {{"pick compressor=~SCRB", Chosen("~SCRB")}, {"click ok"}});
  EXPECT_EQ(Launch(), 1);
  ExpectRecord({"compressor SCRB", "quality 10000 keys 6 only 0"});
}

TEST_F(SettingsDialogs, AudioSettingsNormaliseTheBlockEvenOnCancel) {
  const std::uint32_t odd[14] = {99, 12, 8000, 6, 5, 6, 7};
  std::memcpy(settings.audioFormat, odd, sizeof odd);
  Expect(kAviSettingsTemplate, {}, {{"click audioSettings"}, {"click ok"}});
  Expect(kAudioSettingsTemplate, {"bits 8", "rate 11025", "channels Mono, 1 Channel"},
         {{"click cancel"}});
  EXPECT_EQ(Launch(), 1);
  const std::uint32_t normalised[14] = {99, 8, 11025, 1, 5, 6, 7};
  EXPECT_EQ(std::memcmp(settings.audioFormat, normalised, sizeof normalised), 0);
}

TEST_F(SettingsDialogs, AudioPresetMenuOffersSameAsProjectWhenThereIsOne) {
  ui.AnswerMenu(kPresetSameAsProject);
  auto nextToButton = [this](ScriptedUser& user) {
    const norv::ui::ScreenRect button = user.dialog().ControlScreenRect(kAudioPresetButton);
    EXPECT_EQ(ui.menus().back().at.x, button.right + 5);
    EXPECT_EQ(ui.menus().back().at.y, button.top);
  };
  Expect(kAviSettingsTemplate, {}, {{"click audioSettings"}, {"click ok"}});
  Expect(kAudioSettingsTemplate, {},
         {{"click preset", {"rate 48000"}, nextToButton},
          {"click preset"},  // now equal: the entry is checked
          {"click ok"}});
  EXPECT_EQ(Launch(), 1);
  ExpectRecord({"audio 1 1 16/48000/2"});
  auto menu = [this](std::size_t i) {
    std::string text;
    for (const auto& item : ui.menus()[i].items)
      text += std::to_string(item.id) + " " + item.text + (item.checked ? " [x]" : "") + "|";
    return text;
  };
  ASSERT_EQ(ui.menus().size(), 2u);
  EXPECT_EQ(menu(0), "12000 Load|12001 Save|12002 Same As Project|");
  EXPECT_EQ(menu(1), "12000 Load|12001 Save|12002 Same As Project [x]|");

  // Without a project there is no such entry.
  Expect(kAviSettingsTemplate, {}, {{"click audioSettings"}, {"click cancel"}});
  Expect(kAudioSettingsTemplate, {"rate 48000"}, {{"click preset"}, {"click cancel"}});
  EXPECT_EQ(Launch(/*withProject=*/false), 0);
  EXPECT_EQ(menu(2), "12000 Load|12001 Save|");
}

// The host's preset chooser as a host with windows shows it: it answers one
// path and keeps how it was asked (mode 0 saves, 1 loads).
struct PresetChooser {
  std::string answer;
  std::vector<std::pair<int, std::string>> asked;

  PresetChooser() {
    NorvHostDialogs dialogs{};
    dialogs.context = this;
    dialogs.presetPath = [](void* self, std::int32_t mode, char* path, const char* extension,
                            HWND) -> std::int32_t {
      auto* chooser = static_cast<PresetChooser*>(self);
      chooser->asked.emplace_back(mode, extension);
      std::strcpy(path, chooser->answer.c_str());
      return 1;
    };
    NorvHostSetDialogs(&dialogs);
  }
  ~PresetChooser() { NorvHostSetDialogs(nullptr); }
  PresetChooser(const PresetChooser&) = delete;
  PresetChooser& operator=(const PresetChooser&) = delete;
};

// Save stores the lists as shown, Load brings them back; the host is asked
// for a file to write, then for one to read.
TEST_F(SettingsDialogs, AudioPresetsSaveTheListsAndLoadThemBack) {
  PresetChooser chooser;
  chooser.answer = host.dir().File("voice.ostwav");
  ui.AnswerMenu(kPresetSave);
  ui.AnswerMenu(kPresetLoad);
  Expect(kAviSettingsTemplate, {}, {{"click audioSettings"}, {"click ok"}});
  Expect(kAudioSettingsTemplate, {},
         {{"pick rate=22050", {"rate 22050"}},
          {"select channels=0", {"channels Mono, 1 Channel"}},
          {"click preset"},
          {"pick bits=8", {"bits 8"}},
          {"pick rate=48000", {"rate 48000"}},
          {"select channels=1", {"channels Stereo, 2 Channels"}},
          {"click preset", {"bits 16", "rate 22050", "channels Mono, 1 Channel"}},
          {"click ok"}});
  EXPECT_EQ(Launch(), 1);
  EXPECT_EQ(chooser.asked,
            (std::vector<std::pair<int, std::string>>{{0, ".ostwav"}, {1, ".ostwav"}}));
  ExpectRecord({"audio 1 1 16/22050/1"});
  EXPECT_TRUE(ui.messages().empty());
}

TEST_F(SettingsDialogs, InterleaveAndCustomDataRateComeFromTheirSliders) {
  ScriptedCompressor a(kHandlerA);
  settings.compressorHandler = kHandlerA;
  Lines opens = Chosen("~SCRA");
  opens.push_back(Rows("|~SCRA"));
  Expect(kAviSettingsTemplate, opens,
         {{"click audioOptions"},
          {"select dataRate=8", {"dataRate Custom Option", "playback"}},
          {"click playback"},
          {"click ok"}});
  Expect(kAudioOptionsTemplate, {},
         {{"scroll track=-5", {"track 1 1..999", "label 1"}}, {"click ok"}});
  Expect(kPlaybackOptionsTemplate, {},  // -1 from "Default" shows at the low end
         {{"scroll track=12", {"track 12 1..8000", "label 12"}},
          {"scroll track=9000", {"track 8000 1..8000", "label 8000"}},  // the top end is kept
          {"click ok"}});
  EXPECT_EQ(Launch(), 1);
  ExpectRecord({"compressor SCRA", "dataRate 8 8000", "interleave 1"});
}

class VideoPresets : public SettingsDialogs {
 protected:
  void SetUp() override {
    SettingsDialogs::SetUp();
    char folder[260] = {};
    GetHostFolder(folder);
    previousFolder_ = folder;
    NorvHostSetFolder((host.dir().path().string() + "/").c_str());
    samples_ = host.dir().path() / "SAMPLES";
    std::filesystem::create_directory(samples_);
  }
  void TearDown() override {
    NorvHostSetFolder(previousFolder_.c_str());
    NorvHostSetPresetPathAnswer(nullptr);
    SettingsDialogs::TearDown();
  }
  std::filesystem::path samples_;

 private:
  std::string previousFolder_;
};

// Each listed file is a preset of its own width (pNNN is NNN + 300 pixels
// wide), so the width shows which one was loaded. Its audio (8000 Hz, every
// 3 frames, off) arrives only when both the dialog and the preset have audio.
TEST_F(VideoPresets, TwentyOfTwentyFiveAreListedAndTheAudioRuleApplies) {
  struct Case {
    std::int32_t dialogAudio;
    std::int32_t presetAudio;
    int chosen;  // which listed file
  };
  for (const Case& c : {Case{1, 0, 4}, Case{0, 1, 19}, Case{1, 1, 12}}) {
    SCOPED_TRACE(testing::Message()
                 << "dialog audio " << c.dialogAudio << ", preset audio " << c.presetAudio);
    settings.audioAvailable = c.dialogAudio;
    settings.audioEnabled = 1;
    settings.audioFormat[2] = 44100;
    settings.interleaveFrames = 30;
    AviSettings preset = settings;
    preset.audioAvailable = c.presetAudio;
    preset.audioEnabled = 0;
    preset.audioFormat[2] = 8000;
    preset.interleaveFrames = 3;
    for (int i = 0; i < 25; ++i) {
      const std::string name = "p" + std::to_string(100 + i) + ".ostavi";
      preset.width = 400 + i;
      ASSERT_NE(SavePresetFile(1, &preset, (samples_ / name).c_str()), 0);
    }
    ASSERT_NE(SavePresetFile(1, &preset, (samples_ / ".hidden.ostavi").c_str()), 0);
    std::filesystem::create_directories(samples_ / "folder.ostavi");
    ui.AnswerMenu(kPresetListedFirst + c.chosen);
    int width = 0;
    ui.Expect(kAviSettingsTemplate, [&](ScriptedUser& user) {
      user.Click(kLoadPreset);
      ASSERT_GT(ui.menus().back().items.size(), static_cast<std::size_t>(c.chosen));
      width = 300 + std::stoi(ui.menus().back().items[c.chosen].text.substr(1, 3));
      EXPECT_EQ(user.Text(kWidthEdit), std::to_string(width));
      const norv::ui::ScreenRect button = user.dialog().ControlScreenRect(kLoadPreset);
      EXPECT_EQ(ui.menus().back().at.x, button.right + 5);
      user.Click(kIdOk);
    });
    EXPECT_EQ(Launch(), 1);
    const auto& items = ui.menus().back().items;
    ASSERT_EQ(items.size(), 22u);
    for (int i = 0; i < 20; ++i) {
      EXPECT_EQ(items[i].id, kPresetListedFirst + i);
      EXPECT_EQ(items[i].text.substr(0, 1), "p");
    }
    EXPECT_TRUE(items[20].separator);
    EXPECT_EQ(items[21].id, kPresetBrowse);
    EXPECT_EQ(items[21].text, "Browse");
    EXPECT_EQ(ui.menus().back().flags, norv::ui::kTrackRightButton);
    const bool presetsAudio = c.dialogAudio != 0 && c.presetAudio != 0;
    ExpectRecord({"size " + std::to_string(width) + "x120",
                  "audio " + std::to_string(c.dialogAudio) +
                      (presetsAudio ? " 0 16/8000/2" : " 1 16/44100/2"),
                  presetsAudio ? "interleave 3" : "interleave 30"});
  }
  EXPECT_EQ(ui.menus().size(), 3u);
}

// A loaded preset is shown within the limits in force when it arrives: after
// "Field 2" under hardware acceleration on a 486-line project that is 242
// lines (243 made even), though the preset turns the acceleration off.
TEST_F(VideoPresets, ALoadedPresetIsClampedWithTheLimitsInForce) {
  AviSettings preset = settings;
  preset.width = 720;
  preset.height = 486;
  preset.fieldHandling = 4;
  preset.hwAccel = 0;
  const std::string path = host.dir().File("tall.ostavi");
  ASSERT_NE(SavePresetFile(1, &preset, path.c_str()), 0);
  NorvHostSetPresetPathAnswer(path.c_str());
  Hardware(720, 486, 2997);
  settings.width = 720;
  settings.height = 486;
  settings.fieldHandling = 4;
  Expect(kAviSettingsTemplate,
         {"hwGroup", "hw [x]", "hwOptions", "rate[] 29.97|25|24|15|12|10|8|6|5|4|3|2|1",
          "width 720", "height 242", "field Field 2", "subPixel off [ ]", "cropping off"},
         {{"click load",  // no listed file: the chooser answers at once
           {"hw [ ]", "hwOptions off", "rate[] 30|29.97|25|24|15|12|10|8|6|5|4|3|2|1",
            "subPixel [ ]", "cropping"}},
          {"click ok"}});
  EXPECT_EQ(Launch(), 1);
  ExpectRecord({"size 720x242", "field 4"});
}

TEST_F(VideoPresets, AnEmptyFolderBrowsesAndSaveReadsTheControlsFirst) {
  const std::string path = host.dir().File("chosen.ostavi");
  NorvHostSetPresetPathAnswer(path.c_str());
  Expect(kAviSettingsTemplate, {},
         {{"type width=640", {"width 640"}},
          {"click save"},
          {"type width=100", {"width 100"}},
          {"click load", {"width 640"}},  // no listed file: the chooser answers at once
          {"click cancel"}});
  EXPECT_EQ(Launch(), 0);
  EXPECT_TRUE(ui.menus().empty());
  EXPECT_TRUE(ui.messages().empty());

  NorvHostSetPresetPathAnswer("/no/such/folder/x.ostavi");
  Expect(kAviSettingsTemplate, {}, {{"click save"}, {"click load"}, {"click cancel"}});
  EXPECT_EQ(Launch(), 0);
  EXPECT_EQ(ui.messages(), (Lines{"Failed to save.", "Failed to load."}));
}

}  // namespace
