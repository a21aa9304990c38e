// trelvi: the command-line front end. It applies the same checks as the
// window and drives the same engine operations.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <optional>
#include <regex>

#include "cli/console_ui.h"
#include "engine/format_table.h"
#include "engine/naming.h"
#include "engine/trelvi.h"
#include "engine/utils.h"
#include "resize/resize_pipeline.h"
#include "ui/window_rules.h"

namespace {

using namespace trelvi;

constexpr int kWritten = 0;
constexpr int kNotWritten = 1;
constexpr int kUsage = 2;

struct Size {
  std::uint32_t W = 0, H = 0;
};

// "WxH" with positive 32-bit values.
std::optional<Size> ParseSize(const std::string& text) {
  static const std::regex pattern("([0-9]{1,10})[xX]([0-9]{1,10})");
  std::smatch m;
  if (!std::regex_match(text, m, pattern)) return std::nullopt;
  const unsigned long long w = std::stoull(m[1]), h = std::stoull(m[2]);
  if (w == 0 || h == 0 || w > UINT32_MAX || h > UINT32_MAX) return std::nullopt;
  return Size{static_cast<std::uint32_t>(w), static_cast<std::uint32_t>(h)};
}

struct Common {
  std::string Format = "tif";
  std::string OutputDir;
  bool Overwrite = false;
  bool Quiet = false;
  std::string RawSize;
  int Bits = 0;
};

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
  }
  cmd->add_option("--raw-size", c.RawSize,
                  "WxH of a RAW input whose name carries no usable size");
  cmd->add_option("--bits", c.Bits, "Bits per sample of such a RAW input")
      ->check(CLI::IsMember({8, 16}));
}

rules::OutputChoice ChoiceOf(const std::string& format) {
  const OutputChoiceRow* row = FindOutputChoice(format);
  return row ? row->Choice : OutputChoices().front().Choice;
}

class Runner {
 public:
  Runner(const Common& common, const Size& rawSize)
      : ui_(cli::ConsoleOptions{common.Overwrite, common.Quiet, rawSize.W,
                                rawSize.H,
                                static_cast<std::uint16_t>(common.Bits)}),
        engine_(ui_),
        common_(common) {
    engine_.InitEngine();
    ui_.Attach(engine_);
  }

  TTrelvi& Engine() { return engine_; }
  cli::ConsoleUi& Ui() { return ui_; }

  // The input as the window accepts it: a supported extension, readable,
  // no zero side and nothing above 150000 pixels.
  bool LoadInput(const std::string& file) {
    if (!rules::IsSupportedExtension(rules::UpperExtension(file))) {
      ui_.ShowMessageBox("Then file type is invalid");
      return false;
    }
    if (!FileExists(file)) {
      ui_.ShowMessageBox("File not found");
      return false;
    }
    engine_.InInfo.FileName = file;
    engine_.ReadInputInfo(ui_.CanAskRawDimensions());
    for (const auto& m : rules::CheckInputLimits(engine_.InInfo))
      ui_.ShowMessageBox(m);
    return engine_.InInfo.ImageIsOk;
  }

  // The output folder with its trailing separator; empty when refused.
  bool OutputFolder(const std::string& source, std::string& folder) {
    std::error_code ec;
    if (!common_.OutputDir.empty() &&
        !std::filesystem::is_directory(common_.OutputDir, ec)) {
      ui_.ShowMessageBox("Output directory doesn't exists");
      return false;
    }
    folder = rules::GetOutputFolder(common_.OutputDir, source);
    rules::SetOutputType(engine_, ChoiceOf(common_.Format));
    return true;
  }

  int Finish(bool written) {
    ui_.FinishLine();
    written = written && !engine_.Aborted && !cli::InterruptRequested();
    if (written && !common_.Quiet)
      std::fprintf(stderr, "Operation completed successfully\n");
    if (!written) std::fprintf(stderr, "Operation aborted\n");
    return written ? kWritten : kNotWritten;
  }

 private:
  cli::ConsoleUi ui_;
  TTrelvi engine_;
  const Common& common_;
};

