// The whole file against a model of the layout rules written here from the
// settings alone: every header field, the chunk tree in order with its sizes
// and pad bytes, 'rec ' records, where each audio slice goes and which bytes
// it holds, and every idx1 entry. One sweep over frame rates, interleaves,
// audio formats, both audio sources (pushed and a wave file), a project rate
// that differs from the movie's, the profile switch that turns interleaving
// off, and uncompressed, 8-bit and compressed video.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <source_location>
#include <tuple>

#include "hoststub/norv_host.h"
#include "plugin/host/host_api.h"
#include "plugin/session/movie_context.h"
#include "tests/support/avi_walk.h"
#include "tests/support/plugin_fixture.h"
#include "tests/support/scripted_compressor.h"

namespace {

// Waits for pushed audio short enough that a test need not wait twenty seconds.
constexpr AudioWaitLimits kShortWaits{200, 100};

using namespace norv::test;

enum class Audio { kNone, kPushed, kWaveFile };
enum class Video { k24, k8, kScripted };

struct Config {
  float rate = 25.0f;
  std::uint32_t spanMs = 1000;
  int interleave = 1;
  int keyEvery = 4;
  Audio audio = Audio::kPushed;
  int bits = 16, sampleRate = 44100, channels = 2;
  Video video = Video::k24;
  int dataRate = -1;
  int projectRateX100 = 0;  // non-zero: the movie follows a project of this rate
  bool noInterleave = false;
  std::uint32_t waveExtra = 0;           // bytes of the wave file's data past whole blocks
  std::uint32_t waveBlocks = 0;          // non-zero: the wave file holds only this many blocks
  int width = 21, height = 6;            // an odd width pads the rows
  bool dvReverse = false, ntsc = false;  // the field-order shift, which NTSC turns off
};

// The header words in file order; "" skips a word.
const std::vector<const char*> kAvih = {
    "microSecPerFrame", "maxBytesPerSec", "paddingGranularity",  "flags",    "totalFrames",
    "initialFrames",    "streams",        "suggestedBufferSize", "width",    "height",
    "reserved0",        "reserved1",      "reserved2",           "reserved3"};
const std::vector<const char*> kStrh = {
    "type",    "handler",    "flags", "priority", "initialFrames",
    "scale",   "rate",       "start", "length",   "suggestedBufferSize",
    "quality", "sampleSize", "left",  "top",      "right",
    "bottom"};
const std::vector<const char*> kVideoStrf = {
    "size", "width", "height", "planesAndBits", "compression", "sizeImage", "", "", "coloursUsed"};
const std::vector<const char*> kAudioStrf = {"tagAndChannels", "samplesPerSec", "avgBytesPerSec",
                                             "alignAndBits"};

// ---- The model ----------------------------------------------------------

struct Node {
  std::string id, type;  // type only for lists
  std::uint32_t size = 0;
  std::vector<Node> children;
  std::uint32_t flags = 0;  // of its idx1 entry
};

struct Expected {
  std::map<std::string, std::uint32_t> fields;  // "avih.flags" -> value
  Node riff;
  std::vector<const Node*> index;  // resolved to offsets once laid out
  // The audio chunks' byte ranges of the whole audio, in file order.
  std::vector<std::pair<std::uint32_t, std::uint32_t>> slices;
  std::uint32_t inputs = 0;             // the frames the host sends
  std::vector<std::uint32_t> pictures;  // the host frame each video chunk holds
  std::vector<std::string> messages;
};

DWORD ScriptedSize(DWORD quality, bool key) {
  return (quality / 97 + 31) * (key ? 3 : 1);  // odd sizes too, so pad bytes show
}

Expected Model(const Config& c, std::uint32_t waveTotal) {
  Expected x;
  const bool audio = c.audio != Audio::kNone;
  const auto n = static_cast<std::uint32_t>(static_cast<double>(c.spanMs) / 1000.0 * c.rate + 0.5);
  const float outputRate =
      c.projectRateX100 != 0 ? static_cast<float>(c.projectRateX100) / 100.0f : c.rate;
  const auto e = static_cast<std::uint32_t>(c.interleave);
  const bool records = e == 1 && !c.noInterleave;
  const std::uint32_t lf =
      records ? static_cast<std::uint32_t>(static_cast<double>(outputRate) * 0.75) : 0;
  const std::uint32_t lead = audio ? std::min(lf, n) : 0;
  const auto w = static_cast<std::uint32_t>(c.width), h = static_cast<std::uint32_t>(c.height);

  // Video: the largest frame (rows padded to four bytes), the quality the
  // data rate leaves a compressor.
  const bool scripted = c.video == Video::kScripted;
  const std::uint32_t bits = c.video == Video::k8 ? 8 : 24;
  const std::uint32_t handler = scripted ? MakeFourCC("MDLX") : 0;
  const auto dataRate = static_cast<std::uint32_t>(c.dataRate);
  std::uint32_t quality = 7500, maxFrame = scripted ? 5000 : (w * bits + 31) / 32 * 4 * h;
  for (int tries = 0; scripted && c.dataRate != -1 && tries < 10; ++tries) {
    const DWORD size = ScriptedSize(quality, true);
    const auto rate = static_cast<std::uint32_t>(static_cast<float>(size) * c.rate);
    if (static_cast<double>(rate) * 0.9 <= static_cast<double>(dataRate * 1024u)) {
      maxFrame = size;
      if (tries > 0) x.messages = {"Image quality adjusted to satisfy the data rate!"};
      break;
    }
    quality = static_cast<std::uint32_t>(static_cast<float>(quality) * 0.9f);
  }

  // Audio: the whole, its block, the slice per interleave.
  const auto align = static_cast<std::uint32_t>(c.bits / 8 * c.channels);
  const std::uint32_t avg = align * static_cast<std::uint32_t>(c.sampleRate);
  std::uint32_t total = waveTotal;
  if (c.audio == Audio::kPushed) {
    total = static_cast<std::uint32_t>(static_cast<double>(c.spanMs) * avg / 1000.0 + 0.5);
    total -= total % align;
  }
  const float perInterleave =
      static_cast<float>(total) / (static_cast<float>(n) / static_cast<float>(e));
  const float peak = static_cast<float>(maxFrame) + (audio ? perInterleave : 0.0f);

  auto put = [&](const std::string& prefix, const std::vector<const char*>& names,
                 const std::vector<std::uint32_t>& values) {
    for (std::size_t i = 0; i < names.size(); ++i)
      if (*names[i] != '\0') x.fields[prefix + names[i]] = values[i];
  };
  put("avih.", kAvih,
      {static_cast<std::uint32_t>(1000000.0 / c.rate),
       c.dataRate != -1 ? dataRate * 1024u : static_cast<std::uint32_t>(peak * c.rate), 0,
       audio && records ? 0x110u : 0x10u, n, lead, audio ? 2u : 1u,
       audio ? static_cast<std::uint32_t>(peak) : maxFrame, w, h, 0, 0, 0, 0});
  // The session keeps the rate it wrote, in KiB, for what follows.
  x.fields["session.dataRate"] =
      c.dataRate != -1 ? dataRate : static_cast<std::uint32_t>(peak / 1024.0);
  put("strh0.", kStrh,
      {MakeFourCC("vids"), handler, 0, 0, 0, 1000,
       static_cast<std::uint32_t>(c.rate * 1000.0 + 0.5), 0, n, maxFrame, quality, 0, 0, 0, w, h});
  put("strf0.", kVideoStrf,
      {40, w, h, 1u | bits << 16, handler, scripted ? 5000 : maxFrame, 0, 0,
       c.video == Video::k8 ? 256u : 0u});
  if (audio) {
    put("strh1.", kStrh,
        {MakeFourCC("auds"), 0, 0, 0, lead, 1, static_cast<std::uint32_t>(c.sampleRate), 0,
         total / align, static_cast<std::uint32_t>(perInterleave + 0.5), 0, align, 0, 0, 0, 0});
    put("strf1.", kAudioStrf,
        {1u | static_cast<std::uint32_t>(c.channels) << 16,
         static_cast<std::uint32_t>(c.sampleRate), avg,
         align | static_cast<std::uint32_t>(c.bits) << 16});
  }

  // The tree.
  auto strl = [](std::uint32_t format) {
    return Node{"LIST", "strl", 0, {{"strh", "", 64, {}}, {"strf", "", format, {}}}};
  };
  Node hdrl{"LIST", "hdrl", 0, {{"avih", "", 56, {}}, strl(c.video == Video::k8 ? 1064 : 40)}};
  if (audio) hdrl.children.push_back(strl(16));
  x.riff = {"RIFF", "AVI ", 0, {hdrl, {"LIST", "movi", 0, {}}, {"idx1", "", 0, {}}}};
  std::vector<Node>& movi = x.riff.children[1].children;
  movi.reserve(4 * n + 64);  // index entries point into it

  std::uint32_t sliceEnd = 0;
  auto slice = [&](float progress) {
    const double fraction = progress < 1.0f ? static_cast<double>(progress) : 1.0;
    auto end =
        static_cast<std::uint32_t>(static_cast<double>(static_cast<float>(total)) * fraction);
    end = std::min(end, total);
    end -= end % align;
    const std::uint32_t start = sliceEnd;
    sliceEnd = std::max(end, start);
    x.slices.push_back({start, sliceEnd});
    return Node{"01wb", "", sliceEnd - start, {}};
  };
  // One group: inside a record when records are in use.
  auto group = [&](std::vector<Node> chunks) {
    if (records) {
      movi.push_back({"LIST", "rec ", 0, std::move(chunks), 0x01});
      x.index.push_back(&movi.back());
      for (const Node& chunk : movi.back().children) x.index.push_back(&chunk);
    } else {
      for (const Node& chunk : chunks) {
        movi.push_back(chunk);
        x.index.push_back(&movi.back());
      }
    }
  };
  // The host sends frames at the project's rate when the movie follows it.
  // Following a faster project, a host frame is dropped when it falls on the
  // same movie frame as the one before; a slower one sends fewer frames than
  // the headers count, and the movie ends with the last.
  const double inputRate = c.projectRateX100 != 0 ? c.projectRateX100 / 100.0 : c.rate;
  x.inputs = static_cast<std::uint32_t>(c.spanMs / 1000.0 * inputRate + 0.5);
  for (std::uint32_t i = 0, last = ~0u; i < x.inputs && x.pictures.size() < n; ++i) {
    const auto at = static_cast<std::uint32_t>(static_cast<double>(c.rate / outputRate) *
                                               static_cast<double>(static_cast<float>(i)));
    if (c.projectRateX100 == 0 || at != last) x.pictures.push_back(i);
    last = at;
  }
  for (std::uint32_t i = 1; i <= lead; ++i)
    group({slice(std::min(static_cast<float>(i) / static_cast<float>(n), 1.0f))});
  // The rule counts frames from 1, the frame being written included.
  for (std::uint32_t m = 1; m <= x.pictures.size(); ++m) {
    const bool key = c.keyEvery <= 1 || m % static_cast<std::uint32_t>(c.keyEvery) == 0;
    const DWORD size = scripted ? ScriptedSize(quality, key) : maxFrame;
    const Node frame{key ? "00db" : "00dc", "", size, {}, key ? 0x10u : 0u};
    bool withAudio = audio && m + 1 == n && e != 1;
    float progress = 1.0f;
    if (audio && n - m > lf) {
      progress = static_cast<float>(m + lf + 1) / static_cast<float>(n);
      withAudio = (m + 1) % e == 0 || (m + 1 == n && e != 1);
    }
    group(withAudio ? std::vector<Node>{frame, slice(progress)} : std::vector<Node>{frame});
  }
  x.riff.children[2].size = static_cast<std::uint32_t>(16 * x.index.size());
  return x;
}

// Lays the model's nodes out in order from `at`: each list's size from its
// children, each node's offset, and the chunks a walk of the file finds.
void Layout(Node* n, std::uint32_t at, int depth, std::map<const Node*, std::uint32_t>* offsets,
            std::vector<WalkedChunk>* out) {
  (*offsets)[n] = at;
  const std::size_t self = out->size();
  out->push_back({n->id, n->type, at, n->size, depth});
  if (n->id != "RIFF" && n->id != "LIST") return;
  n->size = 4;
  for (Node& c : n->children) {
    Layout(&c, at + 8 + n->size, depth + 1, offsets, out);
    n->size += 8 + c.size + (c.size & 1);  // odd chunks are padded
  }
  (*out)[self].size = n->size;
}

// ---- The movie ----------------------------------------------------------

class LayoutModel : public ::testing::Test {
 protected:
  void TearDown() override { WriteProfileInt("KOBRA", "KOBRA_INTERLEAVE", 0, 0); }

