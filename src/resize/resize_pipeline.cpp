#include "resize/resize_pipeline.h"

#include <cmath>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "engine/naming.h"
#include "engine/utils.h"
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

void TResizePipeline::Fail(const std::string& text) {
  engine_.DoError(text);
  engine_.Aborted = true;
}

void TResizePipeline::Refuse(const std::string& text) {
  engine_.Ui().ShowMessageDialog(text, MsgIcon::Error, MsgButtons::Ok);
  engine_.Aborted = true;
}

// The tile workers of a pass: up to a number of them at a time, each on a
// thread of its own, polled from the calling thread, which keeps the window
// alive in between.
class TResizePipeline::TTileWorkers {
 public:
  // One call per worker that has ended: the worker and the tile it was
  // started with. The worker is gone afterwards.
  using Done = std::function<void(const TRawResize& worker, std::size_t tile)>;

  TTileWorkers(const TResizeParams& params, std::chrono::milliseconds poll,
               long double divider, int bits, int slots)
      : params_(params),
        poll_(poll),
        divider_(divider),
        bits_(bits),
        slots_(static_cast<std::size_t>(std::max(slots, 1))) {}

  bool HasFreeSlot() const {
    for (const Slot& slot : slots_)
      if (!slot.Worker) return true;
    return false;
  }

  bool Idle() const {
    for (const Slot& slot : slots_)
      if (slot.Worker) return false;
    return true;
  }

  // Starts a worker on the file in a free slot; its result goes to
  // outFolder, or beside the file. False when none could be started.
  bool Start(const std::string& source, std::size_t tile,
             const std::string& outFolder = std::string()) {
    for (Slot& slot : slots_) {
      if (slot.Worker) continue;
      try {
        auto worker = std::make_unique<TRawResize>();
        worker->ScaleOptions = params_.Scale;
        worker->Init(source, divider_, params_.FastMethod, bits_, outFolder);
        worker->Start();
        slot.Worker = std::move(worker);
      } catch (...) {
        return false;
      }
      slot.Tile = tile;
      return true;
    }
    return false;
  }

  // Sleeps up to one poll interval, less when a worker ends meanwhile.
  void Wait() const {
    const auto until = std::chrono::steady_clock::now() + poll_;
    for (;;) {
      for (const Slot& slot : slots_)
        if (slot.Worker && slot.Worker->Finished()) return;
      const auto now = std::chrono::steady_clock::now();
      if (now >= until) return;
      std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
          until - now, std::chrono::milliseconds(2)));
    }
  }

  // Hands every worker that has ended to done, in slot order.
  void Collect(const Done& done) {
    for (Slot& slot : slots_) {
      if (!slot.Worker || !slot.Worker->Finished()) continue;
      slot.Worker->WaitFor();
      const std::unique_ptr<TRawResize> worker = std::move(slot.Worker);
      done(*worker, slot.Tile);
    }
  }

  // Until every worker has ended: waits, lets between run, collects.
  void Drain(const std::function<void()>& between, const Done& done) {
    while (!Idle()) {
      Wait();
      between();
      Collect(done);
    }
  }

 private:
  struct Slot {
    std::unique_ptr<TRawResize> Worker;
    std::size_t Tile = 0;
  };
  const TResizeParams& params_;
  const std::chrono::milliseconds poll_;
  const long double divider_;
  const int bits_;
  std::vector<Slot> slots_;
};

// Checks, before anything is changed; sets up the output and temporary
// folders.
bool TResizePipeline::Checked() {
  TTrelvi& e = engine_;
  if (!FileExists(e.InInfo.FileName) || !e.InInfo.ImageIsOk) {
    Fail("File not found or bad file!");
    return false;
  }
  rules::SetOutputType(e, params_.Output);
  outFolder_ = rules::GetOutputFolder(params_.OutputFolder, e.InInfo.FileName);
  if (SameFolder(rules::GetOutputFolder("", e.InInfo.FileName), outFolder_) &&
      e.InInfo.ImageType == e.OutInfo.ImageType) {
    Refuse("Cannot overwrite input file");
    return false;
  }
  if (e.InInfo.Width < 10000 && e.InInfo.Height < 10000) {
    Refuse("Width and height of the input file must be > 10000");
    return false;
  }
  tempDir_ = outFolder_ + kTempDirName +
             static_cast<char>(fs::path::preferred_separator);
  return TakeTempDir();
}

