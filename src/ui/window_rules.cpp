#include "ui/window_rules.h"

#include <cfenv>
#include <cmath>
#include <cstdio>

#include "engine/utils.h"

namespace trelvi::rules {

namespace {
// Decimal text to a number; false for empty text, signs, other characters or
// values past 32 bits.
bool ParseDecimal(const std::string& text, std::int32_t& value) {
  if (text.empty() || text.size() > 10) return false;
  std::int64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  if (v > INT32_MAX) return false;
  value = static_cast<std::int32_t>(v);
  return true;
}
}  // namespace

void ParseTilePosition(const std::string& name, std::int32_t& column,
                       std::int32_t& row) {
  // Positions below are 0-based; the tag must leave at least six characters
  // after its "X".
  const std::size_t len = name.size();
  if (len < 8) return;
  std::size_t p = std::string::npos;
  for (std::size_t i = len - 8 + 1; i-- > 0;) {
    if (name[i] == '_' && (name[i + 1] == 'X' || name[i + 1] == 'x')) {
      p = i;
      break;
    }
  }
  if (p == std::string::npos) return;
  std::size_t i = p + 2;
  std::string colText;
  while (i < len - 1 && name[i] != 'Y' && name[i] != 'y') colText += name[i++];
  std::string rowText;
  if (i < len && (name[i] == 'Y' || name[i] == 'y')) {
    ++i;
    while (i < len - 1 && name[i] != '.') rowText += name[i++];
  }
  std::int32_t v = 0;
  column = ParseDecimal(colText, v) ? v : 0;
  row = ParseDecimal(rowText, v) ? v : 0;
}

std::string FormatPixelCount(std::int64_t count) {
  static const char* const kUnits[] = {"Pixels",     "Kilopixels", "Megapixels",
                                       "Gigapixels", "Terapixels", "Petapixels",
                                       "Exapixels"};
  double x = static_cast<double>(count);
  int unit = 0;
  while (x >= 1000) {
    x /= 1000;
    ++unit;
  }
  if (unit > 6) return "too large";
  char text[64];
  std::snprintf(text, sizeof text, "%.2f %s", x, kUnits[unit]);
  return text;
}

TileSelection CheckTileSelection(const std::vector<std::string>& files,
                                 bool dropped) {
  TileSelection result;
  if (dropped) {
    if (files.size() < 2) return result;
    for (const auto& f : files)
      if (!IsSupportedExtension(UpperExtension(f))) {
        result.Message = "Then file type is invalid";
        return result;
      }
  }
  if (files.empty()) return result;
  const std::string ext0 = UpperExtension(files[0]);
  std::int32_t maxX = 0, maxY = 0;
  for (const auto& f : files) {
    if (UpperExtension(f) != ext0) {
      result.Message = "You can't select two different type of files";
      return result;
    }
    std::int32_t col = 0, row = 0;
    ParseTilePosition(FileNamePart(f), col, row);
    if (col > maxX) maxX = col;
    if (row > maxY) maxY = row;
  }
  const std::int64_t n = static_cast<std::int64_t>(maxX) * maxY;
  if (static_cast<std::int64_t>(files.size()) == n) {
    result.Accepted = true;
    result.Columns = maxX;
    result.Rows = maxY;
    result.Message = std::to_string(files.size()) + " files selected";
  } else if (n <= 0) {
    result.Message = "Can't merge the selected files";
  } else {
    result.Message =
        "The number of selected files must be : " + std::to_string(n);
  }
  return result;
}

std::vector<std::string> CheckInputLimits(TFileInfo& info) {
  std::vector<std::string> messages;
  if (!info.ImageIsOk) return messages;
  if (info.Width == 0 || info.Height == 0) {
    messages.push_back("Image dimension can't be = 0");
    info.ImageIsOk = false;
  }
  if (info.Width > kMaxSide || info.Height > kMaxSide) {
    messages.push_back(
        "Image dimensions exceed the internal limits of this version");
    info.ImageIsOk = false;
  }
  return messages;
}

std::string CheckCrop(std::int64_t x, std::int64_t y, std::int64_t width,
                      std::int64_t height, std::uint32_t imageWidth,
                      std::uint32_t imageHeight) {
  const std::int64_t w = imageWidth, h = imageHeight;
  if (x > w - 1) return "X must >= 0 and < " + std::to_string(w);
  if (y > h - 1) return "Y must >= 0 and < " + std::to_string(h);
  if (x + width > w) return "Width must > 0 and <= " + std::to_string(w - x);
  if (y + height > h) return "Height must > 0 and <= " + std::to_string(h - y);
  return std::string();
}

MergeCheck CheckMergeCount(std::size_t count, std::uint32_t columns,
                           std::uint32_t rows) {
  MergeCheck result;
  if (count == 0) return result;
  const std::uint64_t n = static_cast<std::uint64_t>(columns) * rows;
  if (n > count) {
    result.Message = "One or more files are missing.\r\nPlease select " +
                     std::to_string(n) + " files";
  } else if (n < count) {
    result.Message = "Too many files selected.\r\nPlease select " +
                     std::to_string(n) + " files";
  } else {
    result.Run = true;
  }
  return result;
}

std::uint32_t ClampTileSide(std::uint32_t requested, std::uint32_t imageSide) {
  std::uint32_t v = requested;
  if (v > imageSide) v = imageSide;
  if (v > kMaxTileSide) v = kMaxTileSide;
  if (v < kMinTileSide) v = kMinTileSide;
  return v;
}

std::int64_t ResizedHeight(std::uint32_t width, std::uint32_t height,
                           std::uint32_t newWidth) {
  const double ratio = static_cast<double>(width) / newWidth;
  // nearbyint follows the current rounding mode, which is to nearest with
  // ties to even unless someone changed it.
  return static_cast<std::int64_t>(std::nearbyint(height / ratio));
}

std::string StartOutcome(bool aborted,
                         const std::vector<std::string>& outputs) {
  bool written = !aborted && !outputs.empty();
  for (const std::string& file : outputs)
    if (!FileExists(file)) written = false;
  return written ? "Operation completed successfully" : "Operation aborted";
}

}  // namespace trelvi::rules
