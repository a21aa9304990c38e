#include "engine/formats/psd/psd_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "engine/formats/psd/psd_rle.h"

namespace trelvi::psd {
namespace {

std::uint16_t Get16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] << 8 | p[1]);
}

std::uint32_t Get32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 |
         std::uint32_t{p[2]} << 8 | p[3];
}

std::uint64_t Get64(const std::uint8_t* p) {
  return std::uint64_t{Get32(p)} << 32 | Get32(p + 4);
}

// A read of consecutive rows needs no system call for this many bytes of
// each channel; a row larger than that gets a window of its own size.
constexpr std::uint64_t kWindowBytes = std::uint64_t{1} << 20;

// A resource larger than this is not carried (no profile, XMP packet or
// EXIF block comes near it); it is skipped like any other.
constexpr std::uint32_t kMaxKeptResource = 256u << 20;

// The entries of the RLE row table are read in slices of this many bytes.
constexpr std::size_t kTableSlice = 64 * 1024;

bool IsKept(std::uint16_t id) {
  switch (id) {
    case kResResolution:
    case kResAlphaNames:
    case kResIptc:
    case kResIccProfile:
    case kResUnicodeAlphaNames:
    case kResAlphaIdentifiers:
    case kResVersionInfo:
    case kResExif1:
    case kResExif3:
    case kResXmp:
      return true;
    default:
      return false;
  }
}

bool IsResourceSignature(const std::uint8_t* p) {
  // Photoshop writes 8BIM; a few other programs sign their own blocks.
  for (const char* sig : {"8BIM", "MeSa", "PHUT", "AgHg", "DCSR"})
    if (std::memcmp(p, sig, 4) == 0) return true;
  return false;
}

// Tagged blocks whose length field is 8 bytes in a PSB.
bool HasLongLength(const std::uint8_t* key) {
  for (const char* k : {"LMsk", "Lr16", "Lr32", "Layr", "Mt16", "Mt32", "Mtrn",
                        "Alph", "FMsk", "lnk2", "FEid", "FXid", "PxSD"})
    if (std::memcmp(key, k, 4) == 0) return true;
  return false;
}

bool KeyIs(const std::uint8_t* key, const char* name) {
  return std::memcmp(key, name, 4) == 0;
}

}  // namespace

const char* PsdOpenMessage(PsdOpenResult result) {
  switch (result) {
    case PsdOpenResult::ZeroSize:
      return "Height or Width = 0";
    case PsdOpenResult::NotRgb:
      return "The image must be RGB";
    case PsdOpenResult::NotEightOrSixteenBits:
      return "The image must be 8 or 16 bits";
    case PsdOpenResult::CompressionNotSupported:
      return "The image compression is not supported";
    case PsdOpenResult::NoMergedImage:
      return "The file holds no merged image: save it with maximum "
             "compatibility";
    case PsdOpenResult::Damaged:
      return "Read file error";
    case PsdOpenResult::Ok:
    case PsdOpenResult::CannotOpen:
    case PsdOpenResult::NotPsd:
      break;
  }
  return "";
}

PsdReader::PsdReader() = default;

PsdReader::~PsdReader() { Close(); }

void PsdReader::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  rleOffsets_.clear();
  rleOffsets_.shrink_to_fit();
  windows_.clear();
  plane_.reset();
}

const PsdResource* PsdReader::Resource(std::uint16_t id) const {
  for (const PsdResource& r : resources_)
    if (r.Id == id) return &r;
  return nullptr;
}

bool PsdReader::ReadAt(std::uint64_t offset, void* into, std::uint64_t length) {
  if (offset > fileSize_ || length > fileSize_ - offset) return false;
  auto* p = static_cast<std::uint8_t*>(into);
  while (length > 0) {
    const std::size_t chunk = static_cast<std::size_t>(
        std::min<std::uint64_t>(length, std::uint64_t{1} << 30));
    const ssize_t got = ::pread(fd_, p, chunk, static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    p += got;
    offset += static_cast<std::uint64_t>(got);
    length -= static_cast<std::uint64_t>(got);
  }
  return true;
}

PsdOpenResult PsdReader::Open(const std::string& fileName) {
  Close();
  info_ = PsdInfo{};
  resources_.clear();
  fd_ = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) return PsdOpenResult::CannotOpen;
  struct stat st {};
  if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
    Close();
    return PsdOpenResult::CannotOpen;
  }
  fileSize_ = static_cast<std::uint64_t>(st.st_size);
  info_.FileSize = st.st_size;
  const PsdOpenResult result = ReadSections();
  if (result != PsdOpenResult::Ok) Close();
  return result;
}

