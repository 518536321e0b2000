// The settings dialogs walked as a user would, through FileTypeLaunchSettings
// of the loaded module and the scripted binding. After every step the whole
// state of the open dialog (each control's enabled, shown, text, check,
// selection, items, track position) is compared, as text, with the expected
// state: the dialog's baseline and the lines the steps so far changed. The
// record the dialog leaves is compared whole with the defaults so changed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
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
using norv::ui::ScriptedUser;
using Lines = std::vector<std::string>;

const DWORD kHandlerA = MakeFourCC("SCRA");
const std::string kScripted = "Scripted test compressor ";  // shown as "~"

// Per dialog, the lines it shows when it opens on the fixture's record
// (defaults, a project, no hardware): the caption, then a line per control
// with an id in the template's order; a line's first word names the control,
// a list has a second line, "name[]", with its items.
const std::map<int, const char*> kBaselines = {
    {kAviSettingsTemplate,
     "caption AVI Settings\nhwGroup off hidden\nhw off hidden [ ]\nhwOptions off hidden\n"
     "rate 25\nrate[] 30|29.97|25|24|15|12|10|8|6|5|4|3|2|1\nwidth 160\nheight 120\n"
     "lock [ ]\naspectX off 4\naspectY off 3\ncompressor No Compression\n"
     "compressor[] No Compression\noptions off\ncolour 24 Bits\ncolour[] 8 Bits, 3-3-2 "
     "Bits=80|8 Bits, 6-6-6 Levels=81|8 Bits, 6-7-6 Levels=82|8 Bits, Common Optimum=83|8 "
     "Bits, User Select Palette=84|24 Bits=24\npalette off\ndataRate off Default\n"
     "dataRate[] Default|800 KB/Sec=800|700 KB/Sec=700|600 KB/Sec=600|500 KB/Sec=500|"
     "400 KB/Sec=400|300 KB/Sec=300|150 KB/Sec=150|Custom Option\nplayback off\nfield Frame\n"
     "field[] Frame|Interlaced, Fld Order A|Interlaced, Fld Order B|Field 1|Field 2\n"
     "subPixel [ ]\ncropping\ndvReverse [ ]\naudioGroup\naudio [x]\naudioSettings\n"
     "audioOptions\nunused hidden\nload\nsave"},
    {kCompressionOptionsTemplate,
     "caption Compression Options\nquality 75 0..100\nqualityLabel 75\nkeys 4 1..999\n"
     "keysLabel 4\nconfigure"},
    {kAudioSettingsTemplate,
     "caption Audio Settings\nbitsLabel Sample Size:\nbits 16\nbits[] 8=8|16=16\n"
     "rateLabel Sampling Rate:\nrate 44100\n"
     "rate[] 11025=11025|22050=22050|32000=32000|44100=44100|48000=48000\n"
     "channelsLabel Channels:\nchannels Stereo, 2 Channels\n"
     "channels[] Mono, 1 Channel=1|Stereo, 2 Channels=2\npreset"},
    {kAudioOptionsTemplate, "caption Audio Options\ntrack 30 1..999\nlabel 30"},
    {kPlaybackOptionsTemplate, "caption Playback Options\ntrack 1 1..8000\nlabel 1"},
};

Lines Split(const std::string& text, const std::string& by) {
  Lines lines;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = std::min(text.find(by, at), text.size());
    lines.push_back(text.substr(at, end - at));
    at = end + by.size();
  }
  return lines;
}

std::string Join(const Lines& lines, const std::string& by = "\n") {
  std::string text;
  for (const std::string& l : lines) text += (&l == lines.data() ? "" : by) + l;
  return text;
}

std::string Key(const std::string& line) {
  return line.substr(0, line.find(' '));
}

// `base` with each of the "; "-separated changes replacing the line of its first word.
Lines With(Lines base, const std::string& changes) {
  for (const std::string& change : Split(changes, "; ")) {
    auto at = std::find_if(base.begin(), base.end(),
                           [&](const std::string& l) { return Key(l) == Key(change); });
    EXPECT_TRUE(at != base.end()) << "no line for " << change;
    if (at != base.end()) *at = change;
  }
  return base;
}

// Each of a dialog's lines: its name and its control (0: the caption).
std::vector<std::pair<std::string, int>> Rows(int dialog) {
  const Lines baseline = Split(kBaselines.at(dialog), "\n");
  std::vector<std::pair<std::string, int>> rows = {{"caption", 0}};
  for (const norv::ui::ControlTemplate& c : FindDialogTemplate(dialog)->controls) {
    if (c.id == norv::ui::kNoId || c.id == kIdOk || c.id == kIdCancel) continue;
    rows.emplace_back(Key(baseline.at(rows.size())), c.id);
    if (c.kind == ControlKind::kDropDownList)
      rows.emplace_back(Key(baseline.at(rows.size())), c.id);
  }
  return rows;
}