// The temporary folder is this run's alone while it holds the folder's
// lock. One that nobody holds was left by a run that did not survive: what
// it holds is of no use and is cleared before the run starts.
bool TResizePipeline::TakeTempDir() {
  TTrelvi& e = engine_;
  std::error_code ec;
  if (!fs::is_directory(tempDir_, ec) && !fs::create_directory(tempDir_, ec)) {
    Refuse("Cannot create the temporary directory " + tempDir_);
    return false;
  }
  if (!tempLock_.Acquire(tempDir_)) {
    Refuse(FolderInUse(tempDir_)
               ? "The temporary directory " + tempDir_ +
                     " is in use by another resize"
               : "Cannot create the temporary directory " + tempDir_);
    return false;
  }
  if (!fs::is_empty(tempDir_, ec)) {
    e.DoStatus("Removing temporary files of an earlier run...");
    for (const auto& entry : fs::directory_iterator(tempDir_, ec))
      fs::remove_all(entry.path(), ec);
    if (!fs::is_empty(tempDir_, ec)) {
      tempLock_.Release();
      Refuse("Cannot remove the temporary files in " + tempDir_);
      return false;
    }
  }
  return true;
}

void TResizePipeline::DoResize(const TResizeParams& params) {
  TTrelvi& e = engine_;
  params_ = params;
  if (!Checked()) return;

  if (OnDisableButtons) OnDisableButtons();
  savedInput_ = e.InInfo;
  // The temporary images keep nothing; the final output gets the input's
  // metadata back (LastPass).
  e.InInfo.Metadata.reset();
  // The temporary files are worth no flush to the disk: a run that does
  // not survive leaves them to the next run to clear.
  syncOutputs_ = e.SyncOutputs;
  e.SyncOutputs = false;
  const TResizePlan plan =
      PlanResize(e.InInfo.Width, e.InInfo.Height, params_.NewW, params_.NewH,
                 params_.FastMethod);
  // Each step starts from the image the plan expects; anything else would
  // be cut along the wrong lines. A plan is invalid only after a pass that
  // leaves a tile empty, which fails on its own: both are safeguards. The
  // image in hand then goes, unless it is the user's.
  auto asPlanned = [&](std::uint32_t w, std::uint32_t h, bool valid = true) {
    if (valid && e.InInfo.Width == w && e.InInfo.Height == h) return true;
    Fail("Error resizing the image");
    if (e.InInfo.FileName != savedInput_.FileName) Delete(e.InInfo.FileName);
    return false;
  };
  for (std::size_t i = 0; i < plan.Passes.size() && !e.Aborted; ++i) {
    const TPassPlan& pass = plan.Passes[i];
    if (asPlanned(pass.W, pass.H)) TiledPass(pass, i > 0);
  }
  if (!e.Aborted) {
    const std::uint32_t w =
        plan.Passes.empty() ? savedInput_.Width : plan.Passes.back().OutW;
    const std::uint32_t h =
        plan.Passes.empty() ? savedInput_.Height : plan.Passes.back().OutH;
    if (asPlanned(w, h, plan.Valid)) LastPass(plan);
  }

  // The engine describes the user's input again, whatever happened.
  e.InInfo = savedInput_;
  e.SyncOutputs = syncOutputs_;
  if (OnEnableButtons) OnEnableButtons();
  deleter_->Finish();
  std::error_code ec;
  fs::remove(tempDir_, ec);  // fails harmlessly if something was left
  tempLock_.Release();
  // The tile memory kept between tiles goes back to the system.
  TrimPixelCache();
}

// Cuts the current image into tiles, resizes and joins them; the joined
// image becomes the current one. The image the pass started from goes
// when deleteStart is set: a joined image of the previous pass, never the
// user's input.
void TResizePipeline::TiledPass(const TPassPlan& pass, bool deleteStart) {
  TTrelvi& e = engine_;
  std::vector<std::string> sources, resized;
  e.OutInfo.ImageType = FileType::RAW;
  e.SplitImage(pass.Grid.TileW, pass.Grid.TileH, sources, tempDir_, "Step 1/4");
  if (!e.Aborted) ResizePass(pass, sources, resized);
  for (const std::string& name : resized) Delete(name);
  if (e.Aborted)
    for (const std::string& name : sources) Delete(name);
  if (deleteStart) Delete(e.InInfo.FileName);
  // The next pass may make files of the names just handed over: a tile of
  // this pass's result can share its size and position with a resized
  // tile of this pass.
  deleter_->Finish();
  if (e.Aborted) return;
  e.InInfo = e.OutInfo;
  e.InInfo.ImageIsOk = true;
  e.InInfo.ImageTypeDesc = "RAW";
  e.InInfo.FileSize = FileSizeByName(e.InInfo.FileName);
}

