// Reads the metadata of arbitrary bytes opened as a TIFF in memory, and
// writes what was read into a new TIFF in memory. Whatever the bytes, the
// reader ends without a crash, a leak or a sanitizer report, keeps every
// block within the bound, gives entries whose values fill exactly their
// count, and what it kept writes and reads back unchanged.

#include <cstddef>
#include <cstdint>

#include "engine/formats/tiff/tiff_metadata.h"
#include "engine/image_metadata.h"
#include "fuzz_common.h"
#include "memory_tiff.h"

using namespace trelvi;

namespace {

void CheckEntries(const std::vector<TiffEntry>& entries) {
  std::uint64_t total = 0;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const TiffEntry& e = entries[i];
    const std::uint32_t size = TiffTypeSize(e.Type);
    if (size == 0) fuzz::Fail("an entry of an unknown type was kept");
    if (e.Type == kTiffIfd || e.Type == kTiffIfd8)
      fuzz::Fail("a pointer to a directory was kept");
    if (e.Value.size() != e.Count * size)
      fuzz::Fail("an entry's bytes disagree with its count");
    if (i > 0 && entries[i - 1].Tag >= e.Tag)
      fuzz::Fail("entries not sorted without repeats");
    total += e.Value.size();
  }
  if (total > kMaxMetadataBlockBytes) fuzz::Fail("a directory above the bound");
}

bool SameEntries(const std::vector<TiffEntry>& a,
                 const std::vector<TiffEntry>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (a[i].Tag != b[i].Tag || a[i].Type != b[i].Type ||
        a[i].Count != b[i].Count || a[i].Value != b[i].Value)
      return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  fuzz::MemoryFile input;
  input.Bytes.assign(data, data + size);
  TIFF* in = fuzz::OpenMemoryTiff(input, "rm");
  if (!in) return 0;
  const ImageMetadata m = ReadTiffMetadata(in);
  TIFFClose(in);

  for (const auto* block : {&m.IccProfile, &m.Xmp, &m.Iptc})
    if (block->size() > kMaxMetadataBlockBytes)
      fuzz::Fail("a block above the bound");
  CheckEntries(m.Exif);
  CheckEntries(m.Gps);
  if (m.Orientation > 8) fuzz::Fail("an orientation TIFF does not have");
  if (m.Resolution.Present && !(m.Resolution.X > 0 && m.Resolution.Y > 0))
    fuzz::Fail("a resolution that is no size");
  if (!m.IccProfile.empty()) (void)DescribeProfile(m.IccProfile);
  (void)MetadataKinds(m);
  (void)ExifTiffBlob(m);

  // What was kept is written, and read back as it was: classic in this
  // machine's byte order, BigTIFF in the other.
  for (const char* mode : {"w", "w8b"}) {
    fuzz::MemoryFile output;
    if (!fuzz::WriteMetadataTiff(output, m, mode))
      fuzz::Fail("kept metadata could not be written");
    TIFF* back = fuzz::OpenMemoryTiff(output, "rm");
    if (!back) fuzz::Fail("the written TIFF does not open");
    const ImageMetadata r = ReadTiffMetadata(back);
    TIFFClose(back);
    ImageMetadata expected = m;
    SetExifPixelDimensions(expected, 1, 1);
    if (!r.Dropped.empty()) fuzz::Fail("written metadata reads as damaged");
    if (r.IccProfile != m.IccProfile || r.Xmp != m.Xmp || r.Iptc != m.Iptc)
      fuzz::Fail("a block changed on the way");
    if (!SameEntries(r.Exif, expected.Exif) || !SameEntries(r.Gps, m.Gps))
      fuzz::Fail("EXIF or GPS changed on the way");
    if (r.Orientation != m.Orientation || r.Artist != m.Artist ||
        r.Make != m.Make || r.Model != m.Model || r.Copyright != m.Copyright ||
        r.DateTime != m.DateTime || r.ImageDescription != m.ImageDescription)
      fuzz::Fail("a tag changed on the way");
  }
  return 0;
}
