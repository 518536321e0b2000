#include "tools/norvavi/host/request_check.h"

#include <strings.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "plugin/host/host_api.h"
#include "tools/norvavi/host/compressor_listing.h"
#include "tools/norvavi/host/settings_fields.h"

namespace norv::cli {

namespace {

// The last byte an AVI 1.0 file can address: its chunk offsets and sizes are 32 bits.
constexpr std::uint64_t kAviLimit = 0xFFFFFFFFull;
// Everything in front of 'movi' and around the index, generously: the
// headers of two streams, an 8-bit colour table, the list headers.
constexpr std::uint64_t kFixedBytes = 8192;

bool IsEightBit(std::int32_t colorFormat) {
  return colorFormat >= kColor332 && colorFormat <= kColor332 + 4;
}

std::string SizeList(const std::vector<std::pair<int, int>>& sizes) {
  std::string text;
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    if (i > 0) text += i + 1 == sizes.size() ? " and " : ", ";
    text += std::to_string(sizes[i].first) + "x" + std::to_string(sizes[i].second);
  }
  return text;
}

std::string InstalledHandlers() {
  std::string text;
  for (const CompressorDescription& c : ListCompressors())
    text += (text.empty() ? "" : ", ") + c.handlerText;
  return text.empty() ? "none" : text;
}

// Why the compressor refuses the movie's frames, in terms of what it does take.
std::string CompressorRefusal(std::uint32_t handler, const AviSettings& s, int bits) {
  const std::string name = FourccString(handler);
  const std::string frames =
      std::to_string(bits) + "-bit frames (colorFormat=" + std::to_string(s.colorFormat) + ")";
  CompressorDescription d;
  if (!DescribeCompressor(handler, &d)) return "compressorHandler=" + name + " refuses " + frames;
  const bool takesDepth = bits == 8 ? d.takes8 : d.takes24;
  if (!takesDepth) {
    std::string other = bits == 8 ? (d.takes24 ? "24-bit frames: colorFormat 16 or 24" : "")
                                  : (d.takes8 ? "8-bit frames: colorFormat 80 to 84" : "");
    return "compressorHandler=" + name + " does not take " + frames +
           (other.empty() ? "" : "; it takes " + other);
  }
  std::string text = "compressorHandler=" + name + " does not take " + frames + " of " +
                     std::to_string(s.width) + "x" + std::to_string(s.height);
  if (!d.sizes.empty() && d.sizes.size() < ProbeSizes().size())
    text +=
        "; of the usual sizes it takes " + SizeList(d.sizes) + " (--set width=W --set height=H)";
  return text;
}

void CheckColourAndCompressor(const AviSettings& s, MovieCheck* check) {
  const int bits = IsEightBit(s.colorFormat) ? 8 : 24;
  if (s.colorFormat == kColorPaletteFile) {
    const std::string palette(s.paletteFile, strnlen(s.paletteFile, sizeof s.paletteFile));
    std::error_code ec;
    if (palette.empty())
      check->refusals.push_back(
          "colorFormat=84 takes its palette from paletteFile, which is empty "
          "(--set paletteFile=FILE.pal)");
    else if (!std::filesystem::is_regular_file(palette, ec))
      check->refusals.push_back("paletteFile=" + palette + ": no such file (colorFormat=84)");
  }
  if (s.qrvExport != 0 && s.compressorHandler == 0)
    check->refusals.push_back(
        "qrvExport=1 writes compressed frames back to back and needs a compressor "
        "(--set compressorHandler=..., see norvavi compressors)");
  if (s.compressorHandler == 0) return;
  switch (CheckCompressorInput(s.compressorHandler, s.width, s.height, bits)) {
    case CompressorFit::kTakes:
      return;
    case CompressorFit::kNotInstalled:
      check->refusals.push_back("compressorHandler=" + FourccString(s.compressorHandler) +
                                ": no such compressor is installed; installed are " +
                                InstalledHandlers() + " (norvavi compressors), or 0 for none");
      return;
    case CompressorFit::kRefused:
      check->refusals.push_back(CompressorRefusal(s.compressorHandler, s, bits));
      return;
  }
}

std::string Gigabytes(std::uint64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f GB", static_cast<double>(bytes) / 1e9);
  return text;
}

// The option that writes past 4 GiB.
std::string LargerFileAdvice() {
  return "or add --opendml to go on past 4 GiB in OpenDML (AVI 2.0) forms";
}

std::string Megabytes(std::uint64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / 1e6);
  return text;
}

