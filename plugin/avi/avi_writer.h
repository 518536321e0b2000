// The AVI file of a movie: the RIFF 'AVI ' form with its headers, the chunks
// and 'rec ' records of LIST 'movi', the 'idx1' index and, when asked for,
// the OpenDML forms that go past 4 GiB. It knows the chunk nesting and the
// size rules; what goes into each chunk, and which message a failure shows,
// are its caller's business.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "platform/riff/riff_file.h"
#include "plugin/avi/avi_structs.h"
#include "plugin/avi/open_dml.h"

// What a call of the writer came to. Every failure leaves the file whole up
// to the last complete chunk; the step that failed names the message.
enum class [[nodiscard]] AviStatus{
    kOk,
    kCannotCreate,       // the file could not be created
    kFailed,             // a seek or write failed, or no room for the index
    kIndexFull,          // no index entry left: the chunk is refused
    kFileFull,           // the file reached its largest size just now: refused
    kRefused,            // the file had reached its largest size before
    kMainHeaderChunk,    // creating 'avih'
    kMainHeaderData,     // writing it
    kStreamList,         // creating a stream's LIST 'strl' (see failedStream)
    kStreamHeaderChunk,  // creating its 'strh'
    kStreamHeaderData,   // writing it
    kStreamFormatChunk,  // creating its 'strf'
    kStreamFormatData,   // writing it
    kMovieList,          // creating LIST 'movi'
};

// What the file is to hold, known before the first frame.
struct AviStreamPlan {
  AviMainHeader mainHeader{};
  AviStreamHeader videoHeader{};
  const std::uint8_t* videoFormat = nullptr;  // 'strf' of the video stream
  std::uint32_t videoFormatSize = 0;
  bool audio = false;  // a second stream
  AviStreamHeader audioHeader{};
  const std::uint8_t* audioFormat = nullptr;
  std::uint32_t audioFormatSize = 0;
  std::uint32_t audioBlockAlign = 0;
  bool records = false;             // each frame's chunks in a 'rec ' list
  std::uint32_t indexCapacity = 0;  // 'idx1' entries the movie may use
  bool openDml = false;             // OpenDML forms past the first
};

class AviWriter {
 public:
  // The largest AVI file: what a 32-bit RIFF size can state.
  static constexpr std::uint64_t kLargestFile = 0xFFFFFFFFull;

  // `fileLimit`: the size an AVI 1.0 file may reach, its index included;
  // `formLimit`: where an OpenDML form is closed and the next one begun.
  explicit AviWriter(std::uint64_t fileLimit = kLargestFile,
                     std::uint64_t formLimit = kOpenDmlRiffBytes);
  ~AviWriter();
  AviWriter(const AviWriter&) = delete;
  AviWriter& operator=(const AviWriter&) = delete;

  struct Chunk {
    const void* data = nullptr;
    std::uint32_t size = 0;
  };
  // The audio that follows a frame's video chunk, asked for once that chunk
  // is written; nullopt when there is none.
  using NextAudio = std::function<std::optional<Chunk>()>;

  // Creates the file at `path` (or takes `file`) and writes everything up to
  // the opening of LIST 'movi'.
  AviStatus WriteAviHeaders(const char* path, const AviStreamPlan& plan);
  AviStatus WriteAviHeaders(std::unique_ptr<norv::riff::RiffFile> file, const AviStreamPlan& plan);
  // The stream (0 video, 1 audio) whose list, header or format failed.
  int failedStream() const { return failedStream_; }

  // A frame's video chunk, in a record of its own when records are in use.
  AviStatus WriteVideoChunk(bool key, Chunk video);
  // A frame's video chunk and then the audio `next` gives, in one record;
  // `plannedAudio` is that audio's size (none: no audio chunk), for the room
  // an OpenDML form needs.
  AviStatus WriteVideoAndAudioChunks(bool key, Chunk video,
                                     std::optional<std::uint32_t> plannedAudio,
                                     const NextAudio& next);
  // An audio chunk alone; `next` is asked only when the file has room.
  AviStatus WriteAudioOnlyChunk(const NextAudio& next);

  // Closes LIST 'movi', writes 'idx1' and closes the form (or, with OpenDML,
  // closes the last form and brings the headers up to date).
  AviStatus Finish();
  // Writes 'idx1' after LIST 'movi' and closes the RIFF form.
  AviStatus WriteIndexAndClose();
  // OpenDML: closes the form in progress and, unless `last`, begins the next.
  AviStatus CloseForm(bool last);
  AviStatus Flush();

  bool isOpen() const { return file_ != nullptr; }
  const OpenDmlLayout* openDml() const { return openDml_.get(); }
  std::uint32_t indexCount() const { return indexCount_; }

 private:
  struct Record {
    std::uint32_t entry = 0;  // its idx1 entry
    std::uint64_t at = 0;     // its header, in an extension form
  };
  bool InExtension() const;
  bool IndexHasRoom(std::uint32_t entries) const;
  AviStatus RoomInFile(std::uint64_t bytes);
  AviStatus RoomInForm(std::uint64_t bytes);
  AviStatus RoomFor(std::uint64_t bytes, bool recordStart);
  AviStatus WriteFixedChunk(std::uint32_t id, const void* data, std::uint32_t size,
                            AviStatus createFailed, AviStatus writeFailed);
  AviStatus WriteStreamList(int stream, const AviStreamHeader& header, const std::uint8_t* format,
                            std::uint32_t formatSize, std::vector<std::uint64_t>* lengthFields);
  int OpenRecord(Record* record);
  void CloseRecord(const Record& record);
  int WriteDataChunk(std::uint32_t id, std::uint32_t flags, Chunk chunk);
  int WriteVideoData(bool key, Chunk video);

  std::uint64_t fileLimit_;
  std::uint64_t formLimit_;
  std::unique_ptr<norv::riff::RiffFile> file_;
  std::unique_ptr<OpenDmlLayout> openDml_;
  norv::riff::ChunkInfo riffChunk_{};
  norv::riff::ChunkInfo listChunk_{};    // 'hdrl', then 'movi'
  norv::riff::ChunkInfo recordChunk_{};  // a stream's 'strl', then a 'rec '
  norv::riff::ChunkInfo chunk_{};        // the chunk being written
  std::vector<AviIndexEntry> index_;     // 'idx1' of the first form
  std::uint32_t indexCapacity_ = 0;
  std::uint32_t indexCount_ = 0;  // entries used, extension forms' included
  std::uint32_t moviDataOffset_ = 0;
  bool records_ = false;
  bool full_ = false;
  int failedStream_ = 0;
};
