#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/format_table.h"
#include "engine/partial_output.h"
#include "engine/trelvi.h"
#include "resize/imaging/resample.h"

namespace trelvi {

// What a resize run reads from the window (or the command line) when it
// starts.
struct TResizeParams {
  std::int32_t NewW = 1000;  // the wanted width
  // The height that goes with NewW; 0 when none was worked out. It only
  // decides whether an image is already near the target.
  std::int32_t NewH = 0;
  bool FastMethod = false;  // nearest neighbour; false: Lanczos
  // The chosen output folder; empty (or not a folder): beside the input.
  std::string OutputFolder;
  rules::OutputChoice Output = rules::OutputChoice::Tif;
  // Tiles resized at the same time, each on its own worker thread.
  int NumOfCores = 1;
  // How each tile is scaled; by default on every processor.
  TScaleOptions Scale;
};

// ---------------------------------------------------------------------------
// The decisions of a run, as pure functions.

// The tile side for an image side: 10000, or a little more when a remainder
// below 1000 is spread over the columns; never more than the side.
std::uint32_t PassTileSide(std::uint32_t side);

struct TTileGrid {
  std::uint32_t TileW = 0, TileH = 0, Cols = 0, Rows = 0;
};
TTileGrid PassTileGrid(std::uint32_t width, std::uint32_t height);

// The image is within 2 % of the target on one axis, or below it: it is not
// cut into tiles again.
bool NearTarget(std::uint32_t width, std::uint32_t height, std::int32_t newW,
                std::int32_t newH);

// The divider of a tiled pass: 10, 8, 6, 4 or 2, the largest that keeps the
// width at least target; else width / newW.
long double PassDivider(std::uint32_t width, std::int32_t newW,
                        std::int64_t target);

// Whether the last pass resizes the whole image once more, and by what.
bool LastPassResizes(std::uint32_t tileW, std::uint32_t width,
                     std::uint32_t height, std::int32_t newW,
                     long double& divider);

struct TPassPlan {
  std::uint32_t W = 0, H = 0;  // the image the pass starts from
  TTileGrid Grid;
  long double Divider = 0;
  std::uint32_t OutW = 0, OutH = 0;  // the merged result
};
struct TResizePlan {
  std::vector<TPassPlan> Passes;  // the tiled passes
  bool LastResize = false;        // the last pass runs one worker
  long double LastDivider = 0;
  std::uint32_t OutW = 0, OutH = 0;  // the size written
  bool Valid = true;                 // false: some tile would shrink to nothing
};
// The passes a run makes on an image, worked out without touching a file.
TResizePlan PlanResize(std::uint32_t width, std::uint32_t height,
                       std::int32_t newW, std::int32_t newH, bool fast);

// ---------------------------------------------------------------------------

// The multi-pass resize: cuts the engine's input into RAW tiles in a
// temporary folder, resizes them on worker threads, joins them and repeats
// until the image is near the wanted width, then writes it in the chosen
// format. Reports through the engine's hooks and services; the outcome is
// the engine's Aborted flag. The engine describes the user's input again
// afterwards.
class TResizePipeline {
 public:
  explicit TResizePipeline(TTrelvi& engine);
  ~TResizePipeline();
  TResizePipeline(const TResizePipeline&) = delete;
  TResizePipeline& operator=(const TResizePipeline&) = delete;

  // The window's own calls around a run; optional.
  std::function<void()> OnDisableButtons;
  std::function<void()> OnEnableButtons;

  // How often workers are polled.
  std::chrono::milliseconds PollInterval{50};

  // Runs the passes that PlanResize gives for the current input.
  void DoResize(const TResizeParams& params);

  // Name of the temporary folder made in the output folder.
  static constexpr const char* kTempDirName = "$$$TEMP$$$RESIZER$$$";

 private:
  class TFileDeleter;
  class TTileWorkers;
  void Delete(const std::string& name);
  // Report, through the engine's error hook or in a dialog, and abort.
  void Fail(const std::string& text);
  void Refuse(const std::string& text);
  bool Checked();
  bool TakeTempDir();
  void TiledPass(const TPassPlan& pass, bool deleteStart);
  void ResizePass(const TPassPlan& pass,
                  const std::vector<std::string>& sources,
                  std::vector<std::string>& resized);
  void LastPass(const TResizePlan& plan);
  bool CopyWhole(const std::string& folder, const std::string& step);
  bool MakeWorkerReadable();
  bool ResizeWhole(long double divider);

  TTrelvi& engine_;
  std::unique_ptr<TFileDeleter> deleter_;
  TResizeParams params_;
  std::string tempDir_;
  FolderLock tempLock_;       // held for the whole run
  bool syncOutputs_ = false;  // the user's choice, for the final output only
  std::string outFolder_;
  TFileInfo savedInput_;
};

}  // namespace trelvi
