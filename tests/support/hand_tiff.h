#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

namespace trelvi::test {

// A classic little-endian TIFF put together byte by byte: the directory
// first, then the strips, so that its tags can say what no library would
// write and a file cut short loses pixels, not its directory.
struct HandTiff {
  std::uint32_t Width = 8, Height = 4;
  std::uint16_t Bits = 8, Samples = 3, Compression = 1;
  std::uint32_t RowsPerStrip = 4;
  // The strips' bytes, one after the other, and the byte count each strip
  // declares (empty: each strip's share of the image, the last one short).
  std::vector<std::uint8_t> Data;
  std::vector<std::uint32_t> DeclaredBytes;
  bool OmitByteCounts = false;
  std::uint32_t FirstStripOffset = 0;  // 0: right after the directory
};

namespace hand_tiff_detail {
inline void Put16(std::vector<std::uint8_t>& b, std::uint32_t v) {
  b.push_back(static_cast<std::uint8_t>(v));
  b.push_back(static_cast<std::uint8_t>(v >> 8));
}
inline void Put32(std::vector<std::uint8_t>& b, std::uint32_t v) {
  for (int i = 0; i < 4; ++i)
    b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
}  // namespace hand_tiff_detail

inline std::vector<std::uint8_t> TiffBytes(const HandTiff& t) {
  using hand_tiff_detail::Put16;
  using hand_tiff_detail::Put32;
  const std::uint64_t rowBytes =
      static_cast<std::uint64_t>(t.Width) * t.Samples * (t.Bits / 8);
  const std::uint32_t rps = t.RowsPerStrip == 0 ? 1 : t.RowsPerStrip;
  const std::uint32_t strips =
      t.Height == 0 ? 1
                    : static_cast<std::uint32_t>((t.Height - 1ull) / rps + 1);
  std::vector<std::uint32_t> counts = t.DeclaredBytes;
  if (counts.empty()) {
    for (std::uint32_t s = 0; s < strips; ++s) {
      const std::uint64_t rows = std::min<std::uint64_t>(
          rps, t.Height - static_cast<std::uint64_t>(s) * rps);
      counts.push_back(static_cast<std::uint32_t>(rows * rowBytes));
    }
  }
  const std::uint32_t n = static_cast<std::uint32_t>(counts.size());

  struct Entry {
    std::uint16_t Id, Type;
    std::uint32_t Count, Value;
  };
  std::vector<Entry> entries = {
      {256, 4, 1, t.Width},   {257, 4, 1, t.Height},
      {258, 3, 1, t.Bits},    {259, 3, 1, t.Compression},
      {262, 3, 1, 2},         {273, 4, n, 0},
      {277, 3, 1, t.Samples}, {278, 4, 1, t.RowsPerStrip},
      {279, 4, n, 0},         {284, 3, 1, 1}};
  if (t.OmitByteCounts) entries.erase(entries.begin() + 8);
  const std::uint32_t dirEnd =
      8 + 2 + 12 * static_cast<std::uint32_t>(entries.size()) + 4;
  // Arrays of more than one value live after the directory.
  const std::uint32_t offsetsAt = dirEnd;
  const std::uint32_t countsAt = offsetsAt + (n > 1 ? 4 * n : 0);
  const std::uint32_t dataAt = countsAt + (n > 1 ? 4 * n : 0);
  const std::uint32_t first = t.FirstStripOffset ? t.FirstStripOffset : dataAt;
  std::vector<std::uint32_t> offsets;
  std::uint32_t at = first;
  for (std::uint32_t c : counts) {
    offsets.push_back(at);
    at += c;
  }

  std::vector<std::uint8_t> b = {'I', 'I', 42, 0};
  Put32(b, 8);
  Put16(b, static_cast<std::uint16_t>(entries.size()));
  for (const Entry& e : entries) {
    Put16(b, e.Id);
    Put16(b, e.Type);
    Put32(b, e.Count);
    std::uint32_t v = e.Value;
    if (e.Id == 273) v = n > 1 ? offsetsAt : offsets[0];
    if (e.Id == 279) v = n > 1 ? countsAt : counts[0];
    if (e.Type == 3) {
      Put16(b, v);
      Put16(b, 0);
    } else {
      Put32(b, v);
    }
  }
  Put32(b, 0);
  if (n > 1) {
    for (std::uint32_t o : offsets) Put32(b, o);
    for (std::uint32_t c : counts) Put32(b, c);
  }
  b.insert(b.end(), t.Data.begin(), t.Data.end());
  return b;
}

}  // namespace trelvi::test
