// The OpenDML (AVI 2.0) side of a movie's layout, for movies that go past
// the 4 GiB an AVI 1.0 file can state: a super index ('indx') in each
// stream list, LIST 'odml' with the total frame count, a standard index
// ('ix00', 'ix01') at the end of every RIFF's 'movi', and RIFF 'AVIX' forms
// after the first. The session owns one when the host profile asks for it
// and feeds it the chunks it writes; this object knows offsets past 32 bits,
// which the chunk information blocks of the first form cannot hold.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/riff/riff_file.h"

// Where a RIFF form is closed and the next one begun. Readers and tools
// expect forms of at most this size; each form's chunk offsets then fit the
// 32 bits of its indexes with room to spare.
constexpr std::uint64_t kOpenDmlRiffBytes = 1ull << 30;
// Super index entries reserved per stream: one per RIFF form, so up to
// 256 GiB of movie.
constexpr std::uint32_t kSuperIndexEntries = 256;
// The size of 'dmlh' as writers and readers know it: the frame count and
// room for the fields that never came.
constexpr std::uint32_t kDmlhBytes = 248;

class OpenDmlLayout {
 public:
  struct StreamInfo {
    std::uint32_t chunkId;     // what its standard indexes name ('00db', '01wb')
    std::uint32_t blockAlign;  // bytes per tick of its length: 0 counts chunks (video)
  };
  // `formLimit`: the size at which a form is closed and the next one begun.
  OpenDmlLayout(const std::vector<StreamInfo>& streams, std::uint64_t formLimit);

  // Inside a stream's 'strl', after 'strf': the super index's room, kept as
  // JUNK until the first form is closed, so a file cut before that reads as
  // an AVI 1.0 file.
  [[nodiscard]] int ReserveSuperIndex(norv::riff::RiffFile& file, int stream);
  // Inside 'hdrl', after the stream lists: LIST 'odml' with 'dmlh'.
  [[nodiscard]] int WriteExtendedHeader(norv::riff::RiffFile& file);
  // The header fields the close of every form brings up to date.
  void SetHeaderFields(std::uint64_t mainTotalFramesAt, std::vector<std::uint64_t> lengthAt);
  void SetFirstForm(std::uint64_t riffAt, std::uint64_t moviCodeAt);

  bool InExtension() const { return forms_ > 1; }
  // Whether `bytes` more of movie data, with this form's indexes still to
  // come (and `legacyIndexBytes` of 'idx1' in the first form), would carry
  // the form past the boundary. A form holding nothing yet takes anything.
  bool FormWouldOverflow(std::uint64_t position, std::uint64_t bytes,
                         std::uint64_t legacyIndexBytes) const;
  // No super index entry left for another form.
  bool SuperIndexFull() const { return forms_ >= kSuperIndexEntries; }

  // A chunk of the first form, written by the session's own chunk writer.
  void AddChunk(int stream, std::uint64_t dataOffset, std::uint32_t size, bool key);
  // In an extension form: a data chunk (header, data, pad byte), indexed.
  [[nodiscard]] int WriteDataChunk(norv::riff::RiffFile& file, int stream, std::uint32_t id,
                                   bool key, const void* data, std::uint32_t size);
  // In an extension form: a list ('rec ') opened and closed around chunks.
  [[nodiscard]] int OpenList(norv::riff::RiffFile& file, std::uint32_t type,
                             std::uint64_t* headerAt);
  [[nodiscard]] int CloseList(norv::riff::RiffFile& file, std::uint64_t headerAt,
                              std::uint32_t* size);

  // The last thing in a form's 'movi': one standard index per stream.
  [[nodiscard]] int WriteStandardIndexes(norv::riff::RiffFile& file);
  // Closes the extension form in progress ('movi' and the form).
  [[nodiscard]] int EndExtension(norv::riff::RiffFile& file);
  // Opens RIFF 'AVIX' and its LIST 'movi'.
  [[nodiscard]] int BeginExtension(norv::riff::RiffFile& file);
  // Brings the super indexes, 'dmlh', the stream lengths and the main
  // header's frame count up to the forms closed so far.
  [[nodiscard]] int PatchHeaders(norv::riff::RiffFile& file);

  std::uint32_t forms() const { return forms_; }
  std::uint64_t totalFrames() const { return totals_[0]; }

 private:
  struct IndexEntry {
    std::uint64_t dataOffset;
    std::uint32_t size;  // bit 31 set: not a key frame
  };
  struct SuperEntry {
    std::uint64_t offset;  // of the standard index's chunk header
    std::uint32_t size;    // of that chunk, header included
    std::uint32_t duration;
  };
  struct Stream {
    StreamInfo info;
    std::uint64_t superIndexAt = 0;   // the reserved room's chunk header
    std::uint64_t lengthAt = 0;       // its 'strh' length field
    std::vector<IndexEntry> entries;  // of the form in progress
    std::uint64_t ticksInForm = 0;
    std::vector<SuperEntry> super;
  };
  std::uint64_t Ticks(const Stream& s, std::uint32_t size) const;
  std::uint64_t StandardIndexBytes(std::size_t extraEntries) const;

  std::vector<Stream> streams_;
  std::uint64_t formLimit_;
  std::uint32_t forms_ = 1;
  std::uint64_t formAt_ = 0;  // the form in progress: its RIFF header
  std::uint64_t moviAt_ = 0;  // its LIST 'movi' header
  std::uint64_t dmlhAt_ = 0;  // 'dmlh' data
  std::uint64_t mainFramesAt_ = 0;
  std::uint32_t firstFormFrames_ = 0;
  bool firstFormClosed_ = false;
  std::vector<std::uint64_t> totals_;  // per stream: frames, or ticks
};