PsdOpenResult PsdReader::ReadSections() {
  std::uint8_t head[26] = {};
  const std::uint64_t headBytes = std::min<std::uint64_t>(fileSize_, 26);
  if (!ReadAt(0, head, headBytes)) return PsdOpenResult::CannotOpen;
  const auto version = DetectPsd(head, static_cast<std::size_t>(headBytes));
  if (!version) return PsdOpenResult::NotPsd;
  if (headBytes < 26) return PsdOpenResult::Damaged;
  const bool psb = *version == PsdVersion::Psb;
  info_.Version = *version;
  info_.Channels = Get16(head + 12);
  info_.Height = Get32(head + 14);
  info_.Width = Get32(head + 18);
  info_.Depth = Get16(head + 22);
  info_.ColorMode = Get16(head + 24);

  if (info_.Width == 0 || info_.Height == 0) return PsdOpenResult::ZeroSize;
  const std::uint32_t maxSide = psb ? kPsbMaxSide : kPsdMaxSide;
  if (info_.Width > maxSide || info_.Height > maxSide || info_.Channels == 0 ||
      info_.Channels > 56)
    return PsdOpenResult::Damaged;
  if (info_.ColorMode != kColorModeRgb) return PsdOpenResult::NotRgb;
  if (info_.Depth != 8 && info_.Depth != 16)
    return PsdOpenResult::NotEightOrSixteenBits;
  if (info_.Channels < 3) return PsdOpenResult::Damaged;

  std::uint8_t field[8];
  std::uint64_t pos = 26;
  // Colour mode data: empty for RGB, skipped whatever it holds.
  if (!ReadAt(pos, field, 4)) return PsdOpenResult::Damaged;
  pos += 4 + std::uint64_t{Get32(field)};
  if (pos > fileSize_) return PsdOpenResult::Damaged;

  if (!ReadAt(pos, field, 4)) return PsdOpenResult::Damaged;
  const std::uint64_t resourcesLength = Get32(field);
  pos += 4;
  if (resourcesLength > fileSize_ - pos) return PsdOpenResult::Damaged;
  bool noMergedImage = false;
  if (!ReadResources(pos, resourcesLength, noMergedImage))
    return PsdOpenResult::Damaged;
  if (noMergedImage) return PsdOpenResult::NoMergedImage;
  pos += resourcesLength;

  const std::uint64_t lengthField = psb ? 8 : 4;
  if (!ReadAt(pos, field, lengthField)) return PsdOpenResult::Damaged;
  const std::uint64_t layersLength = psb ? Get64(field) : Get32(field);
  pos += lengthField;
  if (layersLength > fileSize_ - pos) return PsdOpenResult::Damaged;
  FindMergedAlpha(pos, layersLength);
  pos += layersLength;

  if (!ReadAt(pos, field, 2)) return PsdOpenResult::Damaged;
  const std::uint16_t compression = Get16(field);
  if (compression != 0 && compression != 1) {
    info_.Compression =
        compression == 2 ? PsdCompression::Zip : PsdCompression::ZipPredicted;
    return PsdOpenResult::CompressionNotSupported;
  }
  info_.Compression =
      compression == 0 ? PsdCompression::Raw : PsdCompression::Rle;
  pos += 2;

  planeBytes_ = std::uint64_t{info_.Width} * (info_.Depth / 8);
  rowsStart_ = pos;
  maxRowBytes_ = planeBytes_;
  firstBadRow_ = info_.Height;
  if (info_.Compression == PsdCompression::Rle) {
    PrepareRle();
    plane_ = std::make_unique<std::uint8_t[]>(planeBytes_);
  }
  // Windows never outgrow the file, so that a small file claiming a huge
  // image costs no more memory than its size.
  const std::uint64_t capacity =
      std::min(std::max(kWindowBytes, maxRowBytes_),
               std::max<std::uint64_t>(fileSize_, 1));
  windows_.resize(static_cast<std::size_t>(info_.RowChannels()));
  for (Window& w : windows_) w.Capacity = capacity;
  return PsdOpenResult::Ok;
}

