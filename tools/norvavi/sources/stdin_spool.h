// A stream read from standard input ("-" in place of a file name), kept in
// a temporary file: the picture and the sound can then each be read from it,
// and its length is known before the movie's headers are written.
#pragma once

#include <string>

namespace norv::cli {

class StdinSpool {
 public:
  StdinSpool() = default;
  ~StdinSpool();  // removes the copy
  StdinSpool(const StdinSpool&) = delete;
  StdinSpool& operator=(const StdinSpool&) = delete;

  // Where to read `name` from: `name` itself, or for "-" the copy of
  // standard input, made at the first call. False with `error` set when
  // the copy cannot be made or standard input holds nothing.
  bool Resolve(const std::string& name, std::string* path, std::string* error);

 private:
  std::string path_;
};

}  // namespace norv::cli
