#include "tools/avicheck/reader_rules.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

#include "tools/avicheck/riff_reader.h"

namespace norv::cli {

namespace {

// OpenCV takes the first 'vids' stream whose handler is 'MJPG' and nothing else.
std::int64_t MjpegVideo(const VerifyReport& r) {
  for (std::size_t n = 0; n < r.streams.size(); ++n)
    if (r.streams[n].type == "vids" && r.streams[n].handler == "'MJPG'")
      return static_cast<std::int64_t>(n);
  return -1;
}

std::string NoMjpeg(const VerifyReport& r) {
  if (MjpegVideo(r) >= 0) return "";
  for (const VerifiedStream& s : r.streams)
    if (s.type == "vids")
      return s.handler.empty() ? "this file's video stream names no handler"
                               : "this file's video stream names " + s.handler;
  return "this file has no video stream";
}

// Only the last stream header decides whether the headers were understood.
std::string VideoNotLast(const VerifyReport& r) {
  if (MjpegVideo(r) < 0 ||
      (r.streams.back().type == "vids" && r.streams.back().handler == "'MJPG'"))
    return "";
  return "this file's last stream, number " + std::to_string(r.streams.size() - 1) + ", is '" +
         r.streams.back().type + "'";
}

std::string NotDc(const VerifyReport& r) {
  const std::int64_t n = MjpegVideo(r);
  if (n < 0) return "";
  const VerifiedStream& s = r.streams[static_cast<std::size_t>(n)];
  if (s.dcChunksInFirstForm == s.chunksInFirstForm) return "";
  return std::to_string(s.chunksInFirstForm - s.dcChunksInFirstForm) + " of this file's " +
         std::to_string(s.chunksInFirstForm) + " video chunks are named otherwise";
}

std::string FirstFormOnly(const VerifyReport& r) {
  const std::int64_t n = MjpegVideo(r);
  if (n < 0) return "";
  const VerifiedStream& s = r.streams[static_cast<std::size_t>(n)];
  if (s.chunks == s.chunksInFirstForm) return "";
  return std::to_string(s.chunks - s.chunksInFirstForm) + " of this file's " +
         std::to_string(s.chunks) + " frames are in 'AVIX' forms";
}

std::string NoIndex(const VerifyReport& r) {
  if (!r.hasIndex) return "this file has no idx1";
  if ((r.flags & kMainHasIndex) == 0) {
    char flags[16];
    std::snprintf(flags, sizeof flags, "0x%" PRIx32, r.flags);
    return std::string("this file's main header flags are ") + flags;
  }
  return "";
}

std::string AbsoluteIndex(const VerifyReport& r) {
  return r.hasIndex && r.indexAbsolute ? "this file's idx1 offsets count from the start of the file"
                                       : "";
}

std::string Layout(const VerifyReport& r) {
  std::size_t k = 0;
  auto next = [&](const char* name) { return k < r.layout.size() && r.layout[k] == name && ++k; };
  bool fits = next("'hdrl'");
  next("'INFO'");
  next("'JUNK'");
  fits = fits && next("'movi'") && (!r.hasIndex || next("'idx1'"));
  if (fits) return "";
  std::string has = "this file has:";
  for (std::size_t i = 0; i < std::min<std::size_t>(r.layout.size(), 8); ++i)
    has += " " + r.layout[i];
  return r.layout.size() > 8 ? has + " ..." : has;
}

std::string NoIndexAtAll(const VerifyReport& r) {
  return r.hasIndex || r.openDml ? "" : "this file has no idx1";
}

std::string RiffPast2GiB(const VerifyReport& r) {
  return r.riffSize < 0x80000000u
             ? ""
             : "this file's 'AVI ' form states " + std::to_string(r.riffSize) + " bytes";
}

std::string ExtensionForms(const VerifyReport& r) {
  return r.extensionForms == 0
             ? ""
             : "this file has " + std::to_string(r.extensionForms) + " 'AVIX' form(s)";
}

}  // namespace

const std::vector<std::string>& KnownReaders() {
  static const std::vector<std::string> readers = {"ffmpeg",  "gstreamer", "vlc",
                                                   "mplayer", "opencv",    "avifile"};
  return readers;
}

const std::vector<ReaderRule>& ReaderRules() {
  static const std::vector<ReaderRule> rules = {
      {"opencv-mjpg-only",
       {"opencv"},
       "OpenCV's own AVI reader opens only Motion JPEG video whose stream header names 'MJPG'",
       NoMjpeg},
      {"opencv-video-last",
       {"opencv"},
       "OpenCV's own AVI reader refuses a file whose last stream header is not the Motion JPEG "
       "video (audio listed after the video, say)",
       VideoNotLast},
      {"opencv-00dc-only",
       {"opencv"},
       "OpenCV's own AVI reader reads only '##dc' video chunks and skips the others ('##db')",
       NotDc},
      {"opencv-first-form-only",
       {"opencv"},
       "OpenCV's own AVI reader reads only the first RIFF form's frames (those idx1 lists) and "
       "drops the rest of an OpenDML file",
       FirstFormOnly},
      {"opencv-needs-idx1",
       {"opencv"},
       "OpenCV's own AVI reader finds frames only through an idx1 the main header announces "
       "(flag 0x10); without, it refuses the file",
       NoIndex},
      {"opencv-idx1-base",
       {"opencv"},
       "OpenCV's own AVI reader counts idx1 offsets from the 'movi' code only, and fails on "
       "offsets from the file's start",
       AbsoluteIndex},
      {"opencv-layout",
       {"opencv"},
       "OpenCV's own AVI reader refuses a file other than 'hdrl', an optional 'INFO' list, at most "
       "one 'JUNK', 'movi', and idx1 right after it",
       Layout},
      {"avifile-needs-idx1",
       {"avifile"},
       "The AVIFile stack (as Wine implements it) aborts reading an AVI 1.0 file without idx1",
       NoIndexAtAll},
      {"avifile-riff-past-2gib",
       {"avifile"},
       "The AVIFile stack (as Wine implements it) hangs on an 'AVI ' form of 2 GiB or more",
       RiffPast2GiB},
      {"avifile-avix",
       {"avifile"},
       "The AVIFile stack (as Wine implements it) aborts reading an OpenDML file that goes on in "
       "'AVIX' forms",
       ExtensionForms},
  };
  return rules;
}

bool ParseReaders(const std::vector<std::string>& names, std::vector<std::string>* readers,
                  std::string* error) {
  const std::vector<std::string>& known = KnownReaders();
  for (const std::string& list : names) {
    for (std::size_t at = 0; at <= list.size();) {
      const std::size_t comma = std::min(list.find(',', at), list.size());
      const std::string name = list.substr(at, comma - at);
      at = comma + 1;
      if (name.empty()) {
        continue;
      } else if (name == "strict") {
        readers->insert(readers->end(), known.begin(), known.end());
      } else if (std::find(known.begin(), known.end(), name) != known.end()) {
        readers->push_back(name);
      } else {
        *error = "unknown reader '" + name +
                 "'; known: ffmpeg, gstreamer, vlc, mplayer, opencv, "
                 "avifile, strict";
        return false;
      }
    }
  }
  std::sort(readers->begin(), readers->end());
  readers->erase(std::unique(readers->begin(), readers->end()), readers->end());
  return true;
}

std::vector<ReaderFinding> CheckReaders(const VerifyReport& report,
                                        const std::vector<std::string>& readers) {
  std::vector<ReaderFinding> found;
  if (!report.readable) return found;
  for (const ReaderRule& rule : ReaderRules()) {
    std::vector<std::string> asked;
    for (const std::string& reader : rule.readers)
      if (std::find(readers.begin(), readers.end(), reader) != readers.end())
        asked.push_back(reader);
    if (asked.empty()) continue;
    const std::string why = rule.applies(report);
    if (!why.empty()) found.push_back({rule.id, asked, std::string(rule.text) + "; " + why});
  }
  return found;
}

}  // namespace norv::cli
