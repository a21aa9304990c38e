#include "engine/formats/psd/psd_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "engine/formats/psd/psd_rle.h"

namespace trelvi::psd {
namespace {

constexpr std::size_t kSinkBytes = std::size_t{1} << 20;
constexpr double kDefaultPpi = 240.0;

void Put16(std::vector<std::uint8_t>& out, std::uint16_t v) {
  out.push_back(static_cast<std::uint8_t>(v >> 8));
  out.push_back(static_cast<std::uint8_t>(v));
}

void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  Put16(out, static_cast<std::uint16_t>(v >> 16));
  Put16(out, static_cast<std::uint16_t>(v));
}

// The resources as written: the carried ones (without any version
// information of theirs), a default resolution, our version information.
std::vector<PsdResource> WrittenResources(const PsdWriteSpec& spec) {
  std::vector<PsdResource> out;
  bool resolution = false;
  for (const PsdResource& r : spec.Resources) {
    if (r.Id == kResVersionInfo) continue;
    resolution = resolution || r.Id == kResResolution;
    out.push_back(r);
  }
  if (!resolution)
    out.push_back(
        {kResResolution, MakeResolutionData(kDefaultPpi, kDefaultPpi)});
  out.push_back({kResVersionInfo, MakeVersionInfoData(true)});
  return out;
}

std::uint64_t ResourcesBytes(const std::vector<PsdResource>& resources) {
  std::uint64_t bytes = 0;
  for (const PsdResource& r : resources) {
    const std::uint64_t size = r.Data.size();
    bytes += 4 + 2 + 2 + 4 + size + (size & 1);
  }
  return bytes;
}

bool WriteAllAt(int fd, const std::uint8_t* data, std::uint64_t size,
                std::uint64_t offset) {
  while (size > 0) {
    const std::size_t chunk = static_cast<std::size_t>(
        std::min<std::uint64_t>(size, std::uint64_t{1} << 30));
    const ssize_t put = ::pwrite(fd, data, chunk, static_cast<off_t>(offset));
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    data += put;
    size -= static_cast<std::uint64_t>(put);
    offset += static_cast<std::uint64_t>(put);
  }
  return true;
}

// An unnamed file in the folder of fileName: created and unlinked at once,
// so that nothing of it can outlive the process.
int OpenSpill(const std::string& fileName) {
  std::string pattern = fileName + ".spill-XXXXXX";
  const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
  if (fd >= 0) ::unlink(pattern.c_str());
  return fd;
}

}  // namespace

std::uint64_t PsdFileBytes(const PsdWriteSpec& spec, PsdVersion version) {
  const bool psb = version == PsdVersion::Psb;
  const std::uint64_t plane = std::uint64_t{spec.Width} * (spec.Depth / 8);
  const std::uint64_t rows = 3 * std::uint64_t{spec.Height};
  std::uint64_t composite = rows * plane;
  if (spec.Compression == PsdCompression::Rle)
    composite = rows * ((psb ? 4 : 2) + PackBitsBound(plane));
  return 26 + 4 + 4 + ResourcesBytes(WrittenResources(spec)) + (psb ? 8 : 4) +
         2 + composite;
}

PsdVersion ChoosePsdVersion(const PsdWriteSpec& spec) {
  if (spec.Width <= kPsdMaxSide && spec.Height <= kPsdMaxSide &&
      PsdFileBytes(spec, PsdVersion::Psd) < kPsdMaxFileBytes)
    return PsdVersion::Psd;
  return PsdVersion::Psb;
}

const char* PsdExtension(PsdVersion version) {
  return version == PsdVersion::Psb ? ".psb" : ".psd";
}

PsdWriter::PsdWriter() = default;

PsdWriter::~PsdWriter() { Abort(); }

void PsdWriter::CloseAll() {
  for (Sink& s : sinks_) {
    if (s.Spill && s.Fd >= 0) ::close(s.Fd);
    s = Sink{};
  }
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  plane_.reset();
  counts_.clear();
  counts_.shrink_to_fit();
}

void PsdWriter::Abort() {
  const bool remove = fd_ >= 0 && regularFile_;
  CloseAll();
  if (remove) std::remove(fileName_.c_str());
}