int Info(Runner& r, const std::string& input) {
  if (!r.LoadInput(input)) return r.Finish(false);
  const TFileInfo& in = r.Engine().InInfo;
  std::printf(
      "Type: %s\nFile size: %s\nWidth: %s\nHeight: %s\nBits: %u\n"
      "Channels: %u\nImage: %s\n",
      in.ImageTypeDesc.c_str(), FormatGrouped(in.FileSize).c_str(),
      FormatGrouped(in.Width).c_str(), FormatGrouped(in.Height).c_str(),
      in.Bits, in.Channels,
      rules::FormatPixelCount(static_cast<std::int64_t>(in.Width) * in.Height)
          .c_str());
  return kWritten;
}

int Crop(Runner& r, const std::string& input, std::int64_t x, std::int64_t y,
         std::int64_t w, std::int64_t h, bool whole) {
  if (!r.LoadInput(input)) return r.Finish(false);
  std::string folder;
  if (!r.OutputFolder(input, folder)) return r.Finish(false);
  TTrelvi& e = r.Engine();
  if (whole) {
    x = 0;
    y = 0;
    w = e.InInfo.Width;
    h = e.InInfo.Height;
  } else {
    const std::string refusal =
        rules::CheckCrop(x, y, w, h, e.InInfo.Width, e.InInfo.Height);
    if (!refusal.empty()) {
      r.Ui().ShowMessageBox(refusal);
      return r.Finish(false);
    }
  }
  e.OutInfo.FileName.clear();
  e.CropImage(static_cast<std::int32_t>(x), static_cast<std::int32_t>(y),
              static_cast<std::int32_t>(w), static_cast<std::int32_t>(h),
              folder, "");
  // A declined overwrite ends the crop without a failure, but nothing was
  // written: a script must be able to trust exit status 0.
  return r.Finish(!e.OutInfo.FileName.empty() &&
                  FileExists(e.OutInfo.FileName));
}

int Split(Runner& r, const std::string& input, const Size& tile) {
  if (!r.LoadInput(input)) return r.Finish(false);
  std::string folder;
  if (!r.OutputFolder(input, folder)) return r.Finish(false);
  TTrelvi& e = r.Engine();
  const std::uint32_t tw = rules::ClampTileSide(tile.W, e.InInfo.Width);
  const std::uint32_t th = rules::ClampTileSide(tile.H, e.InInfo.Height);
  std::vector<std::string> list;
  e.SplitImage(tw, th, list, folder, "");
  return r.Finish(true);
}

int Merge(Runner& r, const std::vector<std::string>& tiles) {
  for (const auto& t : tiles)
    if (!rules::IsSupportedExtension(rules::UpperExtension(t))) {
      r.Ui().ShowMessageBox("Then file type is invalid");
      return r.Finish(false);
    }
  const auto selection = rules::CheckTileSelection(tiles, false);
  if (!selection.Accepted) {
    if (!selection.Message.empty()) r.Ui().ShowMessageBox(selection.Message);
    return r.Finish(false);
  }
  const auto check = rules::CheckMergeCount(
      tiles.size(), static_cast<std::uint32_t>(selection.Columns),
      static_cast<std::uint32_t>(selection.Rows));
  if (!check.Run) {
    if (!check.Message.empty()) r.Ui().ShowMessageBox(check.Message);
    return r.Finish(false);
  }
  std::string folder;
  if (!r.OutputFolder(tiles[0], folder)) return r.Finish(false);
  r.Engine().MergeTiles(static_cast<std::uint32_t>(selection.Columns),
                        static_cast<std::uint32_t>(selection.Rows), tiles,
                        folder, "");
  return r.Finish(true);
}