std::string Shorter(const std::string& text) {
  return text.rfind(kScripted, 0) == 0 ? "~" + text.substr(kScripted.size()) : text;
}

// A line per row: the name, " off" when disabled, " hidden" when hidden, then
// "[x]"/"[ ]", the text, "position lo..hi", or the selected item ("-": none);
// "name[]": the items, "text=data" when there is data. Of the compressors only
// the test's own are listed, sorted: the built-in ones vary with the libraries.
Lines Shown(norv::ui::Dialog& dialog) {
  Lines lines = {"caption " + dialog.caption()};
  for (const auto& [name, id] : Rows(dialog.dialogTemplate().id)) {
    const norv::ui::Control* c = dialog.Find(id);
    if (c == nullptr) continue;  // the caption's row, above
    std::string line = name + (c->enabled ? "" : " off") + (c->visible ? "" : " hidden");
    if (name.back() == ']') {
      Lines items;
      for (const norv::ui::ListItem& i : c->items)
        if (id != kCompressorList || items.empty() || Shorter(i.text)[0] == '~')
          items.push_back(Shorter(i.text) + (i.data != 0 ? "=" + std::to_string(i.data) : ""));
      if (id == kCompressorList && !items.empty()) std::sort(items.begin() + 1, items.end());
      line = name + (items.empty() ? "" : " " + Join(items, "|"));
    } else if (c->kind() == ControlKind::kCheckBox) {
      line += c->checked ? " [x]" : " [ ]";
    } else if (c->kind() == ControlKind::kEdit || c->kind() == ControlKind::kLabel) {
      line += " " + c->text;
    } else if (c->kind() == ControlKind::kTrackBar) {
      line += " " + std::to_string(c->position) + " " + std::to_string(c->rangeMin) + ".." +
              std::to_string(c->rangeMax);
    } else if (c->kind() == ControlKind::kDropDownList) {
      const bool none = c->selection < 0 || c->selection >= static_cast<int>(c->items.size());
      line += " " + (none ? "-" : Shorter(c->items[static_cast<std::size_t>(c->selection)].text));
    }
    lines.push_back(line);
  }
  return lines;
}

void Act(ScriptedUser& user, const std::string& act) {
  const std::size_t space = act.find(' '), equals = act.find('=');
  const std::string verb = act.substr(0, space), name = act.substr(space + 1, equals - space - 1);
  const std::string arg = equals == std::string::npos ? "" : act.substr(equals + 1);
  int id = name == "ok" ? kIdOk : kIdCancel;
  for (const auto& [row, control] : Rows(user.templateId()))
    if (row == name) id = control;
  if (verb == "tab") user.TabAway();
  if (verb == "click") user.Click(id);
  if (verb == "type") user.Type(id, arg);
  if (verb == "select") user.Select(id, std::stoi(arg));
  if (verb == "pick") user.SelectText(id, arg[0] == '~' ? kScripted + arg.substr(1) : arg);
  if (verb == "scroll") user.Scroll(id, std::stoi(arg));
}

// What choosing a compressor that takes 24-bit frames and a data rate shows.
std::string Chosen(const std::string& row) {
  return "compressor " + row + "; options; colour 24 Bits; colour[] 24 Bits=24; dataRate Default";
}

std::vector<std::uint8_t> StateBytes(const AviSettings& s) {
  const auto* p = static_cast<const std::uint8_t*>(HostBlockAddress(s.compressorState));
  return p == nullptr ? std::vector<std::uint8_t>{}
                      : std::vector<std::uint8_t>(p, p + s.compressorStateSize);
}

