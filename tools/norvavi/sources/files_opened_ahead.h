// Media files opened on a thread of their own while the caller does other
// work. Opening a file reads and decodes its start to learn its streams, and
// a movie's decoders each open the file its probe has just opened: asked for
// here as soon as the file is known, they find it open.
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

struct AVFormatContext;

namespace norv::cli {

class FilesOpenedAhead {
 public:
  FilesOpenedAhead() = default;
  ~FilesOpenedAhead();  // waits for the open in progress; closes what nobody took
  FilesOpenedAhead(const FilesOpenedAhead&) = delete;
  FilesOpenedAhead& operator=(const FilesOpenedAhead&) = delete;

  // Opens `path` once more, after those asked for before.
  void Add(const std::string& path);
  // Hands over a context of `path` opened ahead, waiting for it if need be:
  // true with `opened` set as OpenMediaFile would have answered (the context
  // in `format` then, else `error`). False when none was asked for or left:
  // the caller opens the file itself.
  bool Take(const std::string& path, AVFormatContext** format, bool* opened, std::string* error);

 private:
  struct File {
    std::string path;
    AVFormatContext* format = nullptr;
    std::string error;
    bool opened = false;  // what OpenMediaFile answered
    bool tried = false;   // false: it threw, and the file is opened again
    bool done = false;    // the worker is through with it
    bool given = false;   // handed over, or never to be
  };

  void Work();

  std::mutex mutex_;
  std::condition_variable added_;  // a file was added, or the worker must stop
  std::condition_variable done_;   // the worker is through with a file
  std::deque<File> files_;         // stays in place as more are added
  bool stop_ = false;
  std::thread worker_;
};

}  // namespace norv::cli