int Resize(Runner& r, const std::string& input, std::int32_t width, bool fast,
           const Common& common) {
  if (!r.LoadInput(input)) return r.Finish(false);
  std::string folder;
  if (!r.OutputFolder(input, folder)) return r.Finish(false);
  TTrelvi& e = r.Engine();
  TResizeParams params;
  params.NewW = width;
  // The height the window shows for this width; it decides whether the
  // image is already near the wanted size.
  const std::int64_t height = rules::ResizedHeight(
      e.InInfo.Width, e.InInfo.Height, static_cast<std::uint32_t>(width));
  params.NewH =
      static_cast<std::int32_t>(std::min<std::int64_t>(height, 999999));
  params.FastMethod = fast;
  params.OutputFolder = common.OutputDir;
  params.Output = ChoiceOf(common.Format);
  params.NumOfCores = 1;
  e.OutInfo.FileName.clear();
  TResizePipeline pipeline(e);
  pipeline.DoResize(params);
  return r.Finish(!e.OutInfo.FileName.empty() &&
                  FileExists(e.OutInfo.FileName));
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "trelvi: convert, crop, resize, split and merge images far too large "
      "for memory (TIFF, RAW, KRO)"};
  app.set_version_flag("--version", std::string("trelvi ") + kVersion);
  app.require_subcommand(1);
  app.fallthrough(false);

  Common common;
  std::string input;
  std::vector<std::string> tiles;
  std::int64_t cx = 0, cy = 0, cw = 0, ch = 0;
  std::string tileSize;

  auto* info = app.add_subcommand("info", "Describe an image");
  info->add_option("INPUT", input, "Input image")->required();
  AddCommon(info, common, false);

  auto* convert =
      app.add_subcommand("convert", "Rewrite an image in another format");
  convert->add_option("INPUT", input, "Input image")->required();
  AddCommon(convert, common, true);

  auto* crop = app.add_subcommand("crop", "Copy a rectangle out of an image");
  crop->add_option("INPUT", input, "Input image")->required();
  crop->add_option("--x", cx, "Left edge")
      ->required()
      ->check(CLI::Range(0, 9999999));
  crop->add_option("--y", cy, "Top edge")
      ->required()
      ->check(CLI::Range(0, 9999999));
  crop->add_option("--width", cw, "Width")
      ->required()
      ->check(CLI::Range(1, 9999999));
  crop->add_option("--height", ch, "Height")
      ->required()
      ->check(CLI::Range(1, 9999999));
  AddCommon(crop, common, true);

  auto* split = app.add_subcommand("split", "Cut an image into tiles");
  split->add_option("INPUT", input, "Input image")->required();
  split->add_option("--tile", tileSize, "Tile size WxH, each 256 to 30000")
      ->required();
  AddCommon(split, common, true);

  std::int32_t resizeWidth = 0;
  bool fast = false;
  auto* resize = app.add_subcommand("resize", "Scale an image down to a width");
  resize
      ->add_option("INPUT", input,
                   "Input image (at least 10000 pixels on one side)")
      ->required();
  resize->add_option("--width", resizeWidth, "New width, 512 to 999999")
      ->required()
      ->check(CLI::Range(512, 999999));
  resize->add_flag("--fast", fast,
                   "Nearest neighbour (less quality) instead of Lanczos");
  AddCommon(resize, common, true);

  auto* merge = app.add_subcommand("merge", "Join a complete grid of tiles");
  merge->add_option("TILE", tiles, "Tile files (names carry _x<col>y<row>)")
      ->required();
  AddCommon(merge, common, true);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? 0 : kUsage;
  }

  Size rawSize;
  if (!common.RawSize.empty()) {
    const auto parsed = ParseSize(common.RawSize);
    if (!parsed) {
      std::fprintf(stderr, "--raw-size: expected WxH, got %s\n",
                   common.RawSize.c_str());
      return kUsage;
    }
    rawSize = *parsed;
    if (common.Bits == 0) {
      std::fprintf(stderr, "--raw-size needs --bits 8 or 16\n");
      return kUsage;
    }
  } else if (common.Bits != 0) {
    std::fprintf(stderr, "--bits needs --raw-size WxH\n");
    return kUsage;
  }
  Size tile;
  if (split->parsed()) {
    const auto parsed = ParseSize(tileSize);
    if (!parsed || parsed->W < rules::kMinTileSide ||
        parsed->H < rules::kMinTileSide || parsed->W > rules::kMaxTileSide ||
        parsed->H > rules::kMaxTileSide) {
      std::fprintf(stderr,
                   "--tile: expected WxH with each side from 256 to 30000, "
                   "got %s\n",
                   tileSize.c_str());
      return kUsage;
    }
    tile = *parsed;
  }

  cli::InstallInterruptHandler();
  Runner runner(common, rawSize);
  if (info->parsed()) return Info(runner, input);
  if (convert->parsed()) return Crop(runner, input, 0, 0, 0, 0, true);
  if (crop->parsed()) return Crop(runner, input, cx, cy, cw, ch, false);
  if (split->parsed()) return Split(runner, input, tile);
  if (merge->parsed()) return Merge(runner, tiles);
  if (resize->parsed()) return Resize(runner, input, resizeWidth, fast, common);
  return kUsage;
}
