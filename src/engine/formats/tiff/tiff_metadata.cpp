#include "engine/formats/tiff/tiff_metadata.h"

#include <tiffio.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

namespace trelvi {

namespace {

constexpr std::uint16_t kTagXResolution = 282;
constexpr std::uint16_t kTagYResolution = 283;
constexpr std::uint16_t kTagResolutionUnit = 296;
constexpr std::uint16_t kTagExifIfd = 34665;
constexpr std::uint16_t kTagGpsIfd = 34853;
constexpr std::uint16_t kTagInteroperabilityIfd = 40965;

// No directory of a photograph comes near this many entries; a count above
// it is a damaged count, and bounds the table read before it is checked.
constexpr std::uint64_t kMaxIfdEntries = 4096;

constexpr const char* kTooLarge = "larger than 16 MiB";
constexpr const char* kUnreadable = "unreadable";

std::uint32_t SwapUnit(std::uint16_t type) {
  return type == kTiffRational || type == kTiffSRational ? 4
                                                         : TiffTypeSize(type);
}

// Reads an input's bytes through its own handle, each read checked against
// the file's size; puts the file position back when done.
class Source {
 public:
  explicit Source(TIFF* tiff)
      : handle_(TIFFClientdata(tiff)),
        read_(TIFFGetReadProc(tiff)),
        seek_(TIFFGetSeekProc(tiff)),
        bigEndian_(TIFFIsBigEndian(tiff) != 0),
        big_(TIFFIsBigTIFF(tiff) != 0) {
    size_ = TIFFGetSizeProc(tiff)(handle_);
    position_ = seek_(handle_, 0, SEEK_CUR);
  }
  ~Source() { seek_(handle_, position_, SEEK_SET); }
  Source(const Source&) = delete;
  Source& operator=(const Source&) = delete;

  bool Big() const { return big_; }
  bool BigEndian() const { return bigEndian_; }
  std::uint64_t Size() const { return size_; }

  bool Fits(std::uint64_t at, std::uint64_t bytes) const {
    return at <= size_ && bytes <= size_ - at;
  }
  bool Read(std::uint64_t at, std::uint8_t* into, std::uint64_t bytes) {
    if (!Fits(at, bytes)) return false;
    if (bytes == 0) return true;
    if (seek_(handle_, at, SEEK_SET) != at) return false;
    return read_(handle_, into, static_cast<tmsize_t>(bytes)) ==
           static_cast<tmsize_t>(bytes);
  }
  // A number of the file's byte order.
  std::uint64_t Number(const std::uint8_t* p, int bytes) const {
    std::uint64_t v = 0;
    for (int i = 0; i < bytes; ++i) {
      const std::uint64_t b = p[bigEndian_ ? i : bytes - 1 - i];
      v = (v << 8) | b;
    }
    return v;
  }