class SettingsDialogs : public ::testing::Test {
 protected:
  void SetUp() override {
    blocksBefore_ = NorvHostBlocksInUse();
    GetHostFolder(previousFolder_);
    NorvHostSetFolder((host.dir().path().string() + "/").c_str());
    std::filesystem::create_directory(samples_);
    ASSERT_EQ(Plugin().FileTypeDefaultSettings(1, &settings, 0), 1);
    defaults_ = settings;
    project.kind = 1;
    ASSERT_EQ(Plugin().FileTypeDefaultSettings(1, &project.video, 0), 1);
    const std::uint32_t audio[14] = {1, 16, 48000, 2};
    std::memcpy(project.audioFormat, audio, sizeof audio);
  }
  void TearDown() override {
    NorvHostSetFolder(previousFolder_);
    NorvHostSetPresetPathAnswer(nullptr);
    NorvHostSetDialogs(nullptr);
    HostFree(&settings.compressorState);
    for (const std::string& e : ui.errors()) ADD_FAILURE() << e;
    EXPECT_EQ(ui.pendingScripts(), 0u);
    EXPECT_EQ(NorvHostBlocksInUse(), blocksBefore_);
  }
  // The next dialog opens showing its baseline changed by `opens`, then runs
  // the steps, "act: changes" separated by " / " (acts: "tab", "click ok",
  // "type width=5", "select field=3", "pick compressor=~SCRA" (by text),
  // "scroll track=9"); after each, while it is open, it shows what they changed.
  void Expect(int dialog, const std::string& opens, const std::string& steps) {
    ui.Expect(dialog, [dialog, opens, steps](ScriptedUser& user) {
      Lines expected = With(Split(kBaselines.at(dialog), "\n"), opens);
      EXPECT_EQ(Join(Shown(user.dialog())), Join(expected)) << "as it opens";
      for (const std::string& step : Split(steps, " / ")) {
        const std::size_t colon = std::min(step.find(": "), step.size());
        Act(user, step.substr(0, colon));
        expected = With(expected, step.substr(std::min(colon + 2, step.size())));
        if (user.IsOpen()) {
          EXPECT_EQ(Join(Shown(user.dialog())), Join(expected)) << "after " << step;
        }
      }
    });
  }
  int Launch(bool withProject = true) {
    return Plugin().FileTypeLaunchSettings(1, &settings, withProject ? &project : nullptr, nullptr);
  }
  // Every word of the record against the defaults changed so (as SetFields
  // takes them); the palette file and the state's bytes are the tests' own.
  void ExpectRecord(const std::string& changes) {
    AviSettings expected = defaults_;
    SetFields(expected, changes);
    expected.compressorState = settings.compressorState;
    std::memcpy(expected.paletteFile, settings.paletteFile, sizeof expected.paletteFile);
    const auto* got = reinterpret_cast<const std::int32_t*>(&settings);
    const auto* want = reinterpret_cast<const std::int32_t*>(&expected);
    for (std::size_t i = 0; i < sizeof settings / 4; ++i)
      EXPECT_EQ(got[i], want[i]) << "the record's word at offset " << 4 * i;
  }
  // Launches the dialogs queued, expecting `returns` and the record changed so.
  void Finish(int returns, const std::string& record, bool withProject = true) {
    EXPECT_EQ(Launch(withProject), returns);
    ExpectRecord(record);
  }

  HostScope host;
  norv::ui::ScriptedBinding ui;
  AviSettings settings{};
  ProjectSettings project{};
  const std::filesystem::path samples_ = host.dir().path() / "SAMPLES";  // listed presets
  AviSettings defaults_{};

 private:
  long blocksBefore_ = 0;
  char previousFolder_[260] = {};
};

TEST_F(SettingsDialogs, CancelStillNormalisesTheRecordAndOkReturnsOne) {
  SetFields(settings, "rate 7; size 5x20000; field 9; aspect 0:150 lock 5; hw 1");  // no hardware
  // The locked aspect shows 32 x 99 = 3168 lines; the record keeps the clamped 9999.
  const std::string shown =
      "rate 15; width 32; height 3168; lock [x]; aspectX 1; aspectY 99; field Field 2";
  Expect(kAviSettingsTemplate, shown, "click cancel");
  Finish(0, "rate 15; size 32x9999; aspect 1:99 lock 1; field 4");

  // Without audio the hidden Enable box is not read back: the record's choice stays.
  settings.audioAvailable = 0;
  Expect(kAviSettingsTemplate,
         shown +
             "; audioGroup off hidden; audio off hidden [ ]; audioSettings off hidden; "
             "audioOptions off hidden",
         "click ok");
  const std::string record =
      "rate 15; size 32x3168; aspect 1:99 lock 1; field 4; audio 0 1 16/44100/2";
  Finish(1, record, false);

  // Without a binding the record is normalised all the same and 0 returned.
  norv::ui::SetDialogBinding(nullptr);
  SetFields(settings, "rate 7; size 5x3168");
  EXPECT_EQ(Launch(), 0);
  EXPECT_EQ(Plugin().FileTypeLaunchSettings(2, &settings, nullptr, nullptr), 0);
  norv::ui::SetDialogBinding(&ui);
  ExpectRecord(record);
}

