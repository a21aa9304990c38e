#include "resize/imaging/buffered_stream.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "resize/imaging/image_data.h"

namespace trelvi {

namespace {

// Whole transfers: read() and write() may move fewer bytes than asked.
std::int64_t ReadFully(int fd, std::uint8_t* data, std::int64_t count) {
  std::int64_t done = 0;
  while (done < count) {
    const std::size_t chunk =
        static_cast<std::size_t>(std::min<std::int64_t>(count - done, 1 << 30));
    const ssize_t n = ::read(fd, data + done, chunk);
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (n == 0) break;
    done += n;
  }
  return done;
}

bool WriteFully(int fd, const std::uint8_t* data, std::int64_t count) {
  std::int64_t done = 0;
  while (done < count) {
    const std::size_t chunk =
        static_cast<std::size_t>(std::min<std::int64_t>(count - done, 1 << 30));
    const ssize_t n = ::write(fd, data + done, chunk);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return false;
    done += n;
  }
  return true;
}

[[noreturn]] void RaiseOpen(const std::string& what,
                            const std::string& fileName, int error) {
  throw TImagingError(what + " " + fileName + ": " + std::strerror(error));
}

}  // namespace

TBufferedStream::TBufferedStream(const std::string& fileName, Mode mode)
    : mode_(mode), buffer_(new std::uint8_t[kBlockSize]) {
  if (mode == Mode::Read) {
    fd_ = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) RaiseOpen("Cannot open file", fileName, errno);
    // Readers share the file; a writer holding it makes the open fail.
    if (::flock(fd_, LOCK_SH | LOCK_NB) != 0) {
      const int error = errno;
      ::close(fd_);
      fd_ = -1;
      RaiseOpen("Cannot open file", fileName, error);
    }
    struct stat st;
    if (::fstat(fd_, &st) != 0) {
      const int error = errno;
      ::close(fd_);
      fd_ = -1;
      RaiseOpen("Cannot open file", fileName, error);
    }
    size_ = static_cast<std::int64_t>(st.st_size);
  } else {
    // Emptied only once the lock is held, so a file in use elsewhere is
    // never cut short.
    fd_ = ::open(fileName.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd_ < 0) RaiseOpen("Cannot create file", fileName, errno);
    struct stat st;
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0 || ::fstat(fd_, &st) != 0 ||
        (S_ISREG(st.st_mode) && ::ftruncate(fd_, 0) != 0)) {
      const int error = errno;
      ::close(fd_);
      fd_ = -1;
      RaiseOpen("Cannot create file", fileName, error);
    }
    size_ = 0;
  }
}

TBufferedStream::~TBufferedStream() {
  try {
    Close();
  } catch (...) {
  }
}

void TBufferedStream::LoadBlock(std::int64_t blockStart) {
  if (::lseek(fd_, static_cast<off_t>(blockStart), SEEK_SET) < 0)
    throw TImagingError("TBufferedStream.ReadBuffer: seek failed");
  const std::int64_t want =
      std::clamp<std::int64_t>(size_ - blockStart, 0, kBlockSize);
  const std::int64_t got = ReadFully(fd_, buffer_.get(), want);
  if (got != want)
    throw TImagingError("TBufferedStream.ReadBuffer: read failed");
  blockStart_ = blockStart;
  blockLength_ = want;
  dirty_ = false;
}

void TBufferedStream::FlushBlock() {
  if (!dirty_) return;
  if (::lseek(fd_, static_cast<off_t>(blockStart_), SEEK_SET) < 0)
    throw TImagingError("TBufferedStream.WriteBuffer: seek failed");
  if (!WriteFully(fd_, buffer_.get(), blockLength_))
    throw TImagingError("TBufferedStream.WriteBuffer: write failed");
  dirty_ = false;
}

void TBufferedStream::SelectBlock(std::int64_t blockStart, bool forWrite) {
  if (blockStart_ == blockStart) return;
  FlushBlock();
  blockStart_ = -1;
  if (blockStart < size_) {
    LoadBlock(blockStart);
  } else if (forWrite) {
    blockStart_ = blockStart;
    blockLength_ = 0;
  }
}

