#include "tools/norvavi/sources/files_opened_ahead.h"

#include <system_error>
#include <utility>

#include "tools/norvavi/sources/media_decoder.h"

namespace norv::cli {

FilesOpenedAhead::~FilesOpenedAhead() {
  {
    const std::lock_guard lock(mutex_);
    stop_ = true;
  }
  added_.notify_one();
  if (worker_.joinable()) worker_.join();
  for (File& f : files_) avformat_close_input(&f.format);
}

void FilesOpenedAhead::Add(const std::string& path) {
  {
    const std::lock_guard lock(mutex_);
    files_.push_back(File{path});
    if (!worker_.joinable()) {
      try {
        worker_ = std::thread([this] { Work(); });
      } catch (const std::system_error&) {
        files_.back().given = true;  // no thread: whoever asks opens it
      }
    }
  }
  added_.notify_one();
}

bool FilesOpenedAhead::Take(const std::string& path, AVFormatContext** format, bool* opened,
                            std::string* error) {
  std::unique_lock lock(mutex_);
  for (File& f : files_) {
    if (f.given || f.path != path) continue;
    f.given = true;
    done_.wait(lock, [&f] { return f.done; });
    if (!f.tried) return false;
    *format = std::exchange(f.format, nullptr);
    *opened = f.opened;
    if (!f.opened) *error = f.error;
    return true;
  }
  return false;
}

void FilesOpenedAhead::Work() {
  std::unique_lock lock(mutex_);
  for (std::size_t i = 0;; ++i) {
    added_.wait(lock, [&] { return stop_ || i < files_.size(); });
    if (stop_) return;
    const std::string path = files_[i].path;
    lock.unlock();
    AVFormatContext* format = nullptr;
    std::string error;
    bool opened = false, tried = true;
    try {
      opened = OpenMediaFile(path, &format, &error);
    } catch (...) {  // nothing may leave this thread; whoever asks opens it
      avformat_close_input(&format);
      tried = false;
    }
    lock.lock();
    File& f = files_[i];
    f.format = format;
    f.opened = opened;
    f.tried = tried;
    f.error = std::move(error);
    f.done = true;
    done_.notify_all();
  }
}

}  // namespace norv::cli