// A movie of known size that the output's disk cannot hold is refused
// before it fills the disk and stops half-written.
void CheckFreeSpace(const std::string& output, const SizeEstimate& e, MovieCheck* check) {
  const std::uint64_t free = FreeBytesBeside(output);
  if (!e.certain || free == UINT64_MAX || e.bytes <= free) return;
  std::string folder = std::filesystem::path(output).parent_path().string();
  check->refusals.push_back("the movie needs about " + Megabytes(e.bytes) + " but only " +
                            Megabytes(free) + " is free in " + (folder.empty() ? "." : folder) +
                            ": free some space, choose another folder or a compressor");
}

void CheckSize(const MovieRequest& request, const AviSettings& s, bool withAudio,
               MovieCheck* check) {
  if (s.qrvExport != 0) return;  // a raw stream has no 32-bit offsets
  const std::uint32_t frames = MovieFrameCount(request, s);
  const int bits = IsEightBit(s.colorFormat) ? 8 : 24;
  const std::uint64_t row =
      ((static_cast<std::uint64_t>(s.width) * static_cast<std::uint64_t>(bits) + 31) / 32) * 4;
  const std::uint64_t rawBytes = row * static_cast<std::uint64_t>(s.height);
  std::uint64_t frameBytes = rawBytes;
  bool exact = true;
  if (s.compressorHandler != 0 &&
      CheckCompressorInput(s.compressorHandler, s.width, s.height, bits, &frameBytes, &exact) !=
          CompressorFit::kTakes)
    return;  // refused already
  std::uint64_t audioBytes = 0;
  if (withAudio) {
    const std::uint64_t block = s.audioFormat[1] / 8 * s.audioFormat[3];
    audioBytes = static_cast<std::uint64_t>(request.endTime - request.startTime) *
                 s.audioFormat[2] / 1000 * block;
  }
  // A compressor's bound is far above what it makes: only when even frames
  // as large as uncompressed ones would not fit is it worth a word.
  const SizeEstimate e = EstimateAviSize(
      frames, exact ? frameBytes : std::min(frameBytes, rawBytes), exact, audioBytes);
  const std::string path(request.outputPath,
                         strnlen(request.outputPath, sizeof request.outputPath));
  CheckFreeSpace(path, e, check);
  if (e.bytes <= kAviLimit) return;
  const double seconds = static_cast<double>(e.framesThatFit) / static_cast<double>(s.frameRate);
  char fit[160];
  std::snprintf(fit, sizeof fit, "%u of the %u frames fit (the first %.2f s)", e.framesThatFit,
                e.frames, seconds);
  if (e.certain) {
    std::string text = "the movie needs about " + Gigabytes(e.bytes) +
                       ", more than the 4 GiB an AVI 1.0 file can hold: " + fit +
                       "; shorten the span (--duration, --start/--end), make the frames "
                       "smaller or choose a compressor";
    const std::string more = LargerFileAdvice();
    if (!more.empty()) text += "; " + more;
    check->refusals.push_back(text);
  } else {
    const std::uint64_t room = e.frames > 0 ? kAviLimit / e.frames : 0;
    check->warnings.push_back("the movie may outgrow the 4 GiB an AVI 1.0 file can hold: its " +
                              std::to_string(e.frames) +
                              " frames fit only if the compressed frames (and their sound) "
                              "average under " +
                              std::to_string(room / 1024) + " KB");
  }
}

void CheckRequest(const MovieRequest& r, const AviSettings& s, MovieCheck* check) {
  const std::string path(r.outputPath, strnlen(r.outputPath, sizeof r.outputPath));
  // The plug-in looks at the text after the last '.' of the whole path.
  const auto dot = path.find_last_of('.');
  if (dot == std::string::npos || strcasecmp(path.c_str() + dot, ".avi") != 0)
    check->refusals.push_back("the output " + path + " must end in .avi (or .AVI)");
  if (r.startTime >= r.endTime) {
    check->refusals.push_back("the span from " + std::to_string(r.startTime) + " ms to " +
                              std::to_string(r.endTime) +
                              " ms is empty or reversed: --end must come after --start");
  } else if (MovieFrameCount(r, s) == 0) {
    char text[200];
    std::snprintf(text, sizeof text,
                  "the span of %u ms holds no frame at %g frames per second: it needs at "
                  "least %.0f ms",
                  r.endTime - r.startTime, static_cast<double>(s.frameRate),
                  std::ceil(500.0 / static_cast<double>(s.frameRate)));
    check->refusals.push_back(text);
  }
  const std::filesystem::path folder = std::filesystem::path(path).parent_path();
  std::error_code ec;
  if (!folder.empty() && !std::filesystem::is_directory(folder, ec))
    check->refusals.push_back("the output's folder " + folder.string() + " does not exist");
  if (check->ok() && ConfirmMovieRequest(&r, 1) == 0)
    check->refusals.push_back("the host declined the movie");
}

bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

}  // namespace