// Typing one size edit of a locked aspect shows the other, rounded to the
// nearest pixel (360.56, 641.78) and clamped (24 is 32); the typed edit is
// clamped when the focus leaves, and takes four characters at most.
TEST_F(SettingsDialogs, SizeEditsClampOnLeavingAndFollowTheAspectLock) {
  settings.lockAspect = 1;
  Expect(kAviSettingsTemplate, "lock [x]; aspectX 4; aspectY 3",
         "type width=5: width 5; height 32 / tab: width 32 / type aspectX=16: aspectX 16 / "
         "type aspectY=9: aspectY 9 / type width=72000: width 7200; height 4050 / "
         "type width=641: width 641; height 361 / type height=361: height 361; width 642 / "
         "type height=9000: height 9000; width 9999 / type height=10: height 10; width 32 / "
         "type width=720: width 720; height 405 / "
         "click lock: lock [ ]; aspectX off 16; aspectY off 9 / click ok");
  Finish(1, "size 720x405; aspect 16:9 lock 0");

  // With hardware acceleration the project's size is the largest and heights are even.
  NorvHostSetHardware(1);  // the project stays the host's 720x576 at 25 fps
  SetFields(settings, "aspect 16:9 lock 1; hw 1");
  Expect(kAviSettingsTemplate,
         "hwGroup; hw [x]; hwOptions; rate[] 25|24|15|12|10|8|6|5|4|3|2|1; width 720; height 404; "
         "lock [x]; aspectX 16; aspectY 9; subPixel off [ ]; cropping off",
         "type height=500: height 500; width 720 / click lock: lock [ ]; aspectX off 16; aspectY "
         "off 9 / type width=1000: width 1000 / tab: width 720 / click cancel");
  EXPECT_EQ(Launch(), 0);
}

TEST_F(SettingsDialogs, QrvExportLocksCompressorAndColourAndChecksFieldOrder) {
  defaults_.qrvExport = settings.qrvExport = 1;
  Expect(kAviSettingsTemplate,
         "caption Export QRV File; compressor off No Compression; colour off 24 Bits; "
         "audioOptions hidden; dvReverse [x]",
         "click ok");
  Finish(1, "");
  EXPECT_EQ(ReadProfileInt("Last Make Movie", "DV Reverse", 0, 0), 1);
}

// OK is refused until the palette file exists, having stored the DV box.
TEST_F(SettingsDialogs, UserPaletteNeedsAnExistingFileBeforeOkCloses) {
  const std::string palette = host.dir().File("mine.pal");
  norv::test::WriteFileBytes(palette, {'R', 'I', 'F', 'F'});
  settings.colorFormat = kColorPaletteFile;
  std::strcpy(settings.paletteFile, "/no/such/file.pal");
  const std::string opens = "colour 8 Bits, User Select Palette; palette";
  Expect(kAviSettingsTemplate, opens, "click dvReverse: dvReverse [x] / click ok / click cancel");
  EXPECT_EQ(Launch(), 0);
  EXPECT_EQ(ReadProfileInt("Last Make Movie", "DV Reverse", 0, 0), 1);
  ui.AnswerChooser(palette);
  Expect(kAviSettingsTemplate, opens + "; dvReverse [x]", "click palette / click ok");
  Finish(1, "colour 84");
  EXPECT_EQ(ui.messages(), Lines{"Select a valid palette file."});
  EXPECT_EQ(std::string(settings.paletteFile), palette);
  ASSERT_EQ(ui.choosers().size(), 1u);
  const norv::ui::OpenFileRequest& asked = ui.choosers()[0];
  EXPECT_EQ(Join({asked.title, asked.filterDescription, asked.filterPattern, asked.defaultExtension,
                  asked.path, std::to_string(asked.maxPath), std::to_string(asked.fileMustExist)}),
            "Select palette file\nPalette File (pal)\n*.pal\npal\n/no/such/file.pal\n259\n0");
}

std::string Options(int quality, int keys) {
  const std::string q = std::to_string(quality), k = std::to_string(keys);
  return "quality " + q + " 0..100; qualityLabel " + q + "; keys " + k + " 1..999; keysLabel " + k;
}