  // A wave file beside the movie holding whole blocks for the span plus `extra`.
  std::uint32_t WriteWave(const Config& c, std::vector<std::uint8_t>* data) {
    const auto align = static_cast<std::uint32_t>(c.bits / 8 * c.channels);
    const auto rate = static_cast<std::uint32_t>(c.sampleRate);
    std::uint32_t size = c.waveBlocks != 0 ? c.waveBlocks * align : c.spanMs * align * rate / 1000;
    size = size - size % align + c.waveExtra;
    *data = PatternFrame(static_cast<int>(size), 1, 77);
    data->resize(size);
    WriteFileBytes(host.dir().File("out.wav"),
                   RiffBytes("WAVE", {{"fmt ", WaveFormatData(c.channels, c.sampleRate, c.bits)},
                                      {"data", *data}}));
    return size;
  }

  void Check(const Config& c, std::source_location where = std::source_location::current()) {
    SCOPED_TRACE(::testing::Message() << "the case at line " << where.line());
    messages.clear();
    MovieSetup setup(host.dir());
    AviSettings& s = setup.settings;
    s.width = c.width;
    s.height = c.height;
    s.frameRate = c.rate;
    s.interleaveFrames = c.interleave;
    s.keyFrameEvery = c.keyEvery;
    s.dataRate = c.dataRate;
    s.audioEnabled = c.audio != Audio::kNone ? 1 : 0;
    s.audioFormat[1] = static_cast<std::uint32_t>(c.bits);
    s.audioFormat[2] = static_cast<std::uint32_t>(c.sampleRate);
    s.audioFormat[3] = static_cast<std::uint32_t>(c.channels);
    s.colorFormat = c.video == Video::k8 ? kColor332 : 24;
    std::unique_ptr<ScriptedCompressor> scripted;
    if (c.video == Video::kScripted) {
      scripted = std::make_unique<ScriptedCompressor>(MakeFourCC("MDLX"), &ScriptedSize);
      scripted->Edit()->maxFrameBytes = 5000;
      s.compressorHandler = MakeFourCC("MDLX");
    }
    setup.SetSpan(1000, 1000 + c.spanMs);
    if (c.projectRateX100 != 0) {
      NorvHostSetProject(c.width, c.height, c.projectRateX100);
      setup.request.sameAsProject = 1;
    }
    WriteProfileInt("KOBRA", "KOBRA_INTERLEAVE", c.noInterleave ? 1 : 0, 0);
    WriteProfileInt("Last Make Movie", "DV Reverse", c.dvReverse ? 1 : 0, 0);
    NorvHostSetNtsc(c.ntsc ? 1 : 0);
    NorvHostSetHardware(c.audio == Audio::kWaveFile ? 0 : 1);

    std::vector<std::uint8_t> audio;
    const std::uint32_t waveTotal = c.audio == Audio::kWaveFile ? WriteWave(c, &audio) : 0;
    Expected x = Model(c, waveTotal);

    MovieSession* session = CreateMovieSession(&setup.request, kShortWaits);
    ASSERT_NE(session, nullptr);
    std::map<std::string, std::uint32_t> got;
    got["session.dataRate"] = static_cast<std::uint32_t>(session->dataRate);
    ASSERT_EQ(session->audio.BeginAudioCapture(), 0);
    std::uint32_t done = 0;
    if (c.audio == Audio::kPushed) {
      const std::uint32_t whole = x.fields.at("strh1.length") * x.fields.at("strh1.sampleSize");
      audio = PatternFrame(static_cast<int>(whole), 1, 5);
      audio.resize(whole);
      AudioBlock b{audio.data(), whole};
      ASSERT_EQ(session->StoreAudioBlock(&b, &done), 0);
    }
    for (std::uint32_t i = 0; i < x.inputs; ++i) {
      const auto frame = PatternFrame(c.width, c.height, i);
      ASSERT_EQ(session->CompressAviFrame(frame.data(), &done), 0) << "frame " << i;
    }
    session->CloseCompression();
    session->FinishMovie();
    delete session;
    const auto b = ReadFileBytes(setup.path);
    EXPECT_EQ(messages.texts(), x.messages);
    // The temporary audio goes once the host has streamed it; beside a wave file it stays.
    if (c.audio != Audio::kNone) {
      EXPECT_EQ(std::filesystem::exists(host.dir().File("Taltemp101wav.tmp")),
                c.audio == Audio::kWaveFile);
    }

    // Fields, by name: every word of the headers the model names.
    const AviWalk w = WalkAvi(b);
    auto read = [&](const std::string& prefix, std::size_t at,
                    const std::vector<const char*>& names) {
      for (const char* name : names) {
        if (*name != '\0') got[prefix + name] = Le32(b, at);
        at += 4;
      }
    };
    read("avih.", 32, kAvih);
    std::size_t stream = 0;  // a stream too many or too few: the keys differ
    for (const auto& ch : w.chunks) {
      const std::string prefix = ch.id + std::to_string(stream) + ".";
      if (ch.id == "strh") read(prefix, ch.headerOffset + 8, kStrh);
      if (ch.id == "strf") read(prefix, ch.headerOffset + 8, stream++ ? kAudioStrf : kVideoStrf);
    }
    EXPECT_EQ(got, x.fields);

    // The chunk tree, in file order.
    std::map<const Node*, std::uint32_t> offsets;
    std::vector<WalkedChunk> model;
    Layout(&x.riff, 0, 0, &offsets, &model);
    EXPECT_EQ(b.size(), 8u + x.riff.size);
    ASSERT_TRUE(w.sizesConsistent);
    ASSERT_EQ(w.chunks, model);             // so the chunks below are the model's, to the byte
    for (const auto& [node, at] : offsets)  // pad bytes are zero
      EXPECT_TRUE((node->size & 1) == 0 || node->id == "LIST" || b[at + 8 + node->size] == 0)
          << node->id << " at " << at;

    // The index, entry by entry.
    const std::uint32_t movi = offsets.at(&x.riff.children[1]) + 8;
    std::vector<WalkedIndexEntry> index;
    for (const Node* m : x.index)  // a record's entry is named by its type
      index.push_back({m->type.empty() ? m->id : m->type, m->flags, offsets.at(m) - movi, m->size});
    EXPECT_EQ(w.index, index);

    // Each video chunk holds its host frame, each audio chunk its slice.
    std::size_t k = 0, v = 0;
    for (const auto& ch : w.chunks) {
      if (c.video == Video::k24 && (ch.id == "00db" || ch.id == "00dc")) {
        auto picture = PatternFrame(c.width, c.height, x.pictures[v++]);
        if (c.dvReverse && !c.ntsc) {  // a line up and two pixels right, the first bytes black
          const std::size_t shift = static_cast<std::size_t>(c.width + 2) * 3;
          picture.insert(picture.begin(), shift, 0);
          picture.resize(picture.size() - shift);
        }
        EXPECT_TRUE(std::equal(picture.begin(), picture.end(), b.begin() + ch.headerOffset + 8))
            << "video chunk " << v - 1 << " is not host frame " << x.pictures[v - 1];
      }
      if (ch.id != "01wb") continue;
      const auto [from, to] = x.slices[k++];
      EXPECT_TRUE(std::equal(b.begin() + ch.headerOffset + 8,
                             b.begin() + ch.headerOffset + 8 + ch.size, audio.begin() + from))
          << "audio chunk " << k - 1 << " [" << from << ", " << to << ")";
    }
  }