bool PsdReader::ReadResources(std::uint64_t start, std::uint64_t length,
                              bool& noMergedImage) {
  const std::uint64_t end = start + length;
  std::uint64_t pos = start;
  // The smallest block: signature, ID, empty name (2 bytes), size.
  while (end - pos >= 12) {
    std::uint8_t head[7];
    if (!ReadAt(pos, head, sizeof head)) return false;
    if (!IsResourceSignature(head)) return false;
    const std::uint16_t id = Get16(head + 4);
    std::uint64_t nameField = 1 + std::uint64_t{head[6]};
    nameField += nameField & 1;
    const std::uint64_t sizeAt = pos + 6 + nameField;
    if (sizeAt > end || end - sizeAt < 4) return false;
    std::uint8_t sizeField[4];
    if (!ReadAt(sizeAt, sizeField, 4)) return false;
    const std::uint32_t size = Get32(sizeField);
    const std::uint64_t dataAt = sizeAt + 4;
    if (size > end - dataAt) return false;
    if (IsKept(id) && size <= kMaxKeptResource) {
      PsdResource r;
      r.Id = id;
      r.Data.resize(size);
      if (!ReadAt(dataAt, r.Data.data(), size)) return false;
      if (id == kResVersionInfo) {
        bool merged = true;
        if (ParseVersionInfoData(r.Data.data(), r.Data.size(), merged) &&
            !merged)
          noMergedImage = true;
      }
      resources_.push_back(std::move(r));
    }
    // The pad byte after odd data may be missing at the section's end.
    pos = std::min(end, dataAt + size + (size & 1));
  }
  return true;
}

void PsdReader::FindMergedAlpha(std::uint64_t start, std::uint64_t length) {
  // Photoshop marks a composite whose first extra channel is the merged
  // transparency by a negative layer count, in the layer info or, for 16
  // and 32 bits, in the layer info's tagged block; or by a tagged block of
  // its own. Anything unreadable here just leaves the extra channels out.
  if (info_.Channels < 4) return;
  const bool psb = info_.Version == PsdVersion::Psb;
  const std::uint64_t lengthField = psb ? 8 : 4;
  const std::uint64_t end = start + length;
  std::uint8_t b[16];
  bool found = false;
  auto negativeCount = [&](std::uint64_t at, std::uint64_t size) {
    std::uint8_t c[2];
    return size >= 2 && ReadAt(at, c, 2) &&
           static_cast<std::int16_t>(Get16(c)) < 0;
  };
  if (length < lengthField || !ReadAt(start, b, lengthField)) return;
  const std::uint64_t infoLength = psb ? Get64(b) : Get32(b);
  std::uint64_t pos = start + lengthField;
  if (infoLength > end - pos) return;
  found = negativeCount(pos, infoLength);
  pos += infoLength;
  // Global layer mask info.
  if (end - pos < 4 || !ReadAt(pos, b, 4)) {
    info_.MergedAlpha = found;
    return;
  }
  const std::uint64_t maskLength = Get32(b);
  pos += 4;
  if (maskLength > end - pos) {
    info_.MergedAlpha = found;
    return;
  }
  pos += maskLength;
  for (int block = 0; block < 256 && !found; ++block) {
    // Writers pad the blocks to 2 or to 4 bytes.
    bool signed_ = false;
    for (std::uint64_t pad = 0; pad < 4 && !signed_; ++pad) {
      if (end - pos < 12 + pad || !ReadAt(pos + pad, b, 12)) break;
      if (KeyIs(b, "8BIM") || KeyIs(b, "8B64")) {
        pos += pad;
        signed_ = true;
      }
    }
    if (!signed_) break;
    const std::uint8_t* key = b + 4;
    std::uint64_t dataLength = Get32(b + 8);
    std::uint64_t dataAt = pos + 12;
    if (psb && HasLongLength(key)) {
      std::uint8_t low[4];
      if (end - pos < 16 || !ReadAt(pos + 12, low, 4)) break;
      dataLength = dataLength << 32 | Get32(low);
      dataAt += 4;
    }
    if (dataLength > end - dataAt) break;
    if (KeyIs(key, "Mtrn") || KeyIs(key, "Mt16") || KeyIs(key, "Mt32"))
      found = true;
    else if (KeyIs(key, "Lr16") || KeyIs(key, "Lr32") || KeyIs(key, "Layr"))
      found = negativeCount(dataAt, dataLength);
    pos = dataAt + dataLength;
  }
  info_.MergedAlpha = found;
}