TEST_F(SettingsDialogs, EachCompressorRowRemembersQualityKeyFramesAndState) {
  ScriptedCompressor a(kHandlerA), b(MakeFourCC("SCRB"));
  b.Edit()->defaultQuality = 5000;
  b.Edit()->defaultKeyFrameRate = 8;
  const std::vector<std::uint8_t> saved(ScriptedCompressor::kStateSize, 0xA5);
  SetFields(settings, "compressor SCRA; quality 6000 keys 7 only 0; state 24/1000");
  settings.compressorState = HostAlloc(1000, 1);
  std::memcpy(HostBlockAddress(settings.compressorState), saved.data(), saved.size());
  Expect(kAviSettingsTemplate, Chosen("~SCRA") + "; compressor[] No Compression|~SCRA|~SCRB",
         "click options / pick compressor=~SCRB: compressor ~SCRB / click options / "
         "pick compressor=~SCRA: compressor ~SCRA / click options / click ok");
  Expect(kCompressionOptionsTemplate, Options(60, 7),
         "scroll quality=33: " + Options(33, 7) + " / scroll keys=10: " + Options(33, 10) +
             " / click ok");
  Expect(kCompressionOptionsTemplate, Options(50, 8), "click cancel");
  Expect(kCompressionOptionsTemplate, Options(33, 10), "click cancel");
  Finish(1, "compressor SCRA; quality 3300 keys 10 only 0; state 24/1000");
  EXPECT_EQ(StateBytes(settings), saved);
  EXPECT_EQ(a.lastStateSet(), saved);  // the compressor started from the saved state
}

// Compression Options over a record without state: OK takes the rounded
// quality and the state the compressor confirms (room for it in whole
// thousands, to spare even at a multiple), Cancel takes nothing.
TEST_F(SettingsDialogs, CompressionOptionsOkTakesQualityAndConfirmedStateCancelNothing) {
  constexpr DWORD kSmall = ScriptedCompressor::kStateSize;
  struct Case {
    DWORD stateSize;
    LRESULT handOver;  // what the compressor answers when it copies its state out
    const char* steps;
    const char* record;
  };
  for (const Case& c : {
           Case{kSmall, kSmall, "click ok", "quality 7500 keys 4 only 0; state 24/1000"},
           Case{kSmall, kSmall,
                "scroll quality=20: quality 20 0..100; qualityLabel 20 / click cancel",
                "quality 7550 keys 4 only 0; state 0/0"},
           Case{1000, 1000, "click ok", "quality 7500 keys 4 only 0; state 1000/2000"},
           Case{kSmall, kSmall - 12, "click ok", "quality 7500 keys 4 only 0; state 0/1000"},
       }) {
    SCOPED_TRACE(testing::Message() << c.stateSize << " bytes, answer " << c.handOver);
    ScriptedCompressor a(kHandlerA);
    a.SetState(c.stateSize, c.handOver);
    HostFree(&settings.compressorState);
    SetFields(settings, "compressor SCRA; quality 7550 keys 4 only 0; state 0/0");
    Expect(kAviSettingsTemplate, Chosen("~SCRA") + "; compressor[] No Compression|~SCRA",
           "click options / click ok");
    Expect(kCompressionOptionsTemplate, "", c.steps);
    Finish(1, std::string("compressor SCRA; ") + c.record);
    std::vector<std::uint8_t> state = a.state();
    state.resize(settings.compressorStateSize);
    EXPECT_EQ(StateBytes(settings), state);
  }
}

// "No Compression" offers the five palettes and 24 bits, no data rate, no
// options. A compressor without temporal compression, and ZQKM whatever it
// says, makes every frame a key frame, unless the record already names it.
TEST_F(SettingsDialogs, CompressorWithoutTemporalCompressionMakesEveryFrameAKey) {
  ScriptedCompressor c(MakeFourCC("SCRC")), zqkm(MakeFourCC("ZQKM"));
  c.Edit()->flags = VIDCF_QUALITY;
  settings.colorFormat = kColor666;
  const std::string rows = "; compressor[] No Compression|~SCRC|~ZQKM";
  Expect(kAviSettingsTemplate, "colour 8 Bits, 6-6-6 Levels" + rows,
         "pick compressor=~SCRC: " + Chosen("~SCRC") + " / click ok");
  Finish(1, "compressor SCRC; quality 7500 keys 1 only 1");
  settings.keyFrameEvery = 5;
  Expect(kAviSettingsTemplate, Chosen("~SCRC") + rows, "click ok");
  Finish(1, "compressor SCRC; quality 7500 keys 5 only 1");
  Expect(kAviSettingsTemplate, Chosen("~SCRC") + rows,
         "pick compressor=~ZQKM: " + Chosen("~ZQKM") + " / click ok");
  Finish(1, "compressor ZQKM; quality 7500 keys 1 only 1");
}

