#include "cli/arguments.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <regex>

#include "engine/format_table.h"
#include "engine/trelvi.h"
#include "ui/pyramid_fields.h"
#include "ui/window_rules.h"

namespace trelvi::cli {

std::optional<Size> ParseSize(const std::string& text) {
  static const std::regex pattern("([0-9]{1,10})[xX]([0-9]{1,10})");
  std::smatch m;
  if (!std::regex_match(text, m, pattern)) return std::nullopt;
  const unsigned long long w = std::stoull(m[1]), h = std::stoull(m[2]);
  if (w == 0 || h == 0 || w > UINT32_MAX || h > UINT32_MAX) return std::nullopt;
  return Size{static_cast<std::uint32_t>(w), static_cast<std::uint32_t>(h)};
}

namespace {

void AddCommon(CLI::App* cmd, Common& c, bool withOutput) {
  if (withOutput) {
    cmd->add_option("-f,--format", c.Format, "Output format")
        ->check(CLI::IsMember(OutputCliNames()))
        ->default_str("tif");
    cmd->add_option("-o,--output-dir", c.OutputDir,
                    "Output folder (default: the input's folder)");
    cmd->add_flag("-y,--overwrite", c.Overwrite,
                  "Replace an existing output file without asking");
    cmd->add_flag("-q,--quiet", c.Quiet, "No progress display");
    cmd->add_option("--level", c.Level,
                    "Compression level of tif-deflate (1-12, default 6) or "
                    "tif-zstd (1-19, default 9)")
        ->check(CLI::Range(1, 19));
    cmd->add_flag("--sync", c.Sync,
                  "Flush each output to the disk before it takes its name");
  }
  cmd->add_option("--raw-size", c.RawSize,
                  "WxH of a RAW input whose name carries no usable size");
  cmd->add_option("--bits", c.Bits, "Bits per sample of such a RAW input")
      ->check(CLI::IsMember({8, 16}));
}

// The subcommands, bound to the fields of args they fill.
struct App {
  CLI::App Root{
      "trelvi: convert, crop, resize, split and merge images far too large "
      "for memory (TIFF, RAW, KRO, PSD, PSB)"};
  std::string TileSize;
  CLI::App* Info = nullptr;
  CLI::App* Convert = nullptr;
  CLI::App* Crop = nullptr;
  CLI::App* Split = nullptr;
  CLI::App* Merge = nullptr;
  CLI::App* Resize = nullptr;
  CLI::App* Pyramid = nullptr;

  explicit App(Arguments& args) {
    Root.set_version_flag("--version", std::string("trelvi ") + kVersion);
    Root.require_subcommand(1);
    Root.fallthrough(false);
    Common& common = args.Options;

    Info = Root.add_subcommand("info", "Describe an image");
    Info->add_option("INPUT", args.Input, "Input image")->required();
    AddCommon(Info, common, false);

    Convert =
        Root.add_subcommand("convert", "Rewrite an image in another format");
    Convert->add_option("INPUT", args.Input, "Input image")->required();
    AddCommon(Convert, common, true);

    Crop = Root.add_subcommand("crop", "Copy a rectangle out of an image");
    Crop->add_option("INPUT", args.Input, "Input image")->required();
    Crop->add_option("--x", args.X, "Left edge")
        ->required()
        ->check(CLI::Range(0, 9999999));
    Crop->add_option("--y", args.Y, "Top edge")
        ->required()
        ->check(CLI::Range(0, 9999999));
    Crop->add_option("--width", args.Width, "Width")
        ->required()
        ->check(CLI::Range(1, 9999999));
    Crop->add_option("--height", args.Height, "Height")
        ->required()
        ->check(CLI::Range(1, 9999999));
    AddCommon(Crop, common, true);

    Split = Root.add_subcommand("split", "Cut an image into tiles");
    Split->add_option("INPUT", args.Input, "Input image")->required();
    Split->add_option("--tile", TileSize, "Tile size WxH, each 256 to 30000")
        ->required();
    AddCommon(Split, common, true);

    Resize = Root.add_subcommand("resize", "Scale an image down to a width");
    Resize
        ->add_option("INPUT", args.Input,
                     "Input image (at least 10000 pixels on one side)")
        ->required();
    Resize->add_option("--width", args.ResizeWidth, "New width, 512 to 999999")
        ->required()
        ->check(CLI::Range(512, 999999));
    Resize->add_flag("--fast", args.Fast,
                     "Nearest neighbour (less quality) instead of Lanczos");
    AddCommon(Resize, common, true);

    Merge = Root.add_subcommand("merge", "Join a complete grid of tiles");
    Merge
        ->add_option("TILE", args.Tiles,
                     "Tile files (names carry _x<col>y<row>)")
        ->required();
    AddCommon(Merge, common, true);

    Pyramid = Root.add_subcommand(
        "pyramid", "Publish an image as a Deep Zoom tile pyramid for the web");
    Pyramid->add_option("INPUT", args.Input, "Input image")->required();
    Pyramid->add_option("-o,--output-dir", common.OutputDir,
                        "Output folder (default: the input's folder)");
    Pyramid
        ->add_option("--tile-size", args.PyramidTileSize,
                     "Tile side without overlap, 64 to 4096")
        ->check(CLI::Range(static_cast<int>(rules::kMinPyramidTileSize),
                           static_cast<int>(rules::kMaxPyramidTileSize)))
        ->default_str("254");
    Pyramid
        ->add_option("--overlap", args.PyramidOverlap,
                     "Pixels shared with each neighbour tile, 0 to 16")
        ->check(CLI::Range(0, static_cast<int>(rules::kMaxPyramidOverlap)))
        ->default_str("1");
    Pyramid->add_option("--tile-format", args.TileFormat, "jpg or png")
        ->check(CLI::IsMember({"jpg", "png"}))
        ->default_str("jpg");
    Pyramid->add_option("--quality", args.Quality, "JPEG quality, 1 to 100")
        ->check(CLI::Range(1, 100))
        ->default_str("90");
    Pyramid->add_flag("-y,--overwrite", common.Overwrite,
                      "Replace an existing pyramid without asking");
    Pyramid->add_flag("-q,--quiet", common.Quiet, "No progress display");
    AddCommon(Pyramid, common, false);
  }

