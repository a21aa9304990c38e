#include "resize/resize_pipeline.h"

#include <cmath>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "engine/utils.h"
#include "engine/naming.h"
#include "resize/imaging/pixel_memory.h"
#include "resize/raw_resize.h"

namespace trelvi {

namespace fs = std::filesystem;

// ---------------------------------------------------------------------------
// Decisions

std::uint32_t PassTileSide(std::uint32_t side) {
  constexpr std::uint32_t kTile = 10000;
  std::uint32_t tile = kTile;
  const std::uint32_t rest = side % kTile;
  const std::uint32_t n = side / kTile;
  // A thin last column is avoided by spreading the rest over the others.
  if (rest >= 1 && rest <= 999 && n >= 1) tile = kTile + rest / n + 1;
  return std::min(tile, side);
}

namespace {
std::uint32_t TileCount(std::uint32_t side, std::uint32_t tile) {
  if (tile == 0) return 0;
  return side / tile + (side % tile > 0 ? 1 : 0);
}

// The sides of the tiles along one axis, as the split cuts them.
std::vector<std::uint32_t> TileSides(std::uint32_t side, std::uint32_t tile,
                                     std::uint32_t count) {
  std::vector<std::uint32_t> sides(count, tile);
  if (count > 0) sides.back() = side - (count - 1) * tile;
  return sides;
}

// The merged length after each tile is resized on its own; 0 when a tile
// would vanish.
std::uint32_t ResizedTotal(std::uint32_t side, std::uint32_t tile,
                           std::uint32_t count, long double divider) {
  std::int64_t total = 0;
  for (std::uint32_t s : TileSides(side, tile, count)) {
    const std::int64_t r = ResizedLength(s, divider);
    if (r <= 0) return 0;
    total += r;
  }
  return static_cast<std::uint32_t>(total);
}
}  // namespace

TTileGrid PassTileGrid(std::uint32_t width, std::uint32_t height) {
  TTileGrid g;
  g.TileW = PassTileSide(width);
  g.TileH = PassTileSide(height);
  g.Cols = TileCount(width, g.TileW);
  g.Rows = TileCount(height, g.TileH);
  return g;
}

bool NearTarget(std::uint32_t width, std::uint32_t height, std::int32_t newW,
                std::int32_t newH) {
  const std::int64_t w = width, h = height;
  return newW >= w - (w * 2) / 100 || newH >= h - (h * 2) / 100;
}

long double PassDivider(std::uint32_t width, std::int32_t newW,
                        std::int64_t target) {
  std::int64_t n = 10;
  while (static_cast<std::int64_t>(width) / n < target) {
    n -= 2;
    if (n < 2) {
      n = 0;
      break;
    }
  }
  if (n > 0) return static_cast<long double>(n);
  return static_cast<long double>(width) / newW;
}

bool LastPassResizes(std::uint32_t tileW, std::uint32_t width,
                     std::uint32_t height, std::int32_t newW,
                     long double& divider) {
  if (newW <= 0 || static_cast<std::int64_t>(tileW) < newW) return false;
  divider = static_cast<long double>(width) / newW;
  if (!(divider >= 1.0L)) return false;
  const std::int64_t w = ResizedLength(width, divider);
  const std::int64_t h = ResizedLength(height, divider);
  return std::llabs(w - width) > 100 && std::llabs(h - height) > 100;
}

TResizePlan PlanResize(std::uint32_t width, std::uint32_t height,
                       std::int32_t newW, std::int32_t newH, bool fast) {
  TResizePlan plan;
  const std::int64_t target = fast ? newW : 2 * static_cast<std::int64_t>(newW);
  std::uint32_t w = width, h = height;
  for (int guard = 0; guard < 64; ++guard) {
    TTileGrid grid = PassTileGrid(w, h);
    if (NearTarget(w, h, newW, newH)) grid.Cols = grid.Rows = 0;
    if (grid.Cols <= 1 && grid.Rows <= 1) {
      long double divider = 0;
      plan.LastResize = LastPassResizes(PassTileSide(w), w, h, newW, divider);
      plan.OutW = w;
      plan.OutH = h;
      if (plan.LastResize) {
        plan.LastDivider = divider;
        plan.OutW = static_cast<std::uint32_t>(ResizedLength(w, divider));
        plan.OutH = static_cast<std::uint32_t>(ResizedLength(h, divider));
      }
      return plan;
    }
    TPassPlan pass;
    pass.W = w;
    pass.H = h;
    pass.Grid = grid;
    pass.Divider = PassDivider(w, newW, target);
    pass.OutW = ResizedTotal(w, grid.TileW, grid.Cols, pass.Divider);
    pass.OutH = ResizedTotal(h, grid.TileH, grid.Rows, pass.Divider);
    plan.Passes.push_back(pass);
    if (pass.OutW == 0 || pass.OutH == 0) break;
    w = pass.OutW;
    h = pass.OutH;
  }
  plan.Valid = false;
  return plan;
}

// ---------------------------------------------------------------------------
// The run

namespace {

void RemoveFile(const std::string& name) {
  if (name.empty()) return;
  std::error_code ec;
  fs::remove(name, ec);
}

}  // namespace

// Deletes files on a thread of its own. A tile of hundreds of megabytes
// takes a noticeable time to delete, which need not hold up the next tile.
class TResizePipeline::TFileDeleter {
 public:
  ~TFileDeleter() { Finish(); }