// Whole blocks go straight between the file and the caller's memory. A
// changed block reaches the file first; a held block inside the range is
// dropped (after a write it would be stale).
template <typename Move>
std::int64_t TBufferedStream::Direct(std::int64_t remaining,
                                     const char* seekError, Move&& move) {
  if (position_ % kBlockSize != 0 || remaining < kBlockSize ||
      blockStart_ == position_)
    return 0;
  FlushBlock();
  const std::int64_t whole = remaining - remaining % kBlockSize;
  if (::lseek(fd_, static_cast<off_t>(position_), SEEK_SET) < 0)
    throw TImagingError(seekError);
  move(whole);
  if (blockStart_ >= position_ && blockStart_ < position_ + whole)
    blockStart_ = -1;
  position_ += whole;
  size_ = std::max(size_, position_);
  return whole;
}

std::int64_t TBufferedStream::Read(void* buffer, std::int64_t count) {
  if (fd_ < 0 || count <= 0) return 0;
  count = std::min(count, size_ - position_);
  auto* out = static_cast<std::uint8_t*>(buffer);
  std::int64_t done = 0;
  while (done < count) {
    const std::int64_t remaining = count - done;
    const std::int64_t whole = Direct(
        remaining, "TBufferedStream.ReadBuffer: seek failed",
        [&](std::int64_t n) {
          if (ReadFully(fd_, out + done, n) != n)
            throw TImagingError("TBufferedStream.ReadBuffer: read failed");
        });
    if (whole > 0) {
      done += whole;
      continue;
    }
    const std::int64_t offset = position_ % kBlockSize;
    const std::int64_t blockStart = position_ - offset;
    SelectBlock(blockStart, false);
    const std::int64_t n = std::min(remaining, blockLength_ - offset);
    if (n <= 0) break;
    std::memcpy(out + done, buffer_.get() + offset, static_cast<size_t>(n));
    position_ += n;
    done += n;
  }
  return done;
}

std::int64_t TBufferedStream::Write(const void* buffer, std::int64_t count) {
  if (fd_ < 0) throw TImagingError("TBufferedStream.WriteBuffer: write failed");
  if (count <= 0) return 0;
  const auto* in = static_cast<const std::uint8_t*>(buffer);
  std::int64_t done = 0;
  while (done < count) {
    const std::int64_t remaining = count - done;
    const std::int64_t whole = Direct(
        remaining, "TBufferedStream.WriteBuffer: seek failed",
        [&](std::int64_t n) {
          if (!WriteFully(fd_, in + done, n))
            throw TImagingError("TBufferedStream.WriteBuffer: write failed");
        });
    if (whole > 0) {
      done += whole;
      continue;
    }
    const std::int64_t offset = position_ % kBlockSize;
    const std::int64_t blockStart = position_ - offset;
    SelectBlock(blockStart, true);
    const std::int64_t n = std::min(remaining, kBlockSize - offset);
    std::memcpy(buffer_.get() + offset, in + done, static_cast<size_t>(n));
    dirty_ = true;
    blockLength_ = std::max(blockLength_, offset + n);
    position_ += n;
    done += n;
    size_ = std::max(size_, position_);
    if (offset + n == kBlockSize) FlushBlock();
  }
  return done;
}

void TBufferedStream::Seek(std::int64_t position) {
  position_ = std::clamp<std::int64_t>(position, 0, size_);
}

void TBufferedStream::Close() {
  if (fd_ < 0) return;
  try {
    FlushBlock();
  } catch (...) {
    ::close(fd_);
    fd_ = -1;
    throw;
  }
  const int result = ::close(fd_);
  fd_ = -1;
  if (result != 0 && mode_ == Mode::Create)
    throw TImagingError("TBufferedStream.WriteBuffer: write failed");
}

}  // namespace trelvi
