#include "engine/image_metadata.h"

#include <lcms2.h>

#include <algorithm>
#include <cstring>

namespace trelvi {

namespace {

// Baseline and BigTIFF tags of the first directory of an EXIF structure.
constexpr std::uint16_t kTagImageDescription = 270;
constexpr std::uint16_t kTagMake = 271;
constexpr std::uint16_t kTagModel = 272;
constexpr std::uint16_t kTagOrientation = 274;
constexpr std::uint16_t kTagDateTime = 306;
constexpr std::uint16_t kTagArtist = 315;
constexpr std::uint16_t kTagCopyright = 33432;
constexpr std::uint16_t kTagExifIfd = 34665;
constexpr std::uint16_t kTagGpsIfd = 34853;

// Bytes of one number inside a value: what a byte order reverses.
std::uint32_t SwapUnit(std::uint16_t type) {
  switch (type) {
    case kTiffRational:
    case kTiffSRational:
      return 4;
    default:
      return TiffTypeSize(type);
  }
}

void PutNumber(std::vector<std::uint8_t>& out, std::uint64_t value, int bytes,
               bool bigEndian) {
  for (int i = 0; i < bytes; ++i) {
    const int shift = 8 * (bigEndian ? bytes - 1 - i : i);
    out.push_back(static_cast<std::uint8_t>(value >> shift));
  }
}

std::uint64_t EvenUp(std::uint64_t v) { return v + (v & 1); }

TiffEntry LongEntry(std::uint16_t tag, std::uint32_t value) {
  TiffEntry e;
  e.Tag = tag;
  e.Type = kTiffLong;
  e.Count = 1;
  for (int i = 0; i < 4; ++i)
    e.Value.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
  return e;
}

TiffEntry AsciiEntry(std::uint16_t tag, const std::string& text) {
  TiffEntry e;
  e.Tag = tag;
  e.Type = kTiffAscii;
  e.Value.assign(text.begin(), text.end());
  e.Value.push_back(0);
  e.Count = e.Value.size();
  return e;
}

// A directory's own bytes and the bytes of its values, upper bound.
std::uint64_t IfdBytes(const std::vector<TiffEntry>& entries) {
  std::uint64_t bytes = 1 + 8 + 8;  // alignment, count, next offset
  for (const TiffEntry& e : entries) bytes += 20 + EvenUp(e.Value.size());
  return bytes;
}

void NoLcmsMessages(cmsContext, cmsUInt32Number, const char*) {}

}  // namespace

std::uint32_t TiffTypeSize(std::uint16_t type) {
  switch (type) {
    case kTiffByte:
    case kTiffAscii:
    case kTiffSByte:
    case kTiffUndefined:
      return 1;
    case kTiffShort:
    case kTiffSShort:
      return 2;
    case kTiffLong:
    case kTiffSLong:
    case kTiffFloat:
    case kTiffIfd:
      return 4;
    case kTiffRational:
    case kTiffSRational:
    case kTiffDouble:
    case kTiffLong8:
    case kTiffSLong8:
    case kTiffIfd8:
      return 8;
    default:
      return 0;
  }
}

bool ImageMetadata::Empty() const {
  return IccProfile.empty() && Xmp.empty() && Iptc.empty() && Exif.empty() &&
         Gps.empty() && Orientation == 0 && ImageDescription.empty() &&
         Artist.empty() && Copyright.empty() && DateTime.empty() &&
         Make.empty() && Model.empty() && !Resolution.Present;
}

std::uint64_t MetadataBytes(const ImageMetadata& m) {
  // Each tag of the main directory: a BigTIFF entry, its value and a byte
  // to bring the next value to an even offset.
  std::uint64_t bytes = 0;
  for (const auto* block : {&m.IccProfile, &m.Xmp, &m.Iptc})
    if (!block->empty()) bytes += 20 + EvenUp(block->size());
  for (const auto* text : {&m.ImageDescription, &m.Artist, &m.Copyright,
                           &m.DateTime, &m.Make, &m.Model})
    if (!text->empty()) bytes += 20 + EvenUp(text->size() + 1);
  if (m.Orientation != 0) bytes += 20;
  if (!m.Exif.empty()) bytes += 20 + IfdBytes(m.Exif);
  if (!m.Gps.empty()) bytes += 20 + IfdBytes(m.Gps);
  return bytes;
}

void SetExifPixelDimensions(ImageMetadata& m, std::uint32_t width,
                            std::uint32_t height) {
  for (TiffEntry& e : m.Exif) {
    if (e.Tag == kExifPixelXDimension) e = LongEntry(e.Tag, width);
    if (e.Tag == kExifPixelYDimension) e = LongEntry(e.Tag, height);
  }
}

void RemoveExifPixelDimensions(ImageMetadata& m) {
  std::erase_if(m.Exif, [](const TiffEntry& e) {
    return e.Tag == kExifPixelXDimension || e.Tag == kExifPixelYDimension;
  });
}

std::string MetadataKinds(const ImageMetadata& m) {
  std::string kinds;
  const auto add = [&kinds](bool present, const char* name) {
    if (!present) return;
    if (!kinds.empty()) kinds += ", ";
    kinds += name;
  };
  add(!m.Exif.empty(), "EXIF");
  add(!m.Gps.empty(), "GPS");
  add(!m.Xmp.empty(), "XMP");
  add(!m.Iptc.empty(), "IPTC");
  return kinds;
}

std::string DescribeProfile(const std::vector<std::uint8_t>& icc) {
  const std::string unreadable = "(unreadable)";
  if (icc.empty() || icc.size() > kMaxMetadataBlockBytes) return unreadable;
  // A context of its own: Little CMS's messages go nowhere, and no state is
  // shared with another thread describing another file.
  cmsContext context = cmsCreateContext(nullptr, nullptr);
  if (!context) return unreadable;
  cmsSetLogErrorHandlerTHR(context, NoLcmsMessages);
  std::string text;
  cmsHPROFILE profile = cmsOpenProfileFromMemTHR(
      context, icc.data(), static_cast<cmsUInt32Number>(icc.size()));
  if (profile) {
    const cmsUInt32Number n = cmsGetProfileInfoASCII(
        profile, cmsInfoDescription, "en", "US", nullptr, 0);
    if (n > 1) {
      text.resize(n);
      cmsGetProfileInfoASCII(profile, cmsInfoDescription, "en", "US",
                             text.data(), n);
      text.resize(std::strlen(text.c_str()));
    }
    cmsCloseProfile(profile);
  }
  cmsDeleteContext(context);
  for (char& c : text)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text.empty() ? unreadable : text;
}

std::string DroppedWarning(const ImageMetadata& m) {
  if (m.Dropped.empty()) return std::string();
  std::string line = "Metadata not copied: ";
  for (std::size_t i = 0; i < m.Dropped.size(); ++i) {
    if (i > 0) line += ", ";
    line += m.Dropped[i];
  }
  return line;
}

std::vector<std::uint8_t> SerializeIfd(const std::vector<TiffEntry>& entries,
                                       std::uint64_t at, bool bigTiff,
                                       bool bigEndian, std::uint64_t nextIfd) {
  std::vector<const TiffEntry*> sorted;
  sorted.reserve(entries.size());
  for (const TiffEntry& e : entries) sorted.push_back(&e);
  std::stable_sort(
      sorted.begin(), sorted.end(),
      [](const TiffEntry* a, const TiffEntry* b) { return a->Tag < b->Tag; });
  sorted.erase(std::unique(sorted.begin(), sorted.end(),
                           [](const TiffEntry* a, const TiffEntry* b) {
                             return a->Tag == b->Tag;
                           }),
               sorted.end());

  const int offsetBytes = bigTiff ? 8 : 4;
  const std::uint64_t countBytes = bigTiff ? 8 : 2;
  const std::uint64_t entryBytes = bigTiff ? 20 : 12;
  const std::uint64_t tableEnd =
      at + countBytes + entryBytes * sorted.size() + offsetBytes;

  // Where each value that does not fit its entry goes.
  std::uint64_t valueAt = tableEnd;
  std::vector<std::uint64_t> offsets(sorted.size(), 0);
  for (std::size_t i = 0; i < sorted.size(); ++i) {
    if (sorted[i]->Value.size() <= static_cast<std::size_t>(offsetBytes))
      continue;
    valueAt = EvenUp(valueAt);
    offsets[i] = valueAt;
    valueAt += sorted[i]->Value.size();
  }
  if (!bigTiff && valueAt > UINT32_MAX) return {};
  if (!bigTiff && nextIfd > UINT32_MAX) return {};

  // A value in the file's byte order: each number reversed for big-endian.
  const auto putValue = [bigEndian](std::vector<std::uint8_t>& out,
                                    const TiffEntry& e) {
    const std::uint32_t unit = SwapUnit(e.Type);
    if (!bigEndian || unit <= 1) {
      out.insert(out.end(), e.Value.begin(), e.Value.end());
      return;
    }
    for (std::size_t i = 0; i + unit <= e.Value.size(); i += unit)
      for (std::uint32_t b = unit; b > 0; --b)
        out.push_back(e.Value[i + b - 1]);
  };

  std::vector<std::uint8_t> out;
  out.reserve(static_cast<std::size_t>(valueAt - at));
  PutNumber(out, sorted.size(), static_cast<int>(countBytes), bigEndian);
  for (std::size_t i = 0; i < sorted.size(); ++i) {
    const TiffEntry& e = *sorted[i];
    PutNumber(out, e.Tag, 2, bigEndian);
    PutNumber(out, e.Type, 2, bigEndian);
    PutNumber(out, e.Count, offsetBytes, bigEndian);
    if (offsets[i] != 0) {
      PutNumber(out, offsets[i], offsetBytes, bigEndian);
    } else {
      const std::size_t start = out.size();
      putValue(out, e);
      out.resize(start + static_cast<std::size_t>(offsetBytes), 0);
    }
  }
  PutNumber(out, nextIfd, offsetBytes, bigEndian);
  for (std::size_t i = 0; i < sorted.size(); ++i) {
    if (offsets[i] == 0) continue;
    out.resize(static_cast<std::size_t>(offsets[i] - at), 0);
    putValue(out, *sorted[i]);
  }
  return out;
}

std::vector<std::uint8_t> ExifTiffBlob(const ImageMetadata& m) {
  if (m.Exif.empty() && m.Gps.empty()) return {};
  std::vector<TiffEntry> first;
  if (m.Orientation != 0) {
    TiffEntry e;
    e.Tag = kTagOrientation;
    e.Type = kTiffShort;
    e.Count = 1;
    e.Value = {static_cast<std::uint8_t>(m.Orientation),
               static_cast<std::uint8_t>(m.Orientation >> 8)};
    first.push_back(e);
  }
  const std::pair<std::uint16_t, const std::string*> texts[] = {
      {kTagImageDescription, &m.ImageDescription},
      {kTagMake, &m.Make},
      {kTagModel, &m.Model},
      {kTagDateTime, &m.DateTime},
      {kTagArtist, &m.Artist},
      {kTagCopyright, &m.Copyright}};
  for (const auto& [tag, text] : texts)
    if (!text->empty()) first.push_back(AsciiEntry(tag, *text));
  const std::size_t exifPointer = first.size();
  if (!m.Exif.empty()) first.push_back(LongEntry(kTagExifIfd, 0));
  const std::size_t gpsPointer = first.size();
  if (!m.Gps.empty()) first.push_back(LongEntry(kTagGpsIfd, 0));

  // The pointers' values do not change the first directory's size, so a
  // first layout gives where the others go.
  const std::uint64_t firstAt = 8;
  const std::uint64_t exifAt =
      EvenUp(firstAt + SerializeIfd(first, firstAt, false, false).size());
  std::vector<std::uint8_t> exif;
  if (!m.Exif.empty()) exif = SerializeIfd(m.Exif, exifAt, false, false);
  const std::uint64_t gpsAt = EvenUp(exifAt + exif.size());
  std::vector<std::uint8_t> gps;
  if (!m.Gps.empty()) gps = SerializeIfd(m.Gps, gpsAt, false, false);
  if (!m.Exif.empty()) {
    if (exif.empty()) return {};
    first[exifPointer] =
        LongEntry(kTagExifIfd, static_cast<std::uint32_t>(exifAt));
  }
  if (!m.Gps.empty()) {
    if (gps.empty()) return {};
    first[gpsPointer] =
        LongEntry(kTagGpsIfd, static_cast<std::uint32_t>(gpsAt));
  }

  std::vector<std::uint8_t> blob = {'I', 'I', 42, 0, 8, 0, 0, 0};
  const std::vector<std::uint8_t> firstBytes =
      SerializeIfd(first, firstAt, false, false);
  blob.insert(blob.end(), firstBytes.begin(), firstBytes.end());
  if (!exif.empty()) {
    blob.resize(static_cast<std::size_t>(exifAt), 0);
    blob.insert(blob.end(), exif.begin(), exif.end());
  }
  if (!gps.empty()) {
    blob.resize(static_cast<std::size_t>(gpsAt), 0);
    blob.insert(blob.end(), gps.begin(), gps.end());
  }
  return blob;
}

}  // namespace trelvi