bool PsdWriter::Create(const std::string& fileName, const PsdWriteSpec& spec) {
  Abort();
  failed_ = false;
  nextRow_ = 0;
  if (spec.Width == 0 || spec.Height == 0 ||
      (spec.Depth != 8 && spec.Depth != 16) ||
      (spec.Compression != PsdCompression::Raw &&
       spec.Compression != PsdCompression::Rle))
    return false;
  version_ = spec.Version ? *spec.Version : ChoosePsdVersion(spec);
  const bool psb = version_ == PsdVersion::Psb;
  const std::uint32_t maxSide = psb ? kPsbMaxSide : kPsdMaxSide;
  if (spec.Width > maxSide || spec.Height > maxSide) return false;
  if (!psb && PsdFileBytes(spec, version_) >= kPsdMaxFileBytes) return false;
  const std::vector<PsdResource> resources = WrittenResources(spec);
  const std::uint64_t resourcesBytes = ResourcesBytes(resources);
  if (resourcesBytes > 0xFFFFFFFFu) return false;
  for (const PsdResource& r : resources)
    if (r.Data.size() > 0xFFFFFFFFu) return false;

  width_ = spec.Width;
  height_ = spec.Height;
  depth_ = spec.Depth;
  compression_ = spec.Compression;
  planeBytes_ = std::uint64_t{width_} * (depth_ / 8);
  rowBytes_ = 3 * planeBytes_;

  std::vector<std::uint8_t> head;
  head.insert(head.end(), {'8', 'B', 'P', 'S'});
  Put16(head, static_cast<std::uint16_t>(version_));
  head.insert(head.end(), 6, 0);
  Put16(head, 3);
  Put32(head, height_);
  Put32(head, width_);
  Put16(head, depth_);
  Put16(head, kColorModeRgb);
  Put32(head, 0);  // no colour mode data
  Put32(head, static_cast<std::uint32_t>(resourcesBytes));
  for (const PsdResource& r : resources) {
    head.insert(head.end(), {'8', 'B', 'I', 'M'});
    Put16(head, r.Id);
    Put16(head, 0);  // empty name, padded
    Put32(head, static_cast<std::uint32_t>(r.Data.size()));
    head.insert(head.end(), r.Data.begin(), r.Data.end());
    if (r.Data.size() & 1) head.push_back(0);
  }
  head.insert(head.end(), psb ? 8 : 4, 0);  // no layers
  Put16(head, static_cast<std::uint16_t>(compression_));
  tableStart_ = head.size();
  rowsStart_ = tableStart_;
  if (compression_ == PsdCompression::Rle)
    rowsStart_ += 3 * std::uint64_t{height_} * (psb ? 4 : 2);

  fileName_ = fileName;
  fd_ =
      ::open(fileName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd_ < 0) return false;
  // Only a file of our own is ever removed again (never a device that was
  // named as the output).
  struct stat st {};
  regularFile_ = ::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode);
  if (!WriteAllAt(fd_, head.data(), head.size(), 0)) {
    Abort();
    return false;
  }

  sinkCapacity_ = static_cast<std::size_t>(
      std::max<std::uint64_t>(kSinkBytes, PackBitsBound(planeBytes_)));
  for (int c = 0; c < 3; ++c) {
    Sink& s = sinks_[c];
    if (compression_ == PsdCompression::Raw) {
      s.Fd = fd_;
      s.Offset = rowsStart_ + std::uint64_t(c) * height_ * planeBytes_;
    } else if (c == 0) {
      s.Fd = fd_;
      s.Offset = rowsStart_;
    } else {
      s.Fd = OpenSpill(fileName);
      s.Spill = true;
      if (s.Fd < 0) {
        Abort();
        return false;
      }
    }
    s.Buffer = std::make_unique<std::uint8_t[]>(sinkCapacity_);
  }
  if (compression_ == PsdCompression::Rle) {
    plane_ = std::make_unique<std::uint8_t[]>(planeBytes_);
    counts_.assign(3 * std::size_t{height_}, 0);
  }
  return true;
}

bool PsdWriter::Flush(Sink& sink) {
  if (sink.Used == 0) return true;
  if (!WriteAllAt(sink.Fd, sink.Buffer.get(), sink.Used, sink.Offset))
    return false;
  sink.Offset += sink.Used;
  sink.Written += sink.Used;
  sink.Used = 0;
  return true;
}

