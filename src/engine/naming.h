#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace trelvi {

// Names carry geometry: "_<w>X<h>" is a size suffix, "_x<col>y<row>" a tile
// position. These routines read the file-name part only ('/' and '\' both
// end the directory part); they never touch the file system.

// BaseName without directory, size suffix, position suffix and extension;
// Ext without its leading dot ("big.tif" for a ".big.tif" name).
void SplitFileName(const std::string& fileName, std::string& baseName,
                   std::string& ext);
std::string GetBaseName(const std::string& fileName);

// The extension of the file-name part, dot included, upper-cased; empty
// when there is none ("image.tiff.bak" gives ".BAK").
std::string UpperExtension(const std::string& fileName);

// "_<w>X<h>": the size suffix GetSizeFromName reads back.
std::string SizeSuffix(std::uint64_t width, std::uint64_t height);
// "_x<col>y<row>": the position suffix GetTilePosFromName reads back.
std::string TilePositionSuffix(std::uint32_t col, std::uint32_t row);

// Tiles of tileSide along an image side, the last one possibly narrower;
// 0 for a tile side of 0.
std::uint32_t TileCount(std::uint32_t imageSide, std::uint32_t tileSide);

// 0 where a value cannot be read.
void GetSizeFromName(const std::string& fileName, std::uint32_t& width,
                     std::uint32_t& height);
void GetTilePosFromName(const std::string& fileName, std::uint32_t& col,
                        std::uint32_t& row);

// The first of files whose upper-cased path contains "_X<col>Y<row>.<EXT>";
// ext is what SplitFileName gives for the first file of the set. Empty when
// none does.
std::string FindTileFile(const std::vector<std::string>& files,
                         const std::string& ext, std::uint32_t col,
                         std::uint32_t row);

}  // namespace trelvi
