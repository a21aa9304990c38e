#include "operations/pyramid/dzi_layout.h"

#include <algorithm>

namespace trelvi::pyramid {

int TopLevel(std::uint64_t width, std::uint64_t height) {
  const std::uint64_t side = std::max(width, height);
  int level = 0;
  // Doubling from 1 until the side fits: ceil(log2) without floating point,
  // which would misround sides just above a power of two.
  while (level < 64 && (std::uint64_t{1} << level) < side) ++level;
  return level;
}

int LevelCount(std::uint64_t width, std::uint64_t height) {
  return TopLevel(width, height) + 1;
}

Size LevelSize(std::uint64_t width, std::uint64_t height, int level) {
  const int shift = TopLevel(width, height) - level;
  if (shift <= 0) return {width, height};
  // Halving with rounding up, `shift` times over, is one division by
  // 2^shift rounded up.
  const auto halve = [shift](std::uint64_t v) {
    return (v >> shift) + ((v & ((std::uint64_t{1} << shift) - 1)) ? 1 : 0);
  };
  return {halve(width), halve(height)};
}

std::uint64_t TileCount(std::uint64_t length, std::uint32_t tileSize) {
  return length / tileSize + (length % tileSize ? 1 : 0);
}

Span TileSpan(std::uint64_t length, std::uint32_t tileSize,
              std::uint32_t overlap, std::uint64_t index) {
  const std::uint64_t start = index * tileSize;
  const std::uint64_t begin = index > 0 ? start - overlap : 0;
  const std::uint64_t end = std::min(length, start + tileSize + overlap);
  return {begin, end};
}

std::string Descriptor(std::string_view format, std::uint32_t overlap,
                       std::uint32_t tileSize, std::uint64_t width,
                       std::uint64_t height) {
  std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  text +=
      "<Image xmlns=\"http://schemas.microsoft.com/deepzoom/2008\" Format=\"";
  text += format;
  text += "\" Overlap=\"" + std::to_string(overlap) + "\" TileSize=\"" +
          std::to_string(tileSize) + "\">\n";
  text += "<Size Width=\"" + std::to_string(width) + "\" Height=\"" +
          std::to_string(height) + "\"/>\n";
  text += "</Image>\n";
  return text;
}

std::string TilePath(int level, std::uint64_t column, std::uint64_t row,
                     std::string_view format) {
  std::string path = std::to_string(level) + "/" + std::to_string(column) +
                     "_" + std::to_string(row) + ".";
  path += format;
  return path;
}

}  // namespace trelvi::pyramid
