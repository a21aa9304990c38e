#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace trelvi::cli {

// Exit status of the program: the output was written, it was not, or the
// command line was wrong.
inline constexpr int kWritten = 0;
inline constexpr int kNotWritten = 1;
inline constexpr int kUsage = 2;

struct Size {
  std::uint32_t W = 0, H = 0;
};

// "WxH" with positive 32-bit values.
std::optional<Size> ParseSize(const std::string& text);

enum class Command { Info, Convert, Crop, Split, Merge, Resize, Pyramid };

// Options every command that writes an output shares.
struct Common {
  std::string Format = "tif";
  std::string OutputDir;
  bool Overwrite = false;
  bool Sync = false;  // flush each output to the disk before it is final
  bool Quiet = false;
  std::string RawSize;
  int Bits = 0;
  int Level = 0;  // --level; 0 when not given
};

// Everything the command line said, checked.
struct Arguments {
  Command Cmd = Command::Info;
  Common Options;
  std::string Input;
  std::vector<std::string> Tiles;
  std::int64_t X = 0, Y = 0, Width = 0, Height = 0;  // crop
  Size Tile;                                         // split, checked
  Size RawSize;                                      // --raw-size, checked
  std::int32_t ResizeWidth = 0;
  bool Fast = false;
  // pyramid, in the limits the parser checks
  std::uint32_t PyramidTileSize = 254;
  std::uint32_t PyramidOverlap = 1;
  std::string TileFormat = "jpg";
  int Quality = 90;
};

// Parses and checks the command line. Returns the exit status when the
// program should end here (help, version, a usage error, reported on
// stderr), or nothing when args holds a command to run.
std::optional<int> ParseArguments(int argc, char** argv, Arguments& args);

}  // namespace trelvi::cli
