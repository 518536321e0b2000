// The per-export context object: every operation of a movie works on it.
// Fields follow the order in which the export fills and uses them; the
// operations live in the folders of what they do (avi/, video/, session/).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "platform/riff/riff_file.h"
#include "platform/sync/sync.h"
#include "platform/vfw/vfw.h"
#include "plugin/avi/avi_structs.h"
#include "plugin/avi/avi_writer.h"
#include "plugin/host/movie_request.h"
#include "plugin/session/raw_file.h"

class MovieSession {
 public:
  MovieSession();
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
  std::uint32_t ComputeIndexCapacity() const;
  std::uint32_t AudioLead() const;  // Lf, before clamping to the frame count
  bool RecordsInUse() const;        // each frame's chunks in a 'rec ' record
  // 0 when the writer took the chunks; -1 otherwise, with the message of a
  // file that has just reached its largest size.
  int ChunksWritten(AviStatus status);

  // Audio (avi/, session/)
  int InitializeAudio();
  int OpenWaveFile();
  void AdvanceAudioChunk();
  int WriteInitialAudio();
  // 0, or -1 when the frame's video chunk could not be written.
  int WriteFrameChunks();
  int BeginAudioCapture();
  void EndAudioCapture();
  int StoreAudioBlock(const AudioBlock* block, std::uint32_t* framesDone);
  std::uint32_t ReduceSampleRate(std::uint32_t byteCount, const std::uint8_t* data,
                                 std::uint8_t** out);
  int ReadPushedAudio();

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
  char waveFilePath[260];
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
  std::uint32_t audioChunkStart;
  std::uint32_t audioChunkEnd;
  float audioProgress;
  HANDLE waveFileHandle;
  HANDLE waveFileMapping;
  std::uint8_t* waveFileView;
  HIC compressor;
  std::uint8_t* videoFormat;
  std::uint8_t* audioFormat;
  std::uint8_t* audioChunkData;
  float audioBytesPerInterleave;
  std::uint32_t videoFormatSize;
  std::uint32_t audioFormatSize;
  std::uint32_t frameBytes24;
  std::uint32_t frameBytes8;
  std::uint32_t maxFrameBytes;
  std::uint32_t audioTotalBytes;
  std::uint32_t isKeyFrame;
  const std::uint8_t* videoChunkData;
  std::uint32_t videoChunkSize;
  // The wave file while it is parsed; its open-information block lives inside.
  std::unique_ptr<norv::riff::RiffFile> waveMmio;
  std::uint32_t waveDataOffset;
  std::uint8_t* waveDataStart;
  HANDLE audioDataEvent;
  RawFile tempAudioFile;
  RawFile rawOutputFile;
  // The video caller counts, the audio caller only reads: one atomic word.
  std::atomic<std::uint32_t> videoFramesDone;
  char tempAudioPath[260];
  std::uint8_t* audioBuffer;
  std::uint32_t initialAudioPending;
  std::uint32_t initialAudioChunks;
  std::uint32_t carryBytes;
  std::uint8_t carry[40];
  std::uint32_t ntsc;

  // Beyond the record: what the guards need.
  std::uint32_t audioBufferSize;       // bytes at audioBuffer; reads never pass it
  std::uint8_t* shiftBuffer;           // reused for the field-order shift
  std::uint32_t compressedCapacity;    // bytes of compressed data compressedBuffer holds
  std::uint32_t compressedDataOffset;  // where that data starts in compressedBuffer
  bool compressorReadsOnly;            // the host's frame may be compressed where it lies
  bool openDmlWanted;                  // the host profile asks for OpenDML past the first form
  AviWriter aviWriter;                 // the AVI file, once the headers are written
};

// How long the video side waits for pushed audio: the stated defaults, made
// adjustable so tests need not wait twenty seconds.
struct AudioWaitLimits {
  std::uint32_t normalMs = 20000;
  std::uint32_t nearEndMs = 1000;
};
AudioWaitLimits& PushedAudioWaitLimits();

// Shows a message in a modal box with an OK button.
void ShowMessage(const char* text);

// Movable, zero-filled global memory, locked for its whole life.
std::uint8_t* AllocLockedBlock(std::size_t bytes);
void FreeLockedBlock(std::uint8_t*& block);
