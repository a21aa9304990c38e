#include "cli/commands.h"

#include <cstdio>
#include <filesystem>

#include "cli/console_ui.h"
#include "engine/format_table.h"
#include "engine/trelvi.h"
#include "engine/utils.h"
#include "operations/pyramid/viewer_page.h"
#include "operations/pyramid_op.h"
#include "resize/resize_pipeline.h"
#include "ui/metadata_info.h"
#include "ui/window_rules.h"

namespace trelvi::cli {

namespace {

rules::OutputChoice ChoiceOf(const std::string& format) {
  const OutputChoiceRow* row = FindOutputChoice(format);
  return row ? row->Choice : OutputChoices().front().Choice;
}

class Runner {
 public:
  Runner(const Common& common, const Size& rawSize)
      : ui_(ConsoleOptions{common.Overwrite, common.Quiet, rawSize.W, rawSize.H,
                           static_cast<std::uint16_t>(common.Bits)}),
        engine_(ui_),
        common_(common) {
    engine_.InitEngine();
    engine_.SyncOutputs = common.Sync;
    ui_.Attach(engine_);
    engine_.CompressionLevel = common.Level;
  }

  TTrelvi& Engine() { return engine_; }
  ConsoleUi& Ui() { return ui_; }

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

  // kept: the image the outputs were written from. What they lack of its
  // metadata is worth a line, but no failure: the line shows even when
  // quiet, as messages do.
  int Finish(bool written, const TFileInfo* kept = nullptr) {
    ui_.FinishLine();
    written = written && !engine_.Aborted && !InterruptRequested();
    if (written && kept) {
      const std::string warning = rules::MetadataWarning(*kept);
      if (!warning.empty()) std::fprintf(stderr, "%s\n", warning.c_str());
    }
    if (written && !common_.Quiet)
      std::fprintf(stderr, "Operation completed successfully\n");
    if (!written) std::fprintf(stderr, "Operation aborted\n");
    return written ? kWritten : kNotWritten;
  }

 private:
  ConsoleUi ui_;
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
  for (const std::string& line : rules::MetadataInfoLines(in))
    std::printf("%s\n", line.c_str());
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
  // A file of that name may be an older one that the crop left alone.
  return r.Finish(e.OutCommitted && FileExists(e.OutInfo.FileName), &e.InInfo);
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
  return r.Finish(true, &e.InInfo);
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
  // The tile at x1 y1 gave the merged image its metadata.
  return r.Finish(true, &r.Engine().OutInfo);
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
  return r.Finish(e.OutCommitted && FileExists(e.OutInfo.FileName), &e.InInfo);
}

int Pyramid(Runner& r, const Arguments& args) {
  if (!r.LoadInput(args.Input)) return r.Finish(false);
  const std::string& outDir = args.Options.OutputDir;
  std::error_code ec;
  if (!outDir.empty() && !std::filesystem::is_directory(outDir, ec)) {
    r.Ui().ShowMessageBox("Output directory doesn't exists");
    return r.Finish(false);
  }
  PyramidRequest request;
  request.OutDir = outDir;
  request.TileSize = args.PyramidTileSize;
  request.Overlap = args.PyramidOverlap;
  request.Format = args.TileFormat == "png" ? pyramid::TileFormat::Png
                                            : pyramid::TileFormat::Jpeg;
  request.Quality = args.Quality;
  request.ViewerScript = DefaultViewerScript();
  if (request.ViewerScript.empty())
    std::fprintf(stderr,
                 "Warning: %s not found; the pyramid is written without its "
                 "page\n",
                 pyramid::kViewerScriptName);
  return r.Finish(PyramidImage(r.Engine(), request));
}

}  // namespace

int RunCommand(const Arguments& args) {
  InstallInterruptHandler();
  Runner runner(args.Options, args.RawSize);
  switch (args.Cmd) {
    case Command::Info:
      return Info(runner, args.Input);
    case Command::Convert:
      return Crop(runner, args.Input, 0, 0, 0, 0, true);
    case Command::Crop:
      return Crop(runner, args.Input, args.X, args.Y, args.Width, args.Height,
                  false);
    case Command::Split:
      return Split(runner, args.Input, args.Tile);
    case Command::Merge:
      return Merge(runner, args.Tiles);
    case Command::Resize:
      return Resize(runner, args.Input, args.ResizeWidth, args.Fast,
                    args.Options);
    case Command::Pyramid:
      return Pyramid(runner, args);
  }
  return kUsage;
}

}  // namespace trelvi::cli