// Motion JPEG is probed opened for compressing, and listed with 24 bits when
// it will not open so. Depths up to 27 bits have rows of their own; beyond,
// 24 bits stands in.
TEST_F(SettingsDialogs, MotionJpegIsProbedOpenForCompressingAndListedEvenWhenItWillNotOpenSo) {
  for (const auto& [bits, depth] : {std::pair<WORD, int>{0, 24}, {16, 16}, {27, 27}, {32, 24}}) {
    SetFields(settings, "compressor 0; colour 24");
    ScriptedCompressor m(MakeFourCC("MJPG"));  // replaces the built-in one
    if (bits == 0) m.Edit()->refusedMode = ICMODE_COMPRESS;
    m.Edit()->formatsOnlyWhenCompressing = bits != 0;
    m.Edit()->outBits = bits;
    const std::string row = std::to_string(depth) + " Bits";
    Expect(kAviSettingsTemplate, "compressor[] No Compression|~MJPG",
           "pick compressor=~MJPG: " + Chosen("~MJPG") + "; colour " + row + "; colour[] " + row +
               "=" + std::to_string(depth) + " / click ok");
    EXPECT_EQ(Launch(), 1);
    settings.quality = 7500;  // whatever the compressor probed before it answered
    settings.keyFrameEvery = 4;
    ExpectRecord("compressor MJPG; colour " + std::to_string(depth));
  }
}

// An 8-bit compressor answers the palettised probe with a 1064-byte format
// (header and 256 colours) and offers the five 8-bit rows, no 24 bits; one
// that answers another depth offers none of them. Newly chosen, a compressor
// starts from its first row, not from the colour chosen before.
TEST_F(SettingsDialogs, EightBitCompressorOffersTheEightBitRowsOnly) {
  ScriptedCompressor odd(kHandlerA);
  odd.Edit()->eightBitInput = true;
  odd.Edit()->outBits = 16;
  settings.colorFormat = kColor666;
  const std::string rle =
      "pick compressor=Microsoft RLE 8-bit: compressor Microsoft RLE 8-bit; options; colour 8 "
      "Bits, 3-3-2 Bits; colour[] 8 Bits, 3-3-2 Bits=80|8 Bits, 6-6-6 Levels=81|8 Bits, 6-7-6 "
      "Levels=82|8 Bits, Common Optimum=83|8 Bits, User Select Palette=84; dataRate off Default";
  Expect(kAviSettingsTemplate, "compressor[] No Compression|~SCRA; colour 8 Bits, 6-6-6 Levels",
         rle + " / pick compressor=~SCRA: " + Chosen("~SCRA") + " / " + rle + " / click ok");
  EXPECT_EQ(Launch(), 1);
  settings.quality = 7500;  // it does not answer: another's last answer stays
  ExpectRecord("compressor MRLE; colour 80; quality 7500 keys 1 only 1");
}

// Re-choosing the compressor changes nothing; another starts from its own
// defaults (msvc's key frames from the rule, quality clamped) and "Default".
TEST_F(SettingsDialogs, CompressorRowsFollowTheirRulesAndPlaybackRowsCarryTheirRates) {
  ScriptedCompressor a(kHandlerA), msvc(MakeFourCC("msvc")), loud(MakeFourCC("SCRB")),
      hidden(MakeFourCC("iv31"));
  msvc.Edit()->defaultQuality = 7000;
  msvc.Edit()->defaultKeyFrameRate = 9;
  loud.Edit()->defaultQuality = 20000;
  loud.Edit()->defaultKeyFrameRate = 6;
  SetFields(settings, "compressor SCRA; quality 1234 keys 4 only 0; dataRate 3 600");
  const std::string rows = "; compressor[] No Compression|~SCRA|~SCRB|~msvc";
  Expect(kAviSettingsTemplate, Chosen("~SCRA") + rows + "; dataRate 600 KB/Sec",
         "pick compressor=~SCRA / select dataRate=7: dataRate 150 KB/Sec / click ok");
  Finish(1, "compressor SCRA; quality 1234 keys 4 only 0; dataRate 7 150");
  Expect(kAviSettingsTemplate, Chosen("~SCRA") + rows + "; dataRate 150 KB/Sec",
         "pick compressor=~msvc: " + Chosen("~msvc") + " / click ok");
  Finish(1, "compressor msvc; quality 7000 keys 4 only 0");
  Expect(kAviSettingsTemplate, Chosen("~msvc") + rows,
         "pick compressor=~SCRB: " + Chosen("~SCRB") + " / click ok");
  Finish(1, "compressor SCRB; quality 10000 keys 6 only 0");
}