  HostScope host;
  RecordedMessages messages;
};

TEST_F(LayoutModel, UncompressedMoviesOverRatesInterleavesAndAudio) {
  for (float rate : {25.0f, 29.97f, 15.0f})
    for (int interleave : {1, 3, 30}) {
      SCOPED_TRACE(::testing::Message() << rate << " fps, interleave " << interleave);
      Check({.rate = rate, .interleave = interleave, .keyEvery = interleave == 3 ? 1 : 4});
    }
  Check({.audio = Audio::kNone});
  Check({.interleave = 4, .audio = Audio::kNone});
}

TEST_F(LayoutModel, AudioFormatsBothSourcesAndTheProjectRate) {
  for (const auto& [bits, rate, channels] :
       {std::tuple{8, 22050, 1}, std::tuple{16, 48000, 1}, std::tuple{8, 32000, 2}})
    for (Audio source : {Audio::kPushed, Audio::kWaveFile}) {
      SCOPED_TRACE(::testing::Message() << bits << "/" << rate << "/" << channels << ", source "
                                        << static_cast<int>(source));
      Check({.spanMs = 1300,
             .interleave = source == Audio::kPushed ? 1 : 2,
             .audio = source,
             .bits = bits,
             .sampleRate = rate,
             .channels = channels});
    }
  // A wave file whose data ends in a part block keeps all of it.
  Check({.audio = Audio::kWaveFile, .waveExtra = 3});
  Check({.interleave = 5, .audio = Audio::kWaveFile, .waveExtra = 3});
  // Audio far shorter than the movie: some frames' share is less than a
  // block, and their records still carry an audio chunk, empty.
  Check(
      {.audio = Audio::kWaveFile, .bits = 8, .sampleRate = 22050, .channels = 1, .waveBlocks = 10});
  // A span whose audio ends in the middle of a byte: the whole rounds to the
  // nearer byte, and here that completes the last block.
  Check({.spanMs = 1015, .sampleRate = 22050, .channels = 1});
  // Following a project of twice the rate: every other host frame is dropped,
  // and the lead is the output rate's; from 29.97, one in six. Following a
  // slower project, every host frame is kept, and the movie ends short.
  Check({.rate = 15.0f, .spanMs = 2000, .projectRateX100 = 3000});
  Check({.rate = 25.0f, .spanMs = 2000, .projectRateX100 = 2997});
  Check({.rate = 30.0f, .projectRateX100 = 1500});
  // A lead of a single record (2 fps), and slices larger than the default
  // audio buffer (one a second, interleaved every six).
  Check({.rate = 2.0f});
  Check({.rate = 1.0f, .spanMs = 6000, .interleave = 6, .sampleRate = 48000});
  // A movie shorter than its lead: all the audio goes ahead of the frames.
  Check({.rate = 29.97f, .spanMs = 334});
  // The profile switch: no records, no lead, not marked interleaved.
  Check({.noInterleave = true});
  // The field-order switch shifts every picture, but not under NTSC.
  Check({.dvReverse = true});
  Check({.dvReverse = true, .ntsc = true});
}

TEST_F(LayoutModel, EightBitAndCompressedVideo) {
  Check({.video = Video::k8});
  Check({.keyEvery = 3, .video = Video::kScripted});
  // The fit lowers the quality three times before a test frame fits, then once.
  Check({.interleave = 4, .keyEvery = 3, .video = Video::kScripted, .dataRate = 6});
  Check({.interleave = 4, .keyEvery = 3, .video = Video::kScripted, .dataRate = 7});
  Check({.interleave = 4, .keyEvery = 3, .audio = Audio::kNone, .video = Video::kScripted});
}

}  // namespace
