#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace trelvi {

// A file read or written through one block buffer. Positions and sizes are
// 64-bit. A read never goes past the size (taken at opening, grown by
// writes): it returns fewer bytes, or none. A changed block is written out
// when it is full, when the position moves to another block and on Close.
// Failures raise TImagingError.
class TBufferedStream {
 public:
  static constexpr std::int64_t kBlockSize = 16384;

  enum class Mode {
    Read,    // existing file; other writers refused while it is open
    Create,  // new or emptied file, exclusive access
  };

  TBufferedStream(const std::string& fileName, Mode mode);
  // Closes without raising; a pending block is still written out.
  ~TBufferedStream();
  TBufferedStream(const TBufferedStream&) = delete;
  TBufferedStream& operator=(const TBufferedStream&) = delete;

  std::int64_t Read(void* buffer, std::int64_t count);
  std::int64_t Write(const void* buffer, std::int64_t count);
  // Moves to an absolute position (at most the size).
  void Seek(std::int64_t position);
  std::int64_t Position() const { return position_; }
  std::int64_t Size() const { return size_; }

  // Writes out what is buffered and closes the file; raises when the data
  // did not reach it. The file is closed on every path.
  void Close();

 private:
  void LoadBlock(std::int64_t blockStart);
  void FlushBlock();
  void SelectBlock(std::int64_t blockStart, bool forWrite);
  // Moves whole blocks from the position through move(bytes) when the
  // position starts a block that is not held and a block or more remains;
  // returns the bytes moved, 0 when it does not apply.
  template <typename Move>
  std::int64_t Direct(std::int64_t remaining, const char* seekError,
                      Move&& move);

  int fd_ = -1;
  Mode mode_;
  std::int64_t position_ = 0;
  std::int64_t size_ = 0;
  std::unique_ptr<std::uint8_t[]> buffer_;
  std::int64_t blockStart_ = -1;  // -1: no block held
  std::int64_t blockLength_ = 0;  // valid bytes in the buffer
  bool dirty_ = false;
};

}  // namespace trelvi