// The menu stands right of the button; "Same As Project" only with a project,
// checked when the lists show the project's audio. Cancel still normalises
// the block: known values only, the other words kept.
TEST_F(SettingsDialogs, AudioPresetMenuOffersSameAsProjectAndCancelNormalisesTheBlock) {
  ui.AnswerMenu(kPresetSameAsProject);
  Expect(kAviSettingsTemplate, "", "click audioSettings / click ok");
  Expect(kAudioSettingsTemplate, "", "click preset: rate 48000 / click preset / click ok");
  defaults_.audioFormat[0] = 1;  // the project's block is taken whole
  Finish(1, "audio 1 1 16/48000/2");
  const std::uint32_t odd[14] = {99, 12, 8000, 6, 5, 6, 7};
  std::memcpy(settings.audioFormat, odd, sizeof odd);
  std::memcpy(defaults_.audioFormat, odd, sizeof odd);
  Expect(kAviSettingsTemplate, "", "click audioSettings / click ok");
  Expect(kAudioSettingsTemplate, "bits 8; rate 11025; channels Mono, 1 Channel",
         "click preset / click cancel");
  Finish(1, "audio 1 1 8/11025/1", /*withProject=*/false);
  norv::ui::Dialog audio(*FindDialogTemplate(kAudioSettingsTemplate));
  const norv::ui::ScreenRect button = ui.ControlScreenRect(audio, kAudioPresetButton);
  Lines menus;
  for (const auto& menu : ui.menus()) {
    menus.push_back(std::to_string(menu.at.x - button.right) + "," +
                    std::to_string(menu.at.y - button.top) + ":");
    for (const auto& item : menu.items)
      menus.back() +=
          " " + std::to_string(item.id) + " " + item.text + (item.checked ? " [x]" : "");
  }
  EXPECT_EQ(Join(menus),
            "5,0: 12000 Load 12001 Save 12002 Same As Project\n"
            "5,0: 12000 Load 12001 Save 12002 Same As Project [x]\n5,0: 12000 Load 12001 Save");
}

// Save stores the lists as shown, Load brings them back; the host is asked
// (as a host with windows asks) for a file to write, then for one to read.
TEST_F(SettingsDialogs, AudioPresetsSaveTheListsAndLoadThemBack) {
  static Lines asked;
  static std::string answer;
  asked.clear();
  answer = host.dir().File("voice.ostwav");
  NorvHostDialogs dialogs{};
  dialogs.presetPath = [](void*, std::int32_t mode, char* path, const char* extension, HWND) {
    asked.push_back(std::to_string(mode) + extension);  // mode 0 saves, 1 loads
    std::strcpy(path, answer.c_str());
    return std::int32_t{1};
  };
  NorvHostSetDialogs(&dialogs);
  ui.AnswerMenu(kPresetSave);
  ui.AnswerMenu(kPresetLoad);
  Expect(kAviSettingsTemplate, "", "click audioSettings / click ok");
  Expect(kAudioSettingsTemplate, "",
         "pick rate=22050: rate 22050 / select channels=0: channels Mono, 1 Channel / click "
         "preset / pick bits=8: bits 8 / pick rate=48000: rate 48000 / select channels=1: "
         "channels Stereo, 2 Channels / click preset: bits 16; rate 22050; channels Mono, 1 "
         "Channel / click ok");
  EXPECT_EQ(Launch(), 1);
  EXPECT_EQ(asked, (Lines{"0.ostwav", "1.ostwav"}));
  ExpectRecord("audio 1 1 16/22050/1");
  EXPECT_TRUE(ui.messages().empty());
}

// The sliders keep to their ranges: "Default" (-1) shows at the low end, the
// top end is kept, the excess is not.
TEST_F(SettingsDialogs, InterleaveAndCustomDataRateComeFromTheirSliders) {
  ScriptedCompressor a(kHandlerA);
  settings.compressorHandler = kHandlerA;
  Expect(kAviSettingsTemplate, Chosen("~SCRA") + "; compressor[] No Compression|~SCRA",
         "click audioOptions / select dataRate=8: dataRate Custom Option; playback / click "
         "playback / click ok");
  Expect(kAudioOptionsTemplate, "", "scroll track=-5: track 1 1..999; label 1 / click ok");
  Expect(kPlaybackOptionsTemplate, "",
         "scroll track=12: track 12 1..8000; label 12 / scroll track=9000: track 8000 1..8000; "
         "label 8000 / click ok");
  Finish(1, "compressor SCRA; dataRate 8 8000; interleave 1");
}