namespace trelvi {

namespace {

// A TIFF structure held in memory, every read checked against its size.
class BlobSource {
 public:
  BlobSource(const std::uint8_t* data, std::size_t size, bool bigEndian)
      : data_(data), size_(size), bigEndian_(bigEndian) {}

  bool Fits(std::uint64_t at, std::uint64_t bytes) const {
    return at <= size_ && bytes <= size_ - at;
  }
  std::uint64_t Number(std::uint64_t at, int bytes) const {
    std::uint64_t v = 0;
    for (int i = 0; i < bytes; ++i)
      v = (v << 8) | data_[at + (bigEndian_ ? i : bytes - 1 - i)];
    return v;
  }
  const std::uint8_t* At(std::uint64_t at) const { return data_ + at; }
  bool BigEndian() const { return bigEndian_; }
  std::uint64_t Size() const { return size_; }

 private:
  const std::uint8_t* data_;
  std::uint64_t size_;
  bool bigEndian_;
};

// No directory of a photograph comes near this many entries.
constexpr std::uint64_t kMaxBlobIfdEntries = 4096;

// The entries of the directory at `at`, values turned least significant
// byte first; false when the table or a value lies outside the blob.
bool ParseBlobIfd(const BlobSource& s, std::uint64_t at,
                  std::vector<TiffEntry>& out) {
  out.clear();
  if (!s.Fits(at, 2)) return false;
  const std::uint64_t count = s.Number(at, 2);
  if (count == 0 || count > kMaxBlobIfdEntries || !s.Fits(at + 2, count * 12))
    return false;
  for (std::uint64_t i = 0; i < count; ++i) {
    const std::uint64_t p = at + 2 + i * 12;
    TiffEntry e;
    e.Tag = static_cast<std::uint16_t>(s.Number(p, 2));
    e.Type = static_cast<std::uint16_t>(s.Number(p + 2, 2));
    e.Count = s.Number(p + 4, 4);
    const std::uint32_t size = TiffTypeSize(e.Type);
    if (size == 0) continue;  // unknown types are skipped, as TIFF asks
    if (e.Count > s.Size()) return false;
    const std::uint64_t bytes = e.Count * size;
    std::uint64_t valueAt = p + 8;
    if (bytes > 4) valueAt = s.Number(p + 8, 4);
    if (!s.Fits(valueAt, bytes)) return false;
    e.Value.assign(s.At(valueAt), s.At(valueAt) + bytes);
    const std::uint32_t unit = SwapUnit(e.Type);
    if (s.BigEndian() && unit > 1)
      for (std::size_t k = 0; k + unit <= e.Value.size(); k += unit)
        std::reverse(e.Value.begin() + k, e.Value.begin() + k + unit);
    out.push_back(std::move(e));
  }
  std::stable_sort(
      out.begin(), out.end(),
      [](const TiffEntry& a, const TiffEntry& b) { return a.Tag < b.Tag; });
  out.erase(std::unique(out.begin(), out.end(),
                        [](const TiffEntry& a, const TiffEntry& b) {
                          return a.Tag == b.Tag;
                        }),
            out.end());
  return true;
}

bool IsBlobPointer(const TiffEntry& e) {
  return e.Type == kTiffIfd || e.Type == kTiffIfd8 || e.Tag == kTagExifIfd ||
         e.Tag == kTagGpsIfd || e.Tag == 40965;
}

// The first number of a little-endian integer value; 0 when it is none.
std::uint64_t FirstValue(const TiffEntry& e) {
  const std::uint32_t size = TiffTypeSize(e.Type);
  const bool integer = e.Type == kTiffShort || e.Type == kTiffLong ||
                       e.Type == kTiffIfd || e.Type == kTiffLong8 ||
                       e.Type == kTiffIfd8;
  if (!integer || e.Count < 1 || e.Value.size() < size) return 0;
  std::uint64_t v = 0;
  for (std::uint32_t i = size; i > 0; --i) v = (v << 8) | e.Value[i - 1];
  return v;
}

}  // namespace

bool ReadExifTiffBlob(const std::uint8_t* data, std::size_t size,
                      ImageMetadata& m) {
  if (!data || size < 8) return false;
  bool bigEndian;
  if (data[0] == 'I' && data[1] == 'I')
    bigEndian = false;
  else if (data[0] == 'M' && data[1] == 'M')
    bigEndian = true;
  else
    return false;
  const BlobSource s(data, size, bigEndian);
  if (s.Number(2, 2) != 42) return false;
  const std::uint64_t firstAt = s.Number(4, 4);
  std::vector<TiffEntry> first;
  if (!ParseBlobIfd(s, firstAt, first)) return false;

  std::uint64_t exifAt = 0, gpsAt = 0;
  const auto text = [](const TiffEntry& e, std::string& into) {
    if (e.Type != kTiffAscii) return;
    const auto end = std::find(e.Value.begin(), e.Value.end(), 0);
    into.assign(e.Value.begin(), end);
  };
  for (const TiffEntry& e : first) {
    switch (e.Tag) {
      case kTagOrientation:
        if (const std::uint64_t o = FirstValue(e); o >= 1 && o <= 8)
          m.Orientation = static_cast<std::uint16_t>(o);
        break;
      case kTagImageDescription:
        text(e, m.ImageDescription);
        break;
      case kTagMake:
        text(e, m.Make);
        break;
      case kTagModel:
        text(e, m.Model);
        break;
      case kTagDateTime:
        text(e, m.DateTime);
        break;
      case kTagArtist:
        text(e, m.Artist);
        break;
      case kTagCopyright:
        text(e, m.Copyright);
        break;
      case kTagExifIfd:
        exifAt = FirstValue(e);
        break;
      case kTagGpsIfd:
        gpsAt = FirstValue(e);
        break;
      default:
        break;
    }
  }
  // A pointer back at the first directory, or both at one place, is a
  // damaged block: its tags are not the scene's.
  const auto sub = [&](std::uint64_t at, const char* what,
                       std::vector<TiffEntry>& into) {
    std::vector<TiffEntry> entries;
    if (at == firstAt || !ParseBlobIfd(s, at, entries)) {
      m.Dropped.push_back(std::string(what) + " (unreadable)");
      return;
    }
    std::erase_if(entries, IsBlobPointer);
    into = std::move(entries);
  };
  if (exifAt != 0) sub(exifAt, "EXIF", m.Exif);
  if (gpsAt != 0) {
    if (gpsAt == exifAt)
      m.Dropped.push_back("GPS (unreadable)");
    else
      sub(gpsAt, "GPS", m.Gps);
  }
  return true;
}

}  // namespace trelvi
