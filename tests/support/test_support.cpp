#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

#include "hoststub/norv_host.h"
#include "platform/ui/message_box.h"

namespace norv::test {

RecordedMessages::RecordedMessages() {
  NorvSetMessageSink(&RecordedMessages::Sink, this);
}
RecordedMessages::~RecordedMessages() {
  NorvSetMessageSink(nullptr, nullptr);
}

int RecordedMessages::Sink(void* self, const char* text, const char*, unsigned) {
  static_cast<RecordedMessages*>(self)->texts_.emplace_back(text != nullptr ? text : "");
  return 1;
}

TempDir::TempDir() {
  std::string name = (std::filesystem::temp_directory_path() / "norv-test-XXXXXX").string();
  if (::mkdtemp(name.data()) == nullptr) throw std::runtime_error("cannot create a scratch folder");
  path_ = name;
}

TempDir::~TempDir() {
  std::error_code ec;
  // Read-only files made by tests must not keep the folder alive.
  for (auto& e : std::filesystem::recursive_directory_iterator(path_, ec))
    std::filesystem::permissions(e.path(), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
  std::filesystem::remove_all(path_, ec);
}

namespace {
void ResetHost(const std::string& profile) {
  NorvHostSetNtsc(0);
  NorvHostSetHardware(0);
  NorvHostSetProject(720, 576, 2500);
  NorvHostSetConfirm(1);
  NorvHostSetDvReverseAvailable(1);
  NorvHostSetProfilePath(profile.c_str());
}
}  // namespace

HostScope::HostScope() {
  ResetHost(dir_.File("profile.ini"));
}
HostScope::~HostScope() {
  ResetHost("");
}

std::vector<std::uint8_t> ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}
std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> Listing(const std::filesystem::path& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

void WriteFileBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

std::string RunCommand(const std::string& command, int* status) {
  std::string output;
  int rc = -1;  // no shell started: not an exit
  if (FILE* pipe = ::popen(command.c_str(), "r")) {
    char buffer[4096];
    while (auto n = std::fread(buffer, 1, sizeof buffer, pipe)) output.append(buffer, n);
    rc = ::pclose(pipe);
  }
  if (status != nullptr) *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  return output;
}

std::string VerifyMovie(const std::string& path) {
  int status = -1;
  const std::string report =
      RunCommand(std::string(NORV_BUILD_DIR) + "/norvavi verify '" + path + "' 2>&1", &status);
  return status == 0 ? "" : report + "(exit " + std::to_string(status) + ")";
}

std::string VerifyMovieBytes(const std::vector<std::uint8_t>& bytes) {
  TempDir dir;
  WriteFileBytes(dir.File("movie.avi"), bytes);
  return VerifyMovie(dir.File("movie.avi"));
}

std::vector<std::uint8_t> FfmpegDecode(const std::string& path, const std::string& output) {
  int status = -1;
  const std::string out = RunCommand("ffmpeg -v error -i " + path + " " + output + " -", &status);
  if (status != 0) ADD_FAILURE() << "ffmpeg cannot decode " << path;
  return status == 0 ? std::vector<std::uint8_t>(out.begin(), out.end())
                     : std::vector<std::uint8_t>{};
}

int FfprobeFrames(const std::string& path, const std::string& options) {
  const std::string count =
      " -count_frames -select_streams v:0 -show_entries stream=nb_read_frames -of csv=p=0 ";
  int status = 0, frames = -1;
  const std::string out = RunCommand("ffprobe -v quiet " + options + count + path, &status);
  return status == 0 && std::sscanf(out.c_str(), "%d", &frames) == 1 ? frames : -1;
}

void PutLe(std::vector<std::uint8_t>& bytes, std::uint32_t value, int size) {
  for (int i = 0; i < size; ++i) bytes.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

void Put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b.at(at + i) = static_cast<std::uint8_t>(v >> (8 * i));
}

std::vector<std::uint8_t> RiffBytes(const std::string& form, const RiffChunks& chunks) {
  std::vector<std::uint8_t> b = {'R', 'I', 'F', 'F', 0, 0, 0, 0};
  b.insert(b.end(), form.begin(), form.end());
  for (const auto& [id, data] : chunks) {
    b.insert(b.end(), id.begin(), id.end());
    PutLe(b, static_cast<std::uint32_t>(data.size()));
    b.insert(b.end(), data.begin(), data.end());
    if (data.size() % 2 != 0) b.push_back(0);
  }
  Put32(b, 4, static_cast<std::uint32_t>(b.size() - 8));
  return b;
}

std::vector<std::uint8_t> WaveFormatData(int channels, int rate, int bits, int block) {
  if (block < 0) block = channels * bits / 8;
  std::vector<std::uint8_t> f;
  PutLe(f, 1, 2);
  PutLe(f, static_cast<std::uint32_t>(channels), 2);
  PutLe(f, static_cast<std::uint32_t>(rate));
  PutLe(f, static_cast<std::uint32_t>(rate * channels * bits / 8));
  PutLe(f, static_cast<std::uint32_t>(block), 2);
  PutLe(f, static_cast<std::uint32_t>(bits), 2);
  return f;
}

std::uint32_t Le32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return static_cast<std::uint32_t>(b.at(at)) | (static_cast<std::uint32_t>(b.at(at + 1)) << 8) |
         (static_cast<std::uint32_t>(b.at(at + 2)) << 16) |
         (static_cast<std::uint32_t>(b.at(at + 3)) << 24);
}

std::string FourCC(const std::vector<std::uint8_t>& b, std::size_t at) {
  return std::string(reinterpret_cast<const char*>(&b.at(at)), 4);
}

}  // namespace norv::test