bool PsdWriter::WriteRow(const std::uint8_t* row) {
  if (fd_ < 0 || failed_ || nextRow_ >= height_) return false;
  const std::size_t width = width_;
  const std::size_t plane = static_cast<std::size_t>(planeBytes_);
  for (int c = 0; c < 3; ++c) {
    Sink& s = sinks_[c];
    const std::size_t need =
        compression_ == PsdCompression::Raw
            ? plane
            : static_cast<std::size_t>(PackBitsBound(planeBytes_));
    if (sinkCapacity_ - s.Used < need && !Flush(s)) {
      failed_ = true;
      return false;
    }
    std::uint8_t* to = compression_ == PsdCompression::Raw
                           ? s.Buffer.get() + s.Used
                           : plane_.get();
    if (depth_ == 8) {
      const std::uint8_t* from = row + c;
      for (std::size_t x = 0; x < width; ++x, from += 3) to[x] = *from;
    } else {
      const std::uint8_t* from = row + 2 * c;
      for (std::size_t x = 0; x < width; ++x, from += 6) {
        to[2 * x] = from[1];
        to[2 * x + 1] = from[0];
      }
    }
    if (compression_ == PsdCompression::Raw) {
      s.Used += plane;
    } else {
      const std::size_t coded =
          PackBitsRow(plane_.get(), plane, s.Buffer.get() + s.Used);
      s.Used += coded;
      counts_[std::size_t(c) * height_ + nextRow_] =
          static_cast<std::uint32_t>(coded);
    }
  }
  ++nextRow_;
  return true;
}

bool PsdWriter::CopySpill(Sink& from, std::uint64_t to) {
  // The sink's buffer is free once flushed and serves the copy.
  std::uint64_t done = 0;
  while (done < from.Written) {
    const std::size_t chunk = static_cast<std::size_t>(
        std::min<std::uint64_t>(sinkCapacity_, from.Written - done));
    std::size_t got = 0;
    while (got < chunk) {
      const ssize_t n = ::pread(from.Fd, from.Buffer.get() + got, chunk - got,
                                static_cast<off_t>(done + got));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      got += static_cast<std::size_t>(n);
    }
    if (!WriteAllAt(fd_, from.Buffer.get(), chunk, to + done)) return false;
    done += chunk;
  }
  return true;
}

bool PsdWriter::Finish() {
  if (fd_ < 0) return false;
  bool ok = !failed_ && nextRow_ == height_;
  for (Sink& s : sinks_) ok = ok && Flush(s);
  if (ok && compression_ == PsdCompression::Rle) {
    std::uint64_t at = sinks_[0].Offset;
    for (int c = 1; c < 3 && ok; ++c) {
      ok = CopySpill(sinks_[c], at);
      at += sinks_[c].Written;
    }
    // The counts, in slices through channel 0's buffer.
    const bool psb = version_ == PsdVersion::Psb;
    const std::size_t entry = psb ? 4 : 2;
    std::uint8_t* slice = sinks_[0].Buffer.get();
    const std::size_t perSlice = sinkCapacity_ / entry;
    std::uint64_t offset = tableStart_;
    for (std::size_t i = 0; ok && i < counts_.size(); i += perSlice) {
      const std::size_t n = std::min(perSlice, counts_.size() - i);
      for (std::size_t k = 0; k < n; ++k) {
        const std::uint32_t v = counts_[i + k];
        std::uint8_t* e = slice + k * entry;
        if (psb) {
          e[0] = static_cast<std::uint8_t>(v >> 24);
          e[1] = static_cast<std::uint8_t>(v >> 16);
          e += 2;
        }
        e[0] = static_cast<std::uint8_t>(v >> 8);
        e[1] = static_cast<std::uint8_t>(v);
      }
      ok = WriteAllAt(fd_, slice, n * entry, offset);
      offset += n * entry;
    }
  }
  for (Sink& s : sinks_) {
    if (s.Spill && s.Fd >= 0) ::close(s.Fd);
    s = Sink{};
  }
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) ok = false;
  plane_.reset();
  counts_.clear();
  if (!ok && regularFile_) std::remove(fileName_.c_str());
  return ok;
}

}  // namespace trelvi::psd