void PsdReader::PrepareRle() {
  const std::uint64_t entryBytes = info_.Version == PsdVersion::Psb ? 4 : 2;
  const std::uint64_t height = info_.Height;
  const std::uint64_t tableBytes = entryBytes * info_.Channels * height;
  // A table that does not fit the file shows the file truncated at its
  // first row; nothing is allocated for it.
  if (tableBytes > fileSize_ - rowsStart_) {
    firstBadRow_ = 0;
    return;
  }
  const std::uint64_t entries = height * info_.RowChannels();
  rleOffsets_.resize(static_cast<std::size_t>(entries + 1));
  // No honest coder doubles a row; a larger count is a damaged row (and
  // would make the read window as large as the count claims).
  const std::uint64_t rowLimit = 2 * planeBytes_ + 2;
  std::uint64_t offset = rowsStart_ + tableBytes;
  std::uint64_t firstBad = height;
  std::uint8_t slice[kTableSlice];
  std::uint64_t done = 0;
  while (done < entries) {
    const std::uint64_t n =
        std::min<std::uint64_t>(entries - done, kTableSlice / entryBytes);
    if (!ReadAt(rowsStart_ + done * entryBytes, slice, n * entryBytes)) {
      firstBadRow_ = 0;
      rleOffsets_.clear();
      return;
    }
    for (std::uint64_t i = 0; i < n; ++i) {
      const std::uint8_t* e = slice + i * entryBytes;
      const std::uint64_t count = entryBytes == 4 ? Get32(e) : Get16(e);
      const std::uint64_t y = (done + i) % height;
      rleOffsets_[static_cast<std::size_t>(done + i)] = offset;
      if (count > rowLimit)
        firstBad = std::min(firstBad, y);
      else
        maxRowBytes_ = std::max(maxRowBytes_, count);
      offset += count;
      if (offset > fileSize_) firstBad = std::min(firstBad, y);
    }
    done += n;
  }
  rleOffsets_[static_cast<std::size_t>(entries)] = offset;
  rowsStart_ += tableBytes;
  firstBadRow_ = static_cast<std::uint32_t>(firstBad);
}

const std::uint8_t* PsdReader::Fetch(int channel, std::uint64_t offset,
                                     std::uint64_t length) {
  Window& w = windows_[static_cast<std::size_t>(channel)];
  if (offset >= w.Start && offset - w.Start <= w.Size &&
      length <= w.Size - (offset - w.Start))
    return w.Data.get() + (offset - w.Start);
  if (offset > fileSize_ || length > fileSize_ - offset || length > w.Capacity)
    return nullptr;
  if (!w.Data) w.Data = std::make_unique<std::uint8_t[]>(w.Capacity);
  // Reading forward, the window starts at the row; going backward (a row
  // before the window), it ends with the row, so that rows read in either
  // direction cost one read per window.
  std::uint64_t start = offset;
  if (w.Size > 0 && offset < w.Start)
    start = offset + length >= w.Capacity ? offset + length - w.Capacity : 0;
  const std::uint64_t size = std::min(w.Capacity, fileSize_ - start);
  w.Size = 0;
  if (!ReadAt(start, w.Data.get(), size)) return nullptr;
  w.Start = start;
  w.Size = size;
  return w.Data.get() + (offset - start);
}

bool PsdReader::ReadRow(std::uint32_t row, std::uint8_t* buffer) {
  if (fd_ < 0 || row >= info_.Height || row >= firstBadRow_) return false;
  const int channels = info_.RowChannels();
  const std::uint64_t height = info_.Height;
  const std::size_t width = info_.Width;
  for (int c = 0; c < channels; ++c) {
    const std::uint8_t* plane;
    if (info_.Compression == PsdCompression::Raw) {
      const std::uint64_t at =
          rowsStart_ + (std::uint64_t(c) * height + row) * planeBytes_;
      plane = Fetch(c, at, planeBytes_);
      if (!plane) return false;
    } else {
      const std::size_t i = static_cast<std::size_t>(c * height + row);
      const std::uint64_t at = rleOffsets_[i];
      const std::uint64_t size = rleOffsets_[i + 1] - at;
      const std::uint8_t* coded = Fetch(c, at, size);
      if (!coded ||
          !UnpackBitsRow(coded, static_cast<std::size_t>(size), plane_.get(),
                         static_cast<std::size_t>(planeBytes_)))
        return false;
      plane = plane_.get();
    }
    if (info_.Depth == 8) {
      std::uint8_t* out = buffer + c;
      for (std::size_t x = 0; x < width; ++x, out += channels) *out = plane[x];
    } else {
      std::uint8_t* out = buffer + 2 * c;
      const std::size_t step = 2 * static_cast<std::size_t>(channels);
      for (std::size_t x = 0; x < width; ++x, out += step) {
        out[0] = plane[2 * x + 1];
        out[1] = plane[2 * x];
      }
    }
  }
  return true;
}

}  // namespace trelvi::psd
