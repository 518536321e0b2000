// What `repair --salvage` writes from the chunks it kept: the source's
// header block with its counts and sizes brought up to what was kept, then
// the chunks in a flat 'movi' under a rebuilt 'idx1'. When the source is an
// OpenDML file (a super index in its stream lists, 'dmlh'), the copy is one
// too: RIFF 'AVIX' forms past the first, a standard index ('ix##') at the
// end of every form's 'movi', and the super indexes filled in their room;
// 'idx1' then covers the first form, as AVI 1.0 readers expect.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tools/avicheck/avi_salvage.h"
#include "tools/avicheck/riff_reader.h"

namespace norv::cli::salvage {

// A stream of the headers: where its fields are in the header block.
struct HeaderStream {
  std::string type;
  std::uint32_t compression = 0;  // video: biCompression of 'strf'
  std::uint32_t sampleSize = 0, blockAlign = 0;
  std::size_t strh = 0;  // offset of the 'strh' data in the block
  std::size_t indx = 0;  // offset of its super index's chunk header; 0: none
};

// Everything between 'AVI ' and LIST 'movi', copied from the file that has it.
struct HeaderBlock {
  std::vector<std::uint8_t> bytes;
  std::size_t avih = 0, dmlh = 0;  // data offsets in `bytes`; 0: none
  std::vector<HeaderStream> streams;
  std::uint64_t moviData = 0;  // where the source's 'movi' chunks start; 0: no 'movi'
};

// A whole chunk of the source, kept.
struct Entry {
  std::uint64_t from = 0;  // the chunk's header in the input
  std::uint32_t id = 0, size = 0, flags = 0;
};

// Plans the forms and writes the copy to `target` (beside it first, put in
// place once verify finds it sound). `formBytes` is where an OpenDML copy
// closes a form and begins the next. False with `error` set, nothing left.
bool Write(FileReader& in, HeaderBlock& headers, const std::vector<Entry>& entries,
           const std::string& target, mode_t mode, std::uint64_t formBytes, std::string* error);

}  // namespace norv::cli::salvage