void TResizePipeline::ResizePass(const TPassPlan& pass,
                                 const std::vector<std::string>& sources,
                                 std::vector<std::string>& resized) {
  TTrelvi& e = engine_;
  const std::size_t count = sources.size();
  e.DoShowProgress(static_cast<std::int32_t>(2 * count), "Step 2/4");
  TTileWorkers workers(params_, PollInterval, pass.Divider, e.InInfo.Bits,
                       params_.NumOfCores);
  std::size_t next = 0;
  std::int32_t progress = 0;

  while (!e.Aborted) {
    e.DoStatus("Resizing tile " + std::to_string(next) + "/" +
               std::to_string(count));
    e.Ui().ProcessEvents();
    if (e.Aborted) break;

    while (next < count && workers.HasFreeSlot() && !e.Aborted) {
      if (!workers.Start(sources[next], next)) {
        Fail("Error creating the resizer thread");
        break;
      }
      ++next;
      e.DoUpdateProgress(++progress);
    }
    workers.Wait();
    if (next >= count && workers.Idle()) break;

    workers.Collect([&](const TRawResize& worker, std::size_t tile) {
      Delete(sources[tile]);
      // A worker that wrote nothing failed too: the merge would miss a tile.
      if (worker.Error || worker.OutFileName.empty()) {
        if (!e.Aborted) e.DoError("Error resizing the image");
        e.Aborted = true;
        Delete(worker.OutFileName);
        return;
      }
      resized.push_back(worker.OutFileName);
      e.DoUpdateProgress(++progress);
    });
  }
  if (e.Aborted) {
    e.DoStatus("Killing processes...");
    // Running workers finish their tile; whatever they leave goes.
    workers.Drain([&] { e.Ui().ProcessEvents(); },
                  [&](const TRawResize& worker, std::size_t tile) {
                    Delete(sources[tile]);
                    Delete(worker.OutFileName);
                  });
  }
  e.DoHideProgress();

  if (!e.Aborted)
    e.MergeTiles(pass.Grid.Cols, pass.Grid.Rows, resized, tempDir_, "Step 3/4");
}

// Copies the whole current image into the folder, in the output type set.
// A declined overwrite or a failed creation writes nothing: that, like a
// failed copy, aborts the run, and the answer is false.
bool TResizePipeline::CopyWhole(const std::string& folder,
                                const std::string& step) {
  TTrelvi& e = engine_;
  e.OutInfo.FileName.clear();
  e.CropImage(0, 0, static_cast<std::int32_t>(e.InInfo.Width),
              static_cast<std::int32_t>(e.InInfo.Height), folder, step);
  if (!e.Aborted && e.OutCommitted && FileExists(e.OutInfo.FileName))
    return true;
  e.Aborted = true;
  return false;
}

// Writes an input that a worker cannot read by its name (a TIFF or KRO
// file, or a RAW file sized through the dialog) as a size-named RAW file
// into the temporary folder, and makes it the current image.
bool TResizePipeline::MakeWorkerReadable() {
  TTrelvi& e = engine_;
  if (WorkerReads(e.InInfo)) return true;
  e.OutInfo.ImageType = FileType::RAW;
  e.UseLzw = false;
  e.OutCodec = Compression::None;
  if (!CopyWhole(tempDir_, "Step 1/4")) {
    Delete(e.OutInfo.FileName);
    return false;
  }
  e.InInfo.FileName = e.OutInfo.FileName;
  e.ReadRawInfo(false);
  if (!e.InInfo.ImageIsOk) {
    e.Aborted = true;
    return false;
  }
  return true;
}

// Resizes the current image by divider on one worker; the result becomes
// the current image. It goes to the temporary folder, never beside the
// user's input, where it could replace a file of the same name.
bool TResizePipeline::ResizeWhole(long double divider) {
  TTrelvi& e = engine_;
  TTileWorkers worker(params_, PollInterval, divider, e.InInfo.Bits, 1);
  if (!worker.Start(e.InInfo.FileName, 0, tempDir_)) {
    Fail("Error creating the resizer thread");
    return false;
  }
  bool resized = false;
  worker.Drain([&] { e.Ui().ProcessEvents(); },
               [&](const TRawResize& done, std::size_t) {
                 if (done.Error || done.OutFileName.empty()) {
                   Fail("Error resizing the image");
                   return;
                 }
                 if (e.InInfo.FileName != savedInput_.FileName)
                   Delete(e.InInfo.FileName);
                 e.InInfo.FileName = done.OutFileName;
                 e.ReadRawInfo(false);
                 resized = true;
               });
  return resized;
}

void TResizePipeline::LastPass(const TResizePlan& plan) {
  TTrelvi& e = engine_;
  if (!plan.LastResize ||
      (MakeWorkerReadable() && ResizeWhole(plan.LastDivider))) {
    rules::SetOutputType(e, params_.Output);
    e.InInfo.Metadata = savedInput_.Metadata;
    e.SyncOutputs = syncOutputs_;
    CopyWhole(outFolder_, "Step 4/4");
    e.SyncOutputs = false;
  }
  if (e.InInfo.FileName != savedInput_.FileName) Delete(e.InInfo.FileName);
}

}  // namespace trelvi
