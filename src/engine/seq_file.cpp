#include "engine/seq_file.h"

#include <cstdlib>

namespace trelvi {

namespace {
constexpr std::size_t kMinBuffer = 64u << 10;
constexpr std::size_t kMaxBuffer = 2u << 20;

std::size_t BufferFor(std::size_t rowBytes) {
  const std::size_t want =
      rowBytes > kMaxBuffer / 4 ? kMaxBuffer : rowBytes * 4;
  return want < kMinBuffer ? kMinBuffer : want;
}
}  // namespace

SeqFile::~SeqFile() { Close(); }

void SeqFile::Bind(const std::string& fileName) {
  Close();
  name_ = fileName;
  failed_ = false;
}

static std::FILE* OpenWithBuffer(const std::string& name, const char* mode,
                                 std::size_t rowBytes, char*& buffer) {
  std::FILE* f = std::fopen(name.c_str(), mode);
  if (!f) return nullptr;
  const std::size_t size = BufferFor(rowBytes);
  buffer = static_cast<char*>(std::malloc(size));
  if (buffer) std::setvbuf(f, buffer, _IOFBF, size);
  return f;
}

bool SeqFile::OpenRead(std::size_t rowBytes) {
  Close();
  writing_ = false;
  file_ = OpenWithBuffer(name_, "rb", rowBytes, buffer_);
  readPos_ = 0;
  if (!file_) failed_ = true;
  return file_ != nullptr;
}

bool SeqFile::OpenWrite(std::size_t rowBytes) {
  Close();
  writing_ = true;
  file_ = OpenWithBuffer(name_, "wb", rowBytes, buffer_);
  if (!file_) failed_ = true;
  return file_ != nullptr;
}

bool SeqFile::Skip(std::int64_t bytes) {
  if (!file_ || failed_) return false;
  if (!writing_ && bytes == readPos_) return true;
    // Seeking past the end succeeds on most systems; the next read then
    // delivers nothing, which is the failure the caller sees.
#if defined(_WIN32)
  if (_fseeki64(file_, bytes, SEEK_SET) != 0) failed_ = true;
#else
  if (fseeko(file_, static_cast<off_t>(bytes), SEEK_SET) != 0) failed_ = true;
#endif
  readPos_ = bytes;
  return !failed_;
}

std::size_t SeqFile::Read(void* buffer, std::size_t count) {
  if (!file_ || failed_ || writing_ || count == 0) return 0;
  const std::size_t got = std::fread(buffer, 1, count, file_);
  readPos_ += static_cast<std::int64_t>(got);
  return got;
}

std::size_t SeqFile::Write(const void* buffer, std::size_t count) {
  if (!file_ || failed_ || !writing_ || count == 0) return 0;
  std::size_t n = std::fwrite(buffer, 1, count, file_);
  if (n != count) failed_ = true;
  return n;
}

bool SeqFile::Close() {
  bool ok = true;
  if (file_) {
    if (writing_ && std::fflush(file_) != 0) ok = false;
    if (std::ferror(file_)) ok = false;
    if (std::fclose(file_) != 0) ok = false;
    file_ = nullptr;
    if (writing_ && (failed_ || !ok)) {
      failed_ = true;
      ok = false;
    }
  }
  std::free(buffer_);
  buffer_ = nullptr;
  return ok;
}

}  // namespace trelvi
