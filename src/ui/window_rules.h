#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/format_table.h"
#include "engine/naming.h"
#include "engine/trelvi.h"

// The rules the main window applies that need no widget; the command line
// applies the same ones.
namespace trelvi::rules {

inline constexpr std::uint32_t kMaxSide = 150000;
inline constexpr std::uint32_t kMinTileSide = 256;
inline constexpr std::uint32_t kMaxTileSide = 30000;

// The formats' extensions and the file-name routines live in the engine;
// the window and its tests know them by these names.
using trelvi::IsSupportedExtension;
using trelvi::UpperExtension;

// Reads a tile's grid position from its name; column and row are left as
// they were when the name carries no tag.
void ParseTilePosition(const std::string& name, std::int32_t& column,
                       std::int32_t& row);

// Pixel count with a unit: "1.20 Gigapixels", "999.00 Pixels".
std::string FormatPixelCount(std::int64_t count);

// The outcome of checking a multiple selection of tiles.
struct TileSelection {
  bool Accepted = false;
  std::string Message;  // shown when not accepted; empty: refused silently
  std::int32_t Columns = 0;
  std::int32_t Rows = 0;
};
// Dropped: the files came from a drop, whose extensions are checked first.
TileSelection CheckTileSelection(const std::vector<std::string>& files,
                                 bool dropped);

// The window's own limits on an accepted input: the messages to show, in
// order; ImageIsOk is cleared when any applies.
std::vector<std::string> CheckInputLimits(TFileInfo& info);

// Crop parameters against the image; the message of the first failing
// check, empty when the crop may run.
std::string CheckCrop(std::int64_t x, std::int64_t y, std::int64_t width,
                      std::int64_t height, std::uint32_t imageWidth,
                      std::uint32_t imageHeight);

// Selected tile count against the grid; empty when the merge may run.
// count 0 is refused without a message (Run false, Message empty).
struct MergeCheck {
  bool Run = false;
  std::string Message;
};
MergeCheck CheckMergeCount(std::size_t count, std::uint32_t columns,
                           std::uint32_t rows);

// The output choices and the output folder are the engine's
// (engine/format_table.h).
using trelvi::GetOutputFolder;
using trelvi::OutputChoice;
using trelvi::SetOutputType;

// Tile counts, each rounded up: the split's own count.
using trelvi::TileCount;

// Tile side clamped as the window clamps it: not above the image side, not
// above 30000, not below the field's minimum of 256.
std::uint32_t ClampTileSide(std::uint32_t requested, std::uint32_t imageSide);

// The height that keeps the aspect ratio at the new width (ties to even).
std::int64_t ResizedHeight(std::uint32_t width, std::uint32_t height,
                           std::uint32_t newWidth);

// The status line after a Start that ran its operation. A run succeeded
// only when nothing aborted it and it left its output: the engine does not
// set Aborted for every run that writes nothing (a declined overwrite, an
// output that would replace its input), so the files decide as well.
std::string StartOutcome(bool aborted, const std::vector<std::string>& outputs);

}  // namespace trelvi::rules
