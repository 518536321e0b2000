// A small AVI 1.0 file built byte by byte, for the checks that need no real
// movie: a 25 fps video stream and a 44.1 kHz 16-bit stereo PCM stream, the
// 'movi' items given in order, every size, length and idx1 entry filled in
// as a careful writer would.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/test_support.h"
#include "tools/avicheck/avi_verify.h"

namespace norv::test {

using Bytes = std::vector<std::uint8_t>;

// A data chunk of `size` bytes, or with id "rec " a record holding the
// next `size` items.
struct MoviItem {
  std::string id;
  std::uint32_t size;
};

// `pad`: odd chunks get their pad byte.
inline Bytes BuildAvi(const std::vector<MoviItem>& movi, bool pad = true) {
  Bytes b;
  auto id = [&](const std::string& s) { b.insert(b.end(), s.begin(), s.end()); };
  std::vector<std::size_t> open;  // size fields of the lists not yet closed
  auto list = [&](const std::string& kind, const std::string& type) {
    id(kind), open.push_back(b.size()), PutLe(b, 0), id(type);
  };
  auto close = [&] {
    Put32(b, open.back(), static_cast<std::uint32_t>(b.size() - open.back() - 4));
    open.pop_back();
  };
  std::uint32_t frames = 0, audio = 0, largestFrame = 0;
  for (const MoviItem& item : movi) {
    const bool video = item.id.rfind("00", 0) == 0;
    frames += video;
    if (video) largestFrame = std::max(largestFrame, item.size);
    if (item.id == "01wb") audio += item.size;
  }
  auto chunk = [&](const std::string& name, std::vector<std::uint32_t> words) {
    id(name), PutLe(b, static_cast<std::uint32_t>(words.size() * 4));
    for (std::uint32_t w : words) PutLe(b, w);
  };
  list("RIFF", "AVI ");
  list("LIST", "hdrl");
  chunk("avih", {40000, 0, 0, 0x10, frames, 0, 2, 0, 64, 48, 0, 0, 0, 0});
  list("LIST", "strl");
  chunk("strh", {0x73646976, 0, 0, 0, 0, 1, 25, 0, frames, largestFrame, 0, 0, 0, 0});
  chunk("strf", {40, 64, 48, 0x180001, 0, 64 * 48 * 3, 0, 0, 0, 0});
  close();
  list("LIST", "strl");
  chunk("strh", {0x73647561, 0, 0, 0, 0, 1, 44100, 0, audio / 4, 0, 0, 4, 0, 0});
  chunk("strf", {0x20001, 44100, 176400, 0x100004});
  close();
  close();
  list("LIST", "movi");
  const std::size_t moviCode = b.size() - 4;
  Bytes index;
  auto entry = [&](const std::string& name, std::uint32_t flags, std::size_t at,
                   std::uint32_t size) {
    index.insert(index.end(), name.begin(), name.end());
    for (std::uint32_t v : {flags, static_cast<std::uint32_t>(at - moviCode), size})
      PutLe(index, v);
  };
  std::uint32_t left = 0;  // items still to go in the open record
  std::size_t record = 0;  // its idx1 entry
  for (const MoviItem& item : movi) {
    const std::size_t at = b.size();
    if (item.id == "rec ") {
      list("LIST", "rec ");
      record = index.size();
      entry("rec ", 0x01, at, 0);
      left = item.size;
      continue;
    }
    id(item.id), PutLe(b, item.size);
    b.resize(b.size() + item.size + (pad ? item.size % 2 : 0));
    entry(item.id, item.id.substr(2) == "dc" ? 0 : 0x10, at, item.size);
    if (left > 0 && --left == 0) {
      Put32(index, record + 12, static_cast<std::uint32_t>(b.size() - open.back() - 4));
      close();
    }
  }
  close();
  id("idx1"), PutLe(b, static_cast<std::uint32_t>(index.size()));
  b.insert(b.end(), index.begin(), index.end());
  close();
  return b;
}

// Key frame, audio, a delta of odd size outside a record, another delta, a key frame.
inline const std::vector<MoviItem> kMovie = {{"rec ", 2},   {"00db", 100}, {"01wb", 400},
                                             {"00dc", 51},  {"01wb", 400}, {"00dc", 40},
                                             {"01wb", 400}, {"00db", 100}, {"01wb", 400}};

// Where the `nth` `fourcc` in `b` starts; b.size() when there are fewer.
inline std::size_t At(const Bytes& b, const char* fourcc, int nth = 1) {
  auto at = std::search(b.begin(), b.end(), fourcc, fourcc + 4);
  while (--nth > 0 && at != b.end()) at = std::search(at + 4, b.end(), fourcc, fourcc + 4);
  return static_cast<std::size_t>(at - b.begin());
}

// `bytes` put in at `at`, the RIFF size following.
template <typename Range>
void Insert(Bytes& b, std::size_t at, const Range& bytes) {
  b.insert(b.begin() + static_cast<std::ptrdiff_t>(at), std::begin(bytes), std::end(bytes));
  Put32(b, 4, static_cast<std::uint32_t>(b.size() - 8));
}

inline norv::cli::VerifyReport VerifyBytes(const Bytes& b) {
  const TempDir dir;
  WriteFileBytes(dir.File("built.avi"), b);
  return norv::cli::VerifyAvi(dir.File("built.avi"));
}

}  // namespace norv::test