  void Add(const std::string& name) {
    if (name.empty()) return;
    {
      std::lock_guard<std::mutex> guard(lock_);
      queue_.push_back(name);
      if (!thread_.joinable()) {
        try {
          thread_ = std::thread([this] { Run(); });
        } catch (const std::system_error&) {
          queue_.pop_back();
          RemoveFile(name);  // no thread: delete it here
          return;
        }
      }
    }
    wake_.notify_one();
  }

  // Returns once every file handed in is gone.
  void Finish() {
    {
      std::lock_guard<std::mutex> guard(lock_);
      stop_ = true;
    }
    wake_.notify_one();
    if (thread_.joinable()) thread_.join();
    stop_ = false;
  }

 private:
  void Run() {
    std::unique_lock<std::mutex> guard(lock_);
    for (;;) {
      wake_.wait(guard, [this] { return stop_ || !queue_.empty(); });
      if (queue_.empty()) return;  // stopping, nothing left
      const std::string name = std::move(queue_.front());
      queue_.pop_front();
      guard.unlock();
      RemoveFile(name);
      guard.lock();
    }
  }

  std::mutex lock_;
  std::condition_variable wake_;
  std::deque<std::string> queue_;
  bool stop_ = false;
  std::thread thread_;
};

namespace {

// Only RAW files whose names carry their size are read by a worker.
bool WorkerReads(const TFileInfo& info) {
  if (info.ImageType != FileType::RAW) return false;
  std::uint32_t w = 0, h = 0;
  GetSizeFromName(info.FileName, w, h);
  return w == info.Width && h == info.Height;
}

// The folders are one and the same, however they are spelled (relative,
// with "..", through a link). During the last step the engine guards only
// the temporary image against being overwritten, so the user's input must
// be protected here.
bool SameFolder(const std::string& a, const std::string& b) {
  if (a == b) return true;
  std::error_code ec;
  const bool same = fs::equivalent(a, b, ec);
  return same && !ec;
}

}  // namespace

TResizePipeline::TResizePipeline(TTrelvi& engine)
    : engine_(engine), deleter_(std::make_unique<TFileDeleter>()) {}

TResizePipeline::~TResizePipeline() = default;

void TResizePipeline::Delete(const std::string& name) { deleter_->Add(name); }

struct TResizePipeline::Slot {
  std::unique_ptr<TRawResize> Worker;
  std::size_t Tile = 0;  // index in the source tiles
};

// Sleeps up to one poll interval, less when a worker finishes meanwhile.
void TResizePipeline::WaitForWorkers(const std::vector<Slot>& slots) const {
  const auto until = std::chrono::steady_clock::now() + PollInterval;
  for (;;) {
    for (const Slot& slot : slots)
      if (slot.Worker && slot.Worker->Finished()) return;
    const auto now = std::chrono::steady_clock::now();
    if (now >= until) return;
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
        until - now, std::chrono::milliseconds(2)));
  }
}

void TResizePipeline::ErrorBox(const std::string& text) {
  engine_.Ui().ShowMessageDialog(text, MsgIcon::Error, MsgButtons::Ok);
}

