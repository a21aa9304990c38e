// Reads arbitrary bytes as a PSD or PSB: the description and the rows of
// its composite. Whatever the header, the resources, the layer section and
// the RLE table claim, the reader ends without a crash, a leak, a sanitizer
// report or an allocation beyond what the file and one row justify, and an
// accepted file is one the engine can work with. The first byte decides
// whether the bytes are also decoded as one PackBits row, or read as the
// EXIF resource's TIFF structure.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <vector>

#include "engine/formats/psd/psd_reader.h"
#include "engine/formats/psd/psd_rle.h"
#include "engine/formats/psd/psd_unit.h"
#include "fuzz_common.h"

using namespace trelvi;
using namespace trelvi::psd;

namespace {

void FuzzPackBits(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return;
  const std::size_t rowBytes = std::size_t{data[0]} << 4 | (data[1] & 15);
  std::vector<std::uint8_t> row(rowBytes + 1, 0x5A);
  const bool ok = UnpackBitsRow(data + 2, size - 2, row.data(), rowBytes);
  if (row[rowBytes] != 0x5A) fuzz::Fail("PackBits wrote past the row");
  if (ok && rowBytes > 0) {
    // A decoded row codes back to the same bytes.
    std::vector<std::uint8_t> coded(PackBitsBound(rowBytes));
    const std::size_t n = PackBitsRow(row.data(), rowBytes, coded.data());
    if (n > coded.size()) fuzz::Fail("PackBits past its bound");
    std::vector<std::uint8_t> back(rowBytes);
    if (!UnpackBitsRow(coded.data(), n, back.data(), rowBytes))
      fuzz::Fail("our own code does not decode");
    if (!std::equal(back.begin(), back.end(), row.begin()))
      fuzz::Fail("PackBits round trip");
  }
}

// An EXIF resource's bytes: read into entries without reading outside
// them, and what was read writes and reads back the same.
void FuzzExifBlob(const std::uint8_t* data, std::size_t size) {
  ImageMetadata m;
  if (!ReadExifTiffBlob(data, size, m) || (m.Exif.empty() && m.Gps.empty()))
    return;
  const std::vector<std::uint8_t> blob = ExifTiffBlob(m);
  ImageMetadata back;
  if (blob.empty() || !ReadExifTiffBlob(blob.data(), blob.size(), back))
    fuzz::Fail("our own EXIF block does not read");
  if (back.Exif.size() != m.Exif.size() || back.Gps.size() != m.Gps.size())
    fuzz::Fail("EXIF round trip");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  if (size < 1) return 0;
  if (data[0] & 1) {
    FuzzPackBits(data + 1, size - 1);
    return 0;
  }
  if (data[0] & 2) {
    FuzzExifBlob(data + 1, size - 1);
    return 0;
  }
  const std::string file = (fuzz::ScratchDir() / "in.psd").string();
  fuzz::WriteFile(file, data + 1, size - 1);
  {
    PsdReader reader;
    const PsdOpenResult result = reader.Open(file);
    if (reader.IsOpen() != (result == PsdOpenResult::Ok))
      fuzz::Fail("open state disagrees with the result");
    if (result == PsdOpenResult::Ok) {
      const PsdInfo& info = reader.Info();
      if (info.Width == 0 || info.Height == 0) fuzz::Fail("accepted 0 side");
      if (info.Depth != 8 && info.Depth != 16) fuzz::Fail("accepted depth");
      if (info.ColorMode != kColorModeRgb) fuzz::Fail("accepted colour mode");
      if (info.Channels < 3 || (info.MergedAlpha && info.Channels < 4))
        fuzz::Fail("accepted channel count");
      const std::uint32_t maxSide =
          info.Version == PsdVersion::Psb ? kPsbMaxSide : kPsdMaxSide;
      if (info.Width > maxSide || info.Height > maxSide)
        fuzz::Fail("accepted size beyond the version");
      // The resources become metadata and resources again, bounded.
      const ImageMetadata m = MetadataFromResources(reader.Resources());
      static_cast<void>(ResourcesFromMetadata(m, info.Width, info.Height));
      std::vector<std::uint8_t> row(info.RowBytes());
      // In order until the first failure, then a few rows out of order.
      std::uint32_t y = 0;
      while (y < info.Height && reader.ReadRow(y, row.data())) ++y;
      for (std::uint32_t r : {info.Height - 1, info.Height / 2, 0u})
        reader.ReadRow(r, row.data());
      if (reader.ReadRow(info.Height, row.data()))
        fuzz::Fail("a row below the image");
    } else if (result == PsdOpenResult::Damaged) {
      if (*PsdOpenMessage(result) == '\0') fuzz::Fail("damage without text");
    }
  }
  std::error_code ec;
  std::filesystem::remove(file, ec);
  return 0;
}