// Each listed file is a preset of its own width (pNNN is NNN + 300 pixels
// wide), so the width shows which one was loaded. Its audio (8000 Hz, every
// 3 frames, off) arrives only when both the dialog and the preset have audio.
TEST_F(SettingsDialogs, VideoPresetsListTwentyOfTwentyFiveAndApplyTheAudioRule) {
  for (const auto& [dialogAudio, presetAudio, chosen] :
       {std::tuple{1, 0, 4}, std::tuple{0, 1, 19}, std::tuple{1, 1, 12}}) {
    SCOPED_TRACE(testing::Message()
                 << "dialog audio " << dialogAudio << ", preset audio " << presetAudio);
    settings.audioAvailable = dialogAudio;
    AviSettings preset = settings;
    SetFields(preset, "audio " + std::to_string(presetAudio) + " 0 16/8000/2; interleave 3");
    for (int i = 0; i < 25; ++i) {
      preset.width = 400 + i;
      const std::string name = "p" + std::to_string(100 + i) + ".ostavi";
      ASSERT_NE(SavePresetFile(1, &preset, (samples_ / name).c_str()), 0);
    }
    ASSERT_NE(SavePresetFile(1, &preset, (samples_ / ".hidden.ostavi").c_str()), 0);
    std::filesystem::create_directories(samples_ / "folder.ostavi");
    ui.AnswerMenu(kPresetListedFirst + chosen);
    int width = 0;
    ui.Expect(kAviSettingsTemplate, [&, chosen = chosen](ScriptedUser& user) {
      user.Click(kLoadPreset);
      ASSERT_GT(ui.menus().back().items.size(), static_cast<std::size_t>(chosen));
      width = 300 + std::stoi(ui.menus().back().items[chosen].text.substr(1, 3));
      EXPECT_EQ(user.Text(kWidthEdit), std::to_string(width));
      EXPECT_EQ(ui.menus().back().at.x, user.dialog().ControlScreenRect(kLoadPreset).right + 5);
      user.Click(kIdOk);
    });
    EXPECT_EQ(Launch(), 1);
    std::string menu;
    for (const auto& item : ui.menus().back().items)
      menu += item.separator ? "-|" : std::to_string(item.id) + " " + item.text.substr(0, 1) + "|";
    EXPECT_EQ(menu,
              "7010 p|7011 p|7012 p|7013 p|7014 p|7015 p|7016 p|7017 p|7018 p|7019 p|7020 p|7021 "
              "p|7022 p|7023 p|7024 p|7025 p|7026 p|7027 p|7028 p|7029 p|-|7030 B|");
    EXPECT_EQ(ui.menus().back().flags, norv::ui::kTrackRightButton);
    ExpectRecord("size " + std::to_string(width) + "x120; audio " + std::to_string(dialogAudio) +
                 (dialogAudio + presetAudio == 2 ? " 0 16/8000/2; interleave 3"
                                                 : " 1 16/44100/2; interleave 30"));
  }
  EXPECT_EQ(ui.menus().size(), 3u);
}

// Without a listed file Load and Save ask the host's chooser at once; Save
// reads the controls first. A loaded preset is shown within the limits in
// force when it arrives: after "Field 2" under hardware acceleration on a
// 486-line project that is 242 lines (243 made even), though the preset
// turns the acceleration off.
TEST_F(SettingsDialogs, VideoPresetsOfAnEmptyFolderBrowseAndAreClampedWithTheLimitsInForce) {
  NorvHostSetPresetPathAnswer(host.dir().File("chosen.ostavi").c_str());
  Expect(kAviSettingsTemplate, "",
         "type width=640: width 640 / click save / type width=100: width 100 / click load: width "
         "640 / click cancel");
  EXPECT_EQ(Launch(), 0);

  NorvHostSetPresetPathAnswer("/no/such/folder/x.ostavi");
  Expect(kAviSettingsTemplate, "", "click save / click load / click cancel");
  EXPECT_EQ(Launch(), 0);
  EXPECT_EQ(ui.messages(), (Lines{"Failed to save.", "Failed to load."}));  // none before

  AviSettings preset = settings;
  SetFields(preset, "size 720x486; field 4; hw 0");
  const std::string path = host.dir().File("tall.ostavi");
  ASSERT_NE(SavePresetFile(1, &preset, path.c_str()), 0);
  NorvHostSetPresetPathAnswer(path.c_str());
  NorvHostSetHardware(1);
  NorvHostSetProject(720, 486, 2997);
  SetFields(settings, "size 720x486; field 4; hw 1");
  Expect(kAviSettingsTemplate,
         "hwGroup; hw [x]; hwOptions; rate[] 29.97|25|24|15|12|10|8|6|5|4|3|2|1; width 720; "
         "height 242; field Field 2; subPixel off [ ]; cropping off",
         "click load: hw [ ]; hwOptions off; rate[] 30|29.97|25|24|15|12|10|8|6|5|4|3|2|1; "
         "subPixel [ ]; cropping / click ok");
  Finish(1, "size 720x242; field 4");
  EXPECT_TRUE(ui.menus().empty());  // no walk offered a menu
}

}  // namespace