void TResizePipeline::DoResize(const TResizeParams& params) {
  TTrelvi& e = engine_;
  params_ = params;

  // Checks, before anything is changed.
  if (!FileExists(e.InInfo.FileName) || !e.InInfo.ImageIsOk) {
    e.DoError("File not found or bad file!");
    e.Aborted = true;
    return;
  }
  rules::SetOutputType(e, params_.Output);
  outFolder_ = rules::GetOutputFolder(params_.OutputFolder, e.InInfo.FileName);
  if (SameFolder(rules::GetOutputFolder("", e.InInfo.FileName), outFolder_) &&
      e.InInfo.ImageType == e.OutInfo.ImageType) {
    ErrorBox("Cannot overwrite input file");
    e.Aborted = true;
    return;
  }
  if (e.InInfo.Width < 10000 && e.InInfo.Height < 10000) {
    ErrorBox("Width and height of the input file must be > 10000");
    e.Aborted = true;
    return;
  }
  tempDir_ = outFolder_ + kTempDirName +
             static_cast<char>(fs::path::preferred_separator);
  std::error_code ec;
  if (!fs::is_directory(tempDir_, ec) && !fs::create_directory(tempDir_, ec)) {
    ErrorBox("Cannot create the temporary directory " + tempDir_);
    e.Aborted = true;
    return;
  }

  // Set-up.
  if (OnDisableButtons) OnDisableButtons();
  target_ = params_.FastMethod ? params_.NewW
                               : 2 * static_cast<std::int64_t>(params_.NewW);
  bool firstPassDone = false;
  savedInput_ = e.InInfo;

  for (;;) {
    const std::uint32_t w = e.InInfo.Width, h = e.InInfo.Height;
    TTileGrid grid = PassTileGrid(w, h);
    if (NearTarget(w, h, params_.NewW, params_.NewH)) grid.Cols = grid.Rows = 0;
    if (grid.Cols <= 1 && grid.Rows <= 1) {
      LastPass(grid.TileW);
      break;
    }

    std::vector<std::string> sources, resized;
    e.OutInfo.ImageType = FileType::RAW;
    e.SplitImage(grid.TileW, grid.TileH, sources, tempDir_, "Step 1/4");
    if (!e.Aborted) ResizePass(grid, sources, resized);
    for (const std::string& name : resized) Delete(name);
    if (e.Aborted)
      for (const std::string& name : sources) Delete(name);

    // The image this pass started from: a merged image of the previous pass,
    // or the user's input, which is never deleted.
    if (firstPassDone)
      Delete(e.InInfo.FileName);
    else
      firstPassDone = true;
    // The next pass may make files of the names just handed over: a tile of
    // this pass's result can share its size and position with a resized
    // tile of this pass.
    deleter_->Finish();
    if (e.Aborted) break;
    e.InInfo = e.OutInfo;
    e.InInfo.ImageIsOk = true;
    e.InInfo.ImageTypeDesc = "RAW";
    e.InInfo.FileSize = FileSizeByName(e.InInfo.FileName);
  }

  // The engine describes the user's input again, whatever happened.
  e.InInfo = savedInput_;
  if (OnEnableButtons) OnEnableButtons();
  deleter_->Finish();
  fs::remove(tempDir_, ec);  // fails harmlessly if something was left
  // The tile memory kept between tiles goes back to the system.
  TrimPixelCache();
}

