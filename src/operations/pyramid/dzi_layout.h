#pragma once

// The arithmetic of a Deep Zoom pyramid: which levels exist, how large each
// is, where each tile starts and ends, and the descriptor viewers read.
// Pure functions, so the builder, the tests and any future reader of a
// pyramid agree on one definition.

#include <cstdint>
#include <string>
#include <string_view>

namespace trelvi::pyramid {

struct Size {
  std::uint64_t Width = 0, Height = 0;
  bool operator==(const Size&) const = default;
};

// A half-open range [Begin, End) of pixels along one side.
struct Span {
  std::uint64_t Begin = 0, End = 0;
  std::uint64_t Length() const { return End - Begin; }
  bool operator==(const Span&) const = default;
};

// The highest level, which holds the image at full size:
// ceil(log2(max(width, height))), so 0 for a 1 x 1 image.
int TopLevel(std::uint64_t width, std::uint64_t height);
// TopLevel + 1: levels are numbered 0 (1 x 1 pixel) to TopLevel.
int LevelCount(std::uint64_t width, std::uint64_t height);

// Each level below the top halves both sides, rounding up.
Size LevelSize(std::uint64_t width, std::uint64_t height, int level);

// Tiles along a side of the given length: ceil(length / tileSize).
std::uint64_t TileCount(std::uint64_t length, std::uint32_t tileSize);

// The pixels tile `index` covers along a side: its own tileSize pixels plus
// `overlap` from each neighbour that exists, clipped to the side.
Span TileSpan(std::uint64_t length, std::uint32_t tileSize,
              std::uint32_t overlap, std::uint64_t index);

// The `<name>.dzi` text; format is the tiles' extension ("jpg" or "png").
std::string Descriptor(std::string_view format, std::uint32_t overlap,
                       std::uint32_t tileSize, std::uint64_t width,
                       std::uint64_t height);

// "<level>/<column>_<row>.<format>", relative to the "<name>_files" folder.
std::string TilePath(int level, std::uint64_t column, std::uint64_t row,
                     std::string_view format);

}  // namespace trelvi::pyramid