 private:
  thandle_t handle_;
  TIFFReadWriteProc read_;
  TIFFSeekProc seek_;
  bool bigEndian_;
  bool big_;
  std::uint64_t size_ = 0;
  toff_t position_ = 0;
};

// A directory entry as the file has it, before its value is read.
struct RawEntry {
  std::uint16_t Tag = 0;
  std::uint16_t Type = 0;
  std::uint64_t Count = 0;
  std::uint64_t Bytes = 0;
  bool Inline = false;
  std::uint8_t InlineBytes[8] = {};
  std::uint64_t Offset = 0;
  bool Fits = false;  // the value lies inside the file
};

// The entries of the directory at `at`; false when its table does not lie
// inside the file or its count is absurd. Entries of unknown types are
// skipped, as TIFF asks of readers.
bool ParseIfd(Source& source, std::uint64_t at, std::vector<RawEntry>& out) {
  out.clear();
  const int countBytes = source.Big() ? 8 : 2;
  const int offsetBytes = source.Big() ? 8 : 4;
  const std::uint64_t entryBytes = source.Big() ? 20 : 12;
  std::uint8_t head[8];
  if (!source.Read(at, head, countBytes)) return false;
  const std::uint64_t count = source.Number(head, countBytes);
  if (count == 0 || count > kMaxIfdEntries) return false;
  std::vector<std::uint8_t> table(static_cast<std::size_t>(count * entryBytes));
  if (!source.Read(at + countBytes, table.data(), table.size())) return false;
  for (std::uint64_t i = 0; i < count; ++i) {
    const std::uint8_t* p = table.data() + i * entryBytes;
    RawEntry e;
    e.Tag = static_cast<std::uint16_t>(source.Number(p, 2));
    e.Type = static_cast<std::uint16_t>(source.Number(p + 2, 2));
    e.Count = source.Number(p + 4, offsetBytes);
    const std::uint32_t size = TiffTypeSize(e.Type);
    if (size == 0) continue;
    const std::uint8_t* field = p + 4 + offsetBytes;
    // A count no file could hold cannot be multiplied safely.
    if (e.Count > source.Size()) {
      out.push_back(e);
      continue;
    }
    e.Bytes = e.Count * size;
    if (e.Bytes <= static_cast<std::uint64_t>(offsetBytes)) {
      e.Inline = true;
      std::copy(field, field + e.Bytes, e.InlineBytes);
      e.Fits = true;
    } else {
      e.Offset = source.Number(field, offsetBytes);
      e.Fits = source.Fits(e.Offset, e.Bytes);
    }
    out.push_back(e);
  }
  return true;
}

// The value's bytes; with littleEndian, each number turned least
// significant byte first. The caller has checked Fits and the size bound.
bool FetchValue(Source& source, const RawEntry& e, bool littleEndian,
                std::vector<std::uint8_t>& into) {
  into.assign(static_cast<std::size_t>(e.Bytes), 0);
  if (e.Inline)
    std::copy(e.InlineBytes, e.InlineBytes + e.Bytes, into.begin());
  else if (!source.Read(e.Offset, into.data(), e.Bytes))
    return false;
  const std::uint32_t unit = SwapUnit(e.Type);
  if (littleEndian && source.BigEndian() && unit > 1)
    for (std::size_t i = 0; i + unit <= into.size(); i += unit)
      std::reverse(into.begin() + i, into.begin() + i + unit);
  return true;
}

// The first number of a little-endian value of an integer type.
std::uint64_t FirstNumber(const std::vector<std::uint8_t>& v,
                          std::uint32_t bytes) {
  std::uint64_t n = 0;
  for (std::uint32_t i = bytes; i > 0; --i)
    if (i - 1 < v.size()) n = (n << 8) | v[i - 1];
  return n;
}

void Drop(ImageMetadata& m, const char* what, const char* why) {
  m.Dropped.push_back(std::string(what) + " (" + why + ")");
}

// A block copied as its bytes stand, whatever type the file gives it.
void ReadBlock(Source& source, const RawEntry& e, const char* what,
               std::vector<std::uint8_t>& into, ImageMetadata& m) {
  if (e.Fits && e.Bytes > kMaxMetadataBlockBytes) {
    Drop(m, what, kTooLarge);
    return;
  }
  if (!e.Fits || !FetchValue(source, e, false, into)) {
    into.clear();
    Drop(m, what, kUnreadable);
  }
}

void ReadText(Source& source, const RawEntry& e, const char* what,
              std::string& into, ImageMetadata& m) {
  if (e.Type != kTiffAscii) return;
  std::vector<std::uint8_t> bytes;
  ReadBlock(source, e, what, bytes, m);
  const auto end = std::find(bytes.begin(), bytes.end(), 0);
  into.assign(bytes.begin(), end);
}

bool IsPointer(const RawEntry& e) {
  return e.Type == kTiffIfd || e.Type == kTiffIfd8 || e.Tag == kTagExifIfd ||
         e.Tag == kTagGpsIfd || e.Tag == kTagInteroperabilityIfd;
}

// The directory an EXIF or GPS pointer names, or why it is not copied.
const char* ReadSubIfd(Source& source, std::uint64_t at,
                       std::vector<TiffEntry>& into) {
  into.clear();
  std::vector<RawEntry> raw;
  if (!ParseIfd(source, at, raw)) return kUnreadable;
  std::uint64_t total = 0;
  for (const RawEntry& e : raw) {
    if (IsPointer(e)) continue;
    if (e.Count > source.Size() || !e.Fits) return kUnreadable;
    total += e.Bytes;
    if (total > kMaxMetadataBlockBytes) return kTooLarge;
  }
  for (const RawEntry& e : raw) {
    if (IsPointer(e)) continue;
    TiffEntry entry;
    entry.Tag = e.Tag;
    entry.Type = e.Type;
    entry.Count = e.Count;
    if (!FetchValue(source, e, true, entry.Value)) {
      into.clear();
      return kUnreadable;
    }
    into.push_back(std::move(entry));
  }
  std::stable_sort(
      into.begin(), into.end(),
      [](const TiffEntry& a, const TiffEntry& b) { return a.Tag < b.Tag; });
  into.erase(std::unique(into.begin(), into.end(),
                         [](const TiffEntry& a, const TiffEntry& b) {
                           return a.Tag == b.Tag;
                         }),
             into.end());
  return nullptr;
}

// A rational's value, or 0 when it is none.
double RationalValue(Source& source, const RawEntry& e) {
  if (e.Type != kTiffRational || e.Count < 1 || !e.Fits) return 0;
  RawEntry first = e;  // the first of the values, inline or not
  first.Count = 1;
  first.Bytes = 8;
  std::vector<std::uint8_t> v;
  if (!FetchValue(source, first, true, v)) return 0;
  const std::uint64_t num = FirstNumber(v, 4);
  const std::uint64_t den = FirstNumber({v.begin() + 4, v.end()}, 4);
  if (den == 0) return 0;
  const double value = static_cast<double>(num) / static_cast<double>(den);
  return std::isfinite(value) && value > 0 ? value : 0;
}

// Where an EXIF or GPS pointer points; 0 when the entry is no pointer.
std::uint64_t PointerValue(Source& source, const RawEntry& e) {
  const std::uint32_t size = TiffTypeSize(e.Type);
  const bool integer = e.Type == kTiffLong || e.Type == kTiffIfd ||
                       e.Type == kTiffLong8 || e.Type == kTiffIfd8;
  if (!integer || e.Count != 1 || !e.Inline) return 0;
  std::vector<std::uint8_t> v;
  if (!FetchValue(source, e, true, v)) return 0;
  return FirstNumber(v, size);
}

// Whether an output being written is a BigTIFF, from the version in the
// header libtiff wrote when it opened the file. libtiff 4.5's TIFFIsBigTIFF
// says no for every big-endian output being written: it compares the
// version in the file's byte order with the host's.
bool OutputIsBigTiff(TIFF* tiff) {
  thandle_t handle = TIFFClientdata(tiff);
  std::uint8_t header[4];
  if (TIFFGetSeekProc(tiff)(handle, 0, SEEK_SET) != 0 ||
      TIFFGetReadProc(tiff)(handle, header, 4) != 4)
    return TIFFIsBigTIFF(tiff) != 0;
  const unsigned version = TIFFIsBigEndian(tiff) != 0
                               ? (header[2] << 8) | header[3]
                               : header[2] | (header[3] << 8);
  return version == 43;
}

// Writes a directory at the end of the output, where libtiff puts its own
// next strip or directory after it; its offset goes into `at`.
bool AppendIfd(TIFF* tiff, const std::vector<TiffEntry>& entries,
               std::uint64_t& at) {
  const bool big = OutputIsBigTiff(tiff);
  thandle_t handle = TIFFClientdata(tiff);
  TIFFSeekProc seek = TIFFGetSeekProc(tiff);
  TIFFReadWriteProc write = TIFFGetWriteProc(tiff);
  const toff_t end = seek(handle, 0, SEEK_END);
  if (end == static_cast<toff_t>(-1)) return false;
  at = end + (end & 1);
  const std::vector<std::uint8_t> bytes =
      SerializeIfd(entries, at, big, TIFFIsBigEndian(tiff) != 0);
  if (bytes.empty()) return false;
  if (at != end) {
    std::uint8_t pad = 0;
    if (write(handle, &pad, 1) != 1) return false;
  }
  return write(handle, const_cast<std::uint8_t*>(bytes.data()),
               static_cast<tmsize_t>(bytes.size())) ==
         static_cast<tmsize_t>(bytes.size());
}

}  // namespace

ImageMetadata ReadTiffMetadata(TIFF* tiff) {
  ImageMetadata m;
  if (!tiff) return m;
  Source source(tiff);
  const std::uint64_t mainAt = TIFFCurrentDirOffset(tiff);
  std::vector<RawEntry> entries;
  if (!ParseIfd(source, mainAt, entries)) return m;

  std::uint64_t exifAt = 0, gpsAt = 0;
  double x = 0, y = 0;
  bool hasUnit = false;
  std::uint64_t unit = 0;
  for (const RawEntry& e : entries) {
    switch (e.Tag) {
      case 34675:
        ReadBlock(source, e, "colour profile", m.IccProfile, m);
        break;
      case 700:
        ReadBlock(source, e, "XMP", m.Xmp, m);
        break;
      case 33723:
        ReadBlock(source, e, "IPTC", m.Iptc, m);
        break;
      case 270:
        ReadText(source, e, "ImageDescription", m.ImageDescription, m);
        break;
      case 271:
        ReadText(source, e, "Make", m.Make, m);
        break;
      case 272:
        ReadText(source, e, "Model", m.Model, m);
        break;
      case 306:
        ReadText(source, e, "DateTime", m.DateTime, m);
        break;
      case 315:
        ReadText(source, e, "Artist", m.Artist, m);
        break;
      case 33432:
        ReadText(source, e, "Copyright", m.Copyright, m);
        break;
      case 274:
        if ((e.Type == kTiffShort || e.Type == kTiffLong) && e.Count >= 1 &&
            e.Inline) {
          std::vector<std::uint8_t> v;
          if (FetchValue(source, e, true, v)) {
            const std::uint64_t o = FirstNumber(v, TiffTypeSize(e.Type));
            if (o >= 1 && o <= 8) m.Orientation = static_cast<std::uint16_t>(o);
          }
        }
        break;
      case kTagXResolution:
        x = RationalValue(source, e);
        break;
      case kTagYResolution:
        y = RationalValue(source, e);
        break;
      case kTagResolutionUnit:
        if (e.Type == kTiffShort && e.Count >= 1 && e.Inline) {
          std::vector<std::uint8_t> v;
          if (FetchValue(source, e, true, v)) {
            hasUnit = true;
            unit = FirstNumber(v, 2);
          }
        }
        break;
      case kTagExifIfd:
        exifAt = PointerValue(source, e);
        if (exifAt == 0) Drop(m, "EXIF", kUnreadable);
        break;
      case kTagGpsIfd:
        gpsAt = PointerValue(source, e);
        if (gpsAt == 0) Drop(m, "GPS", kUnreadable);
        break;
      default:
        break;
    }
  }

  // The unit TIFF assumes when a file names none is the inch; "no absolute
  // unit" gives nothing a print size can come from.
  if (!hasUnit) unit = RESUNIT_INCH;
  if (x > 0 && y > 0 && (unit == RESUNIT_INCH || unit == RESUNIT_CENTIMETER)) {
    m.Resolution.Present = true;
    m.Resolution.X = x;
    m.Resolution.Y = y;
    m.Resolution.Unit = unit == RESUNIT_INCH ? ResolutionUnit::Inch
                                             : ResolutionUnit::Centimetre;
  }

  // A pointer back at the image's own directory, or both at one place, is a
  // damaged file: copying the image's tags as EXIF would be nonsense.
  if (exifAt != 0) {
    const char* why =
        exifAt == mainAt ? kUnreadable : ReadSubIfd(source, exifAt, m.Exif);
    if (why) {
      m.Exif.clear();
      Drop(m, "EXIF", why);
    }
  }
  if (gpsAt != 0) {
    const char* why = gpsAt == mainAt || gpsAt == exifAt
                          ? kUnreadable
                          : ReadSubIfd(source, gpsAt, m.Gps);
    if (why) {
      m.Gps.clear();
      Drop(m, "GPS", why);
    }
  }
  return m;
}

bool WriteTiffMetadata(TIFF* tiff, const ImageMetadata& m, std::uint32_t width,
                       std::uint32_t height) {
  if (!tiff) return false;
  if (m.Empty()) return true;
  bool ok = true;
  const auto setBlock = [&](ttag_t tag, const std::vector<std::uint8_t>& b) {
    if (b.empty()) return;
    if (TIFFSetField(tiff, tag, static_cast<std::uint32_t>(b.size()),
                     b.data()) != 1)
      ok = false;
  };
  setBlock(TIFFTAG_ICCPROFILE, m.IccProfile);
  setBlock(TIFFTAG_XMLPACKET, m.Xmp);
  setBlock(TIFFTAG_RICHTIFFIPTC, m.Iptc);

  const std::pair<ttag_t, const std::string*> texts[] = {
      {TIFFTAG_IMAGEDESCRIPTION, &m.ImageDescription},
      {TIFFTAG_MAKE, &m.Make},
      {TIFFTAG_MODEL, &m.Model},
      {TIFFTAG_DATETIME, &m.DateTime},
      {TIFFTAG_ARTIST, &m.Artist},
      {TIFFTAG_COPYRIGHT, &m.Copyright}};
  for (const auto& [tag, text] : texts)
    if (!text->empty() && TIFFSetField(tiff, tag, text->c_str()) != 1)
      ok = false;

  if (m.Orientation >= 1 && m.Orientation <= 8 &&
      TIFFSetField(tiff, TIFFTAG_ORIENTATION, m.Orientation) != 1)
    ok = false;

  if (m.Resolution.Present) {
    const std::uint16_t unit = m.Resolution.Unit == ResolutionUnit::Inch
                                   ? RESUNIT_INCH
                                   : RESUNIT_CENTIMETER;
    if (TIFFSetField(tiff, TIFFTAG_XRESOLUTION, m.Resolution.X) != 1 ||
        TIFFSetField(tiff, TIFFTAG_YRESOLUTION, m.Resolution.Y) != 1 ||
        TIFFSetField(tiff, TIFFTAG_RESOLUTIONUNIT, unit) != 1)
      ok = false;
  }

  // The directories go into the file now, ahead of the pixels: libtiff
  // puts every strip and its own directory at the end of the file, so
  // nothing it writes later lands on them.
  if (!m.Exif.empty()) {
    ImageMetadata sized;
    sized.Exif = m.Exif;
    SetExifPixelDimensions(sized, width, height);
    std::uint64_t at = 0;
    if (!AppendIfd(tiff, sized.Exif, at) ||
        TIFFSetField(tiff, TIFFTAG_EXIFIFD, at) != 1)
      ok = false;
  }
  if (!m.Gps.empty()) {
    std::uint64_t at = 0;
    if (!AppendIfd(tiff, m.Gps, at) ||
        TIFFSetField(tiff, TIFFTAG_GPSIFD, at) != 1)
      ok = false;
  }
  return ok;
}

}  // namespace trelvi