void TResizePipeline::ResizePass(const TTileGrid& grid,
                                 std::vector<std::string>& sources,
                                 std::vector<std::string>& resized) {
  TTrelvi& e = engine_;
  const long double divider =
      PassDivider(e.InInfo.Width, params_.NewW, target_);
  const std::size_t count = sources.size();
  e.DoShowProgress(static_cast<std::int32_t>(2 * count), "Step 2/4");
  std::size_t next = 0;
  std::int32_t progress = 0;
  std::vector<Slot> slots(
      static_cast<std::size_t>(std::max(params_.NumOfCores, 1)));
  auto allEmpty = [&] {
    for (const Slot& s : slots)
      if (s.Worker) return false;
    return true;
  };

  while (!e.Aborted) {
    e.DoStatus("Resizing tile " + std::to_string(next) + "/" +
               std::to_string(count));
    e.Ui().ProcessEvents();
    if (e.Aborted) break;

    for (Slot& slot : slots) {
      if (slot.Worker || next >= count || e.Aborted) continue;
      try {
        auto worker = std::make_unique<TRawResize>();
        worker->ScaleOptions = params_.Scale;
        worker->Init(sources[next], divider, params_.FastMethod, e.InInfo.Bits);
        worker->Start();
        slot.Worker = std::move(worker);
      } catch (...) {
        e.DoError("Error creating the resizer thread");
        e.Aborted = true;
        break;
      }
      slot.Tile = next;
      ++next;
      ++progress;
      e.DoUpdateProgress(progress);
    }
    WaitForWorkers(slots);
    if (next >= count && allEmpty()) break;

    for (Slot& slot : slots) {
      if (!slot.Worker || !slot.Worker->Finished()) continue;
      slot.Worker->WaitFor();
      // A worker that wrote nothing failed too: the merge would miss a tile.
      if (slot.Worker->Error || slot.Worker->OutFileName.empty()) {
        if (!e.Aborted) e.DoError("Error resizing the image");
        e.Aborted = true;
        continue;  // the clean-up below collects it
      }
      resized.push_back(slot.Worker->OutFileName);
      Delete(sources[slot.Tile]);
      slot.Worker.reset();
      ++progress;
      e.DoUpdateProgress(progress);
    }
  }
  if (e.Aborted) {
    e.DoStatus("Killing processes...");
    // Running workers finish their tile; whatever they leave goes.
    while (!allEmpty()) {
      for (Slot& slot : slots) {
        if (!slot.Worker || !slot.Worker->Finished()) continue;
        slot.Worker->WaitFor();
        Delete(sources[slot.Tile]);
        Delete(slot.Worker->OutFileName);
        slot.Worker.reset();
      }
      e.Ui().ProcessEvents();
      if (!allEmpty())
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  e.DoHideProgress();

  if (!e.Aborted)
    e.MergeTiles(grid.Cols, grid.Rows, resized, tempDir_, "Step 3/4");
}

// Writes an input that a worker cannot read by its name (a TIFF or KRO
// file, or a RAW file sized through the dialog) as a size-named RAW file
// into the temporary folder, and makes it the current image.
bool TResizePipeline::MakeWorkerReadable() {
  TTrelvi& e = engine_;
  if (WorkerReads(e.InInfo)) return true;
  e.OutInfo.ImageType = FileType::RAW;
  e.OutInfo.FileName.clear();
  e.UseLzw = false;
  e.CropImage(0, 0, static_cast<std::int32_t>(e.InInfo.Width),
              static_cast<std::int32_t>(e.InInfo.Height), tempDir_, "Step 1/4");
  const std::string written = e.OutInfo.FileName;
  if (e.Aborted || !FileExists(written)) {
    e.Aborted = true;
    Delete(written);
    return false;
  }
  e.InInfo.FileName = written;
  e.ReadRawInfo(false);
  if (!e.InInfo.ImageIsOk) {
    e.Aborted = true;
    return false;
  }
  return true;
}

void TResizePipeline::LastPass(std::uint32_t tileW) {
  TTrelvi& e = engine_;
  long double divider = 0;
  bool writeOutput = true;
  if (LastPassResizes(tileW, e.InInfo.Width, e.InInfo.Height, params_.NewW,
                      divider)) {
    writeOutput = false;
    if (MakeWorkerReadable()) {
      // The result goes to the temporary folder, never beside the user's
      // input, where it could replace a file of the same name.
      TRawResize worker;
      worker.ScaleOptions = params_.Scale;
      worker.Init(e.InInfo.FileName, divider, params_.FastMethod, e.InInfo.Bits,
                  tempDir_);
      bool started = true;
      try {
        worker.Start();
      } catch (...) {
        started = false;
        e.DoError("Error creating the resizer thread");
        e.Aborted = true;
      }
      if (started) {
        while (!worker.Finished()) {
          const auto until = std::chrono::steady_clock::now() + PollInterval;
          while (!worker.Finished() && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
          e.Ui().ProcessEvents();
        }
        worker.WaitFor();
        if (worker.Error || worker.OutFileName.empty()) {
          e.DoError("Error resizing the image");
          e.Aborted = true;
        } else {
          if (e.InInfo.FileName != savedInput_.FileName)
            Delete(e.InInfo.FileName);
          e.InInfo.FileName = worker.OutFileName;
          e.ReadRawInfo(false);
          writeOutput = true;
        }
      }
    }
  }

  if (writeOutput) {
    rules::SetOutputType(e, params_.Output);
    e.OutInfo.FileName.clear();
    e.CropImage(
        0, 0, static_cast<std::int32_t>(e.InInfo.Width),
        static_cast<std::int32_t>(e.InInfo.Height),
        rules::GetOutputFolder(params_.OutputFolder, savedInput_.FileName),
        "Step 4/4");
    // A declined overwrite or a failed creation writes nothing: the run
    // did not produce its result.
    if (!e.Aborted && !FileExists(e.OutInfo.FileName)) e.Aborted = true;
  }
  if (e.InInfo.FileName != savedInput_.FileName) Delete(e.InInfo.FileName);
}

}  // namespace trelvi