  Command Parsed() const {
    if (Convert->parsed()) return Command::Convert;
    if (Crop->parsed()) return Command::Crop;
    if (Split->parsed()) return Command::Split;
    if (Merge->parsed()) return Command::Merge;
    if (Resize->parsed()) return Command::Resize;
    if (Pyramid->parsed()) return Command::Pyramid;
    return Command::Info;
  }
};

// The checks CLI11 cannot express: the RAW size with its depth, the tile
// size's limits. Reports on stderr; false is a usage error.
bool CheckArguments(Arguments& args, const std::string& tileSize) {
  const Common& common = args.Options;
  if (!common.RawSize.empty()) {
    const auto parsed = ParseSize(common.RawSize);
    if (!parsed) {
      std::fprintf(stderr, "--raw-size: expected WxH, got %s\n",
                   common.RawSize.c_str());
      return false;
    }
    args.RawSize = *parsed;
    if (common.Bits == 0) {
      std::fprintf(stderr, "--raw-size needs --bits 8 or 16\n");
      return false;
    }
  } else if (common.Bits != 0) {
    std::fprintf(stderr, "--bits needs --raw-size WxH\n");
    return false;
  }
  // Each codec's own limits; CLI11 has refused what no codec takes.
  if (common.Level != 0) {
    const OutputChoiceRow* row = FindOutputChoice(common.Format);
    if (!row || row->MaxLevel == 0) {
      std::fprintf(stderr, "--level: the format %s has no level\n",
                   common.Format.c_str());
      return false;
    }
    if (common.Level < row->MinLevel || common.Level > row->MaxLevel) {
      std::fprintf(stderr, "--level: %s takes %d to %d, got %d\n",
                   common.Format.c_str(), row->MinLevel, row->MaxLevel,
                   common.Level);
      return false;
    }
  }
  if (args.Cmd == Command::Split) {
    const auto parsed = ParseSize(tileSize);
    if (!parsed || parsed->W < rules::kMinTileSide ||
        parsed->H < rules::kMinTileSide || parsed->W > rules::kMaxTileSide ||
        parsed->H > rules::kMaxTileSide) {
      std::fprintf(stderr,
                   "--tile: expected WxH with each side from 256 to 30000, "
                   "got %s\n",
                   tileSize.c_str());
      return false;
    }
    args.Tile = *parsed;
  }
  return true;
}

}  // namespace

std::optional<int> ParseArguments(int argc, char** argv, Arguments& args) {
  App app(args);
  try {
    app.Root.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.Root.exit(e);
    return code == 0 ? 0 : kUsage;
  }
  args.Cmd = app.Parsed();
  if (!CheckArguments(args, app.TileSize)) return kUsage;
  return std::nullopt;
}

}  // namespace trelvi::cli
