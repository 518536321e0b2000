// The per-export context object: the request's numbers and the parts of a
// movie that it owns: the AVI writer (avi/), the audio feed (audio/) and,
// for now, the frame encoding (video/).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "platform/riff/riff_file.h"
#include "platform/sync/sync.h"
#include "platform/vfw/vfw.h"
#include "plugin/audio/audio_feed.h"
#include "plugin/avi/avi_structs.h"
#include "plugin/avi/avi_writer.h"
#include "plugin/host/movie_request.h"
#include "plugin/io/locked_block.h"
#include "plugin/io/message.h"
#include "plugin/io/raw_file.h"

class MovieSession {
 public:
  explicit MovieSession(AudioWaitLimits waits = {});
  ~MovieSession();
  MovieSession(const MovieSession&) = delete;
  MovieSession& operator=(const MovieSession&) = delete;

  // Lifecycle (session/)
  int InitializeSession();
  void FinishMovie();

  // The file's plan; the AVI writer writes it
  int WriteAviHeaders();
  int AllocateFrameBuffers();
  int BuildStreamHeaders(AviStreamPlan* plan);
  bool RecordsInUse() const;  // each frame's chunks in a 'rec ' record

  // Audio: the raw stream takes none; else the feed stores the block.
  int StoreAudioBlock(const AudioBlock* block, std::uint32_t* framesDone);
  // Closes the temporary audio and the raw output at the end of the capture.
  void CloseCompression();
  // The writer's result as the frame calls report it: 0 written, -1 not,
  // with the message of a file that has just reached its largest size.
  int ReportChunks(AviStatus status);

  // Video (video/, session/)
  int StartCompressor();
  int PreparePalette();
  int CompressAviFrame(const std::uint8_t* frame, std::uint32_t* framesDone);
  int WriteRawFrame(const std::uint8_t* frame, std::uint32_t* framesDone);
  // Compresses `pixels` (laid out as InputImage()'s header says) into
  // compressedBuffer; ICCompress's result.
  DWORD CompressInput(bool keyFrame, LONG frameNumber, const std::uint8_t* pixels);
  // What the compressor is fed: eightBitDib (header, colour table, pixels)
  // for 8-bit AVI movies, else sourceDib (header, pixels). The raw stream
  // compresses the host's 24-bit frame as it comes, whatever the colours.
  bool EightBitInput() const { return bitDepth == 8 && qrvExport == 0; }
  std::uint8_t* InputImage() const { return EightBitInput() ? eightBitDib : sourceDib; }
  std::uint32_t InputHeaderBytes() const { return EightBitInput() ? 1064 : 40; }
  std::uint32_t InputImageBytes() const {
    return InputHeaderBytes() + (EightBitInput() ? frameBytes8 : frameBytes24);
  }
  // Where the compressor writes its data: behind the output format, at the
  // offset fixed when the format was taken, whatever the compressor writes
  // into the header later.
  std::uint8_t* CompressedData() const { return compressedBuffer + compressedDataOffset; }
  // Whether the last compression wrote past compressedCapacity into the
  // guard behind it; the guard is made whole again either way.
  bool CompressorOverran();
  void FitQualityToDataRate();

  char outputPath[260];
  char paletteFile[260];
  std::int32_t width;
  std::int32_t height;
  float frameRate;
  std::uint32_t bitDepth;
  std::uint32_t paletteMode;
  std::uint32_t compressorHandler;
  std::uint32_t quality;
  std::int32_t dataRate;
  std::uint32_t keyFrameEvery;
  std::uint32_t interleaveFrames;
  std::int32_t bitsPerSample;
  std::int32_t sampleRate;
  std::uint32_t channels;
  std::uint32_t frameCount;
  std::uint32_t streamCount;
  std::uint32_t startTime;
  std::uint32_t endTime;
  FrameCallback frameCallback;
  std::uint32_t frameCallbackContext;
  CRITICAL_SECTION outputLock;
  float outputFrameRate;
  std::uint32_t rateMismatch;
  std::int32_t lastOutputFrame;
  std::uint32_t inputFrameCounter;
  std::uint32_t compressorStateSize;
  HostBlockRef compressorState;
  std::uint32_t qrvExport;
  std::uint32_t dvReverse;
  std::uint32_t framesCompressed;
  std::uint32_t noInterleave;
  HPALETTE paletteHandle;
  std::uint8_t* sourceDib;
  std::uint8_t* compressedBuffer;
  std::uint8_t* previousFrame;
  std::uint8_t* eightBitDib;
  HIC compressor;
  std::uint8_t* videoFormat;
  std::uint32_t videoFormatSize;
  std::uint32_t frameBytes24;
  std::uint32_t frameBytes8;
  std::uint32_t maxFrameBytes;
  std::uint32_t isKeyFrame;
  const std::uint8_t* videoChunkData;
  std::uint32_t videoChunkSize;
  HANDLE audioDataEvent;
  RawFile rawOutputFile;
  // The video caller counts, the audio caller only reads: one atomic word.
  std::atomic<std::uint32_t> videoFramesDone;
  std::uint32_t ntsc;

  // Beyond the record: what the guards need.
  std::uint8_t* shiftBuffer;           // reused for the field-order shift
  std::uint32_t compressedCapacity;    // bytes of compressed data compressedBuffer holds
  std::uint32_t compressedDataOffset;  // where that data starts in compressedBuffer
  bool compressorReadsOnly;            // the host's frame may be compressed where it lies
  bool openDmlWanted;                  // the host profile asks for OpenDML past the first form
  AviWriter aviWriter;                 // the AVI file, once the headers are written
  AudioFeed audio;                     // the audio stream: its source, its slices and where they go
};