std::string OutputExists(const std::string& output) {
  return output +
         " exists: norvavi does not replace it unless told to; choose another name or "
         "add --force (-y)";
}

std::uint64_t FreeBytesBeside(const std::string& output) {
  const std::string folder = std::filesystem::path(output).parent_path().string();
  struct statvfs fs;
  if (::statvfs(folder.empty() ? "." : folder.c_str(), &fs) != 0) return UINT64_MAX;
  return static_cast<std::uint64_t>(fs.f_bavail) * fs.f_frsize;
}

std::string TemporaryAudioPath(const std::string& output) {
  const std::filesystem::path folder = std::filesystem::path(output).parent_path();
  return (folder / "Taltemp101wav.tmp").string();
}

void CheckUserFiles(const std::string& output, const std::string& waveFile,
                    const std::vector<std::string>& inputs, bool force, MovieCheck* check) {
  const std::string temporary = TemporaryAudioPath(output);
  for (const std::string& input : inputs) {
    if (input.empty() || input == "-") continue;
    if (SameFile(output, input))
      check->refusals.push_back("the output " + output + " is the input " + input +
                                ": writing it would destroy the input; choose another name");
    if (!waveFile.empty() && SameFile(waveFile, input))
      check->refusals.push_back("the input " + input + " is " + waveFile +
                                ", which the movie's sound is written into with --hardware 0; "
                                "rename it or use --hardware 1");
    if (SameFile(temporary, input))
      check->refusals.push_back("the input " + input + " is the plug-in's temporary audio file " +
                                temporary + ", which the export overwrites; move it away");
  }
  std::error_code ec;
  if (!force && std::filesystem::exists(output, ec))
    check->refusals.push_back(OutputExists(output));
  if (!waveFile.empty() && !force && std::filesystem::exists(waveFile, ec))
    check->refusals.push_back(waveFile +
                              " exists: with --hardware 0 the plug-in reads the movie's sound "
                              "from it, so norvavi would overwrite and then remove it; move it "
                              "away, pass it as --audio, or add --force");
}

std::uint32_t MovieFrameCount(const MovieRequest& r, const AviSettings& s) {
  if (r.endTime <= r.startTime) return 0;
  const double frames =
      static_cast<double>(r.endTime - r.startTime) / 1000.0 * static_cast<double>(s.frameRate) +
      0.5;
  if (!(frames >= 0)) return 0;
  return frames >= 4294967295.0 ? 0xFFFFFFFFu : static_cast<std::uint32_t>(frames);
}

SizeEstimate EstimateAviSize(std::uint32_t frames, std::uint64_t frameBytes, bool frameBytesExact,
                             std::uint64_t audioBytes) {
  SizeEstimate e;
  e.frames = frames;
  e.certain = frameBytesExact;
  // Each frame: its chunk header, pad byte and index entry; with audio, a
  // share of the audio, an audio chunk with its index entry and a 'rec '
  // list at most once per frame.
  std::uint64_t perFrame = frameBytes + (frameBytes & 1) + 8 + 16;
  std::uint64_t perFrameAudio = 0;
  if (audioBytes > 0 && frames > 0) perFrameAudio = audioBytes / frames + 1 + 8 + 16 + 12 + 16;
  perFrame += perFrameAudio;
  e.bytes = kFixedBytes + static_cast<std::uint64_t>(frames) * perFrame;
  // The index is declared for a few entries more than are written.
  e.bytes += 10 * 16;
  const std::uint64_t room = kAviLimit - kFixedBytes - 10 * 16;
  e.framesThatFit = static_cast<std::uint32_t>(std::min<std::uint64_t>(frames, room / perFrame));
  return e;
}

MovieCheck CheckSettings(const AviSettings& s) {
  MovieCheck check;
  check.refusals = CheckFieldRanges(s);
  // A compressor is asked about a size only once the size is in range.
  if (check.ok()) CheckColourAndCompressor(s, &check);
  return check;
}

MovieCheck CheckMovie(const MovieRequest& request, const AviSettings& settings, bool withAudio,
                      bool openDml) {
  MovieCheck check = CheckSettings(settings);
  CheckRequest(request, settings, &check);
  // OpenDML forms carry the movie past 4 GiB.
  if (check.ok() && !openDml) CheckSize(request, settings, withAudio, &check);
  return check;
}

bool ReportCheck(const MovieCheck& check) {
  for (const std::string& w : check.warnings)
    std::fprintf(stderr, "norvavi: warning: %s\n", w.c_str());
  for (const std::string& r : check.refusals) std::fprintf(stderr, "norvavi: %s\n", r.c_str());
  if (!check.ok()) std::fprintf(stderr, "norvavi: nothing was written\n");
  return check.ok();
}

}  // namespace norv::cli
