#include "operations/pyramid/pyramid_builder.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <new>
#include <system_error>

#include "operations/pyramid/dzi_layout.h"

namespace trelvi::pyramid {

namespace {

// Rounded to nearest, halves up, in integers: (a + b + c + d + 2) / 4 for
// four pixels, (a + b + 1) / 2 for two. Per channel count so the compiler
// sees fixed strides.
template <int C>
void HalveTwoRows(const std::uint8_t* a, const std::uint8_t* b,
                  std::uint8_t* out, std::uint64_t width) {
  const std::uint64_t pairs = width / 2;
  for (std::uint64_t x = 0; x < pairs; ++x) {
    const std::uint8_t* pa = a + 2 * C * x;
    const std::uint8_t* pb = b + 2 * C * x;
    std::uint8_t* po = out + C * x;
    for (int c = 0; c < C; ++c)
      po[c] = static_cast<std::uint8_t>(
          (unsigned{pa[c]} + pa[C + c] + pb[c] + pb[C + c] + 2) >> 2);
  }
  if (width & 1) {
    const std::uint8_t* pa = a + 2 * C * pairs;
    const std::uint8_t* pb = b + 2 * C * pairs;
    std::uint8_t* po = out + C * pairs;
    for (int c = 0; c < C; ++c)
      po[c] = static_cast<std::uint8_t>((unsigned{pa[c]} + pb[c] + 1) >> 1);
  }
}

// The last row of a level of odd height halves alone.
template <int C>
void HalveOneRow(const std::uint8_t* a, std::uint8_t* out,
                 std::uint64_t width) {
  const std::uint64_t pairs = width / 2;
  for (std::uint64_t x = 0; x < pairs; ++x) {
    const std::uint8_t* pa = a + 2 * C * x;
    std::uint8_t* po = out + C * x;
    for (int c = 0; c < C; ++c)
      po[c] = static_cast<std::uint8_t>((unsigned{pa[c]} + pa[C + c] + 1) >> 1);
  }
  if (width & 1)
    for (int c = 0; c < C; ++c) out[C * pairs + c] = a[2 * C * pairs + c];
}

void Halve(const std::uint8_t* a, const std::uint8_t* b, std::uint8_t* out,
           std::uint64_t width, int channels) {
  switch (channels) {
    case 1:
      return b ? HalveTwoRows<1>(a, b, out, width)
               : HalveOneRow<1>(a, out, width);
    case 2:
      return b ? HalveTwoRows<2>(a, b, out, width)
               : HalveOneRow<2>(a, out, width);
    case 3:
      return b ? HalveTwoRows<3>(a, b, out, width)
               : HalveOneRow<3>(a, out, width);
    default:
      return b ? HalveTwoRows<4>(a, b, out, width)
               : HalveOneRow<4>(a, out, width);
  }
}

std::uint32_t MaxTileSide(const PyramidOptions& o) {
  return o.TileSize + 2 * o.Overlap;
}

unsigned ThreadCount(const PyramidOptions& o) {
  if (o.Threads > 0) return o.Threads;
  return std::max(1u, std::thread::hardware_concurrency());
}

// Enough tiles in flight that every encoder has one while the reader cuts
// the next, and no more: each is a full tile of pixels.
unsigned TileBufferCount(const PyramidOptions& o) {
  return 2 * ThreadCount(o) + 2;
}

std::uint64_t BandRows(const PyramidOptions& o, std::uint64_t levelHeight) {
  return std::min<std::uint64_t>(levelHeight, MaxTileSide(o));
}

}  // namespace

void Convert16To8(const std::uint16_t* in, std::uint8_t* out,
                  std::size_t count) {
  // round(v * 255 / 65535) = round(v / 257) for every 16-bit v, with a
  // shift in place of the division so the loop vectorises.
  for (std::size_t i = 0; i < count; ++i)
    out[i] =
        static_cast<std::uint8_t>((std::uint32_t{in[i]} * 255u + 32895u) >> 16);
}

std::uint64_t PyramidMemoryBytes(const PyramidOptions& o) {
  if (o.Width == 0 || o.Height == 0) return 0;
  std::uint64_t total = 0;
  const int levels = LevelCount(o.Width, o.Height);
  for (int l = 0; l < levels; ++l) {
    const Size s = LevelSize(o.Width, o.Height, l);
    const std::uint64_t row = s.Width * o.Channels;
    total += BandRows(o, s.Height) * row;
    if (l > 0 && s.Height > 1) total += row;
  }
  const std::uint64_t side = MaxTileSide(o);
  const std::uint64_t tile = side * side * o.Channels;
  total += TileBufferCount(o) * tile;
  // Each encoder's output buffer holds a tile's worst case, about the size
  // of its pixels.
  total += ThreadCount(o) * (side * side * 4 + 65536);
  // And libpng's arena (see TileEncoder).
  if (o.Encoding.Format == TileFormat::Png)
    total += ThreadCount(o) * ((1 << 20) + side * o.Channels * 8 +
                               o.Encoding.IccProfile.size() * 2);
  return total;
}

PyramidBuilder::PyramidBuilder(PyramidOptions options)
    : options_(std::move(options)),
      ext_(FormatExtension(options_.Encoding.Format)) {}

PyramidBuilder::~PyramidBuilder() { StopWorkers(); }

bool PyramidBuilder::Fail(const std::string& error) {
  std::lock_guard lock(mutex_);
  if (!failed_) {
    failed_ = true;
    error_ = error;
    failedFlag_ = true;
  }
  bufferFree_.notify_all();
  return false;
}

bool PyramidBuilder::Failed() const { return failedFlag_.load(); }

PyramidResult PyramidBuilder::Result() const {
  std::lock_guard lock(mutex_);
  return {!failed_, error_};
}

std::uint64_t PyramidBuilder::TilesWritten() const {
  std::lock_guard lock(mutex_);
  return written_;
}

bool PyramidBuilder::Start() {
  const PyramidOptions& o = options_;
  if (started_) return Fail("The pyramid was started twice");
  started_ = true;
  if (o.Width == 0 || o.Height == 0 || o.Width > (1ull << 31) ||
      o.Height > (1ull << 31))
    return Fail("Image size out of range");
  if (o.Channels < 1 || o.Channels > 4)
    return Fail("Only 1 to 4 channels of 8 bits make tiles");
  if (o.TileSize < 1 || o.TileSize > 8192 || o.Overlap > o.TileSize)
    return Fail("Tile size or overlap out of range");
  if (o.Encoding.Quality < 1 || o.Encoding.Quality > 100 ||
      o.Encoding.PngLevel < 0 || o.Encoding.PngLevel > 9)
    return Fail("Tile quality out of range");
  std::vector<std::uint8_t> segments;
  if (!JpegIccSegments(o.Encoding.IccProfile, segments))
    return Fail("The colour profile is too large to embed in tiles");

  const int count = LevelCount(o.Width, o.Height);
  levels_.resize(count);
  for (int l = 0; l < count; ++l) {
    Level& lv = levels_[l];
    const Size s = LevelSize(o.Width, o.Height, l);
    lv.Width = s.Width;
    lv.Height = s.Height;
    lv.Columns = TileCount(s.Width, o.TileSize);
    lv.Rows = TileCount(s.Height, o.TileSize);
    lv.RowBytes = static_cast<std::size_t>(s.Width) * o.Channels;
    lv.Band.reset(new (std::nothrow)
                      std::uint8_t[BandRows(o, s.Height) * lv.RowBytes]);
    if (l > 0 && s.Height > 1)
      lv.Pending.reset(new (std::nothrow) std::uint8_t[lv.RowBytes]);
    if (!lv.Band || (l > 0 && s.Height > 1 && !lv.Pending))
      return Fail("Not enough memory for the pyramid");
    lv.BandEnd = TileSpan(s.Height, o.TileSize, o.Overlap, 0).End;
  }

  const std::uint32_t side = MaxTileSide(o);
  tileBytes_ = std::size_t{side} * side * o.Channels;
  const unsigned buffers = TileBufferCount(o);
  tileMemory_.reset(new (std::nothrow) std::uint8_t[buffers * tileBytes_]);
  if (!tileMemory_) return Fail("Not enough memory for the pyramid");
  for (unsigned i = 0; i < buffers; ++i)
    freeBuffers_.push_back(tileMemory_.get() + i * tileBytes_);

  for (int l = 0; l < count; ++l) {
    std::error_code ec;
    const std::filesystem::path dir =
        std::filesystem::path(o.TilesDir) / std::to_string(l);
    std::filesystem::create_directories(dir, ec);
    if (ec)
      return Fail("Cannot create the folder " + dir.string() + ": " +
                  ec.message());
  }

  const unsigned threads = ThreadCount(o);
  try {
    for (unsigned i = 0; i < threads; ++i)
      workers_.emplace_back([this] { Worker(); });
  } catch (const std::system_error&) {
    return Fail("Cannot start the tile encoders");
  }
  return true;
}

std::uint8_t* PyramidBuilder::NextRow() {
  // After a failure a band may not have moved on, so there is no slot.
  if (levels_.empty() || Failed()) return nullptr;
  Level& top = levels_.back();
  if (top.NextRow >= top.Height) return nullptr;
  return top.Band.get() + (top.NextRow - top.BandFirst) * top.RowBytes;
}

bool PyramidBuilder::PushRow(const std::uint8_t* row) {
  if (Failed()) return false;
  std::uint8_t* slot = NextRow();
  if (!slot) {
    return Fail(levels_.empty() ? "The pyramid was not started"
                                : "More rows than the image has");
  }
  std::memcpy(slot, row, levels_.back().RowBytes);
  return CommitRow();
}

bool PyramidBuilder::CommitRow() {
  if (Failed()) return false;
  if (!NextRow())
    return Fail(levels_.empty() ? "The pyramid was not started"
                                : "More rows than the image has");
  Commit(static_cast<int>(levels_.size()) - 1);
  return !Failed();
}

// Takes the row just written into the level's next band slot: halves it
// into the level below when its pair is complete, and cuts the band into
// tiles when this row completes it.
void PyramidBuilder::Commit(int level) {
  Level& lv = levels_[level];
  const std::uint64_t y = lv.NextRow++;
  std::uint8_t* row = lv.Band.get() + (y - lv.BandFirst) * lv.RowBytes;
  if (level > 0) {
    Level& below = levels_[level - 1];
    std::uint8_t* out =
        below.Band.get() + (below.NextRow - below.BandFirst) * below.RowBytes;
    if (y % 2 == 1) {
      Halve(lv.Pending.get(), row, out, lv.Width, options_.Channels);
      Commit(level - 1);
    } else if (y + 1 == lv.Height) {
      Halve(row, nullptr, out, lv.Width, options_.Channels);
      Commit(level - 1);
    } else {
      std::memcpy(lv.Pending.get(), row, lv.RowBytes);
    }
  }
  // With an overlap, the last band can end on the same row as the one
  // before it (a last tile shorter than the overlap), so one row can
  // complete two bands.
  while (lv.TileRow < lv.Rows && y + 1 == lv.BandEnd)
    if (!EmitBand(level)) break;
}

bool PyramidBuilder::EmitBand(int level) {
  Level& lv = levels_[level];
  const PyramidOptions& o = options_;
  const std::uint64_t height = lv.BandEnd - lv.BandFirst;
  for (std::uint64_t c = 0; c < lv.Columns; ++c) {
    const Span x = TileSpan(lv.Width, o.TileSize, o.Overlap, c);
    std::uint8_t* pixels = AcquireTileBuffer();
    if (!pixels) return false;
    const std::size_t tileRow = x.Length() * o.Channels;
    const std::uint8_t* from = lv.Band.get() + x.Begin * o.Channels;
    for (std::uint64_t r = 0; r < height; ++r)
      std::memcpy(pixels + r * tileRow, from + r * lv.RowBytes, tileRow);
    {
      std::lock_guard lock(mutex_);
      jobs_.push_back({level, c, lv.TileRow,
                       static_cast<std::uint32_t>(x.Length()),
                       static_cast<std::uint32_t>(height), pixels});
    }
    jobReady_.notify_one();
  }
  if (lv.TileRow + 1 < lv.Rows) {
    const Span next =
        TileSpan(lv.Height, o.TileSize, o.Overlap, lv.TileRow + 1);
    // The overlap rows the next band shares with this one move to its start.
    const std::uint64_t keep = lv.BandEnd - next.Begin;
    std::memmove(lv.Band.get(),
                 lv.Band.get() + (next.Begin - lv.BandFirst) * lv.RowBytes,
                 keep * lv.RowBytes);
    lv.BandFirst = next.Begin;
    lv.BandEnd = next.End;
  }
  ++lv.TileRow;
  return true;
}

std::uint8_t* PyramidBuilder::AcquireTileBuffer() {
  std::unique_lock lock(mutex_);
  bufferFree_.wait(
      lock, [this] { return !freeBuffers_.empty() || failed_ || stopping_; });
  if (failed_ || stopping_) return nullptr;
  std::uint8_t* buffer = freeBuffers_.back();
  freeBuffers_.pop_back();
  return buffer;
}

void PyramidBuilder::Worker() {
  TileEncoder encoder(options_.Encoding, MaxTileSide(options_),
                      options_.Channels);
  std::string path, error;
  const std::string base = options_.TilesDir + "/";
  for (;;) {
    Job job;
    {
      std::unique_lock lock(mutex_);
      jobReady_.wait(lock, [this] { return !jobs_.empty() || stopping_; });
      if (jobs_.empty()) return;
      job = jobs_.front();
      jobs_.pop_front();
      ++busy_;
    }
    bool ok = true;
    if (!Failed()) {
      path = base;
      path += TilePath(job.Level, job.Column, job.Row, ext_);
      ok = encoder.Encode(job.Pixels, job.Width, job.Height,
                          std::size_t{job.Width} * options_.Channels, error) &&
           encoder.Write(path, error);
      if (!ok && error.rfind("Cannot", 0) != 0)
        error = "Cannot encode " + path + ": " + error;
    }
    {
      std::lock_guard lock(mutex_);
      --busy_;
      freeBuffers_.push_back(job.Pixels);
      if (!ok && !failed_) {
        failed_ = true;
        failedFlag_ = true;
        error_ = error;
      }
      if (ok && !failed_) ++written_;
    }
    bufferFree_.notify_all();
    idle_.notify_all();
  }
}

PyramidResult PyramidBuilder::Finish() {
  if (finished_) return Result();
  if (!started_) Fail("The pyramid was not started");
  if (!levels_.empty() && !Failed()) {
    for (const Level& lv : levels_)
      if (lv.NextRow != lv.Height) {
        Fail("The image ended before its last row");
        break;
      }
  }
  {
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [this] { return jobs_.empty() && busy_ == 0; });
  }
  StopWorkers();
  finished_ = true;
  return Result();
}

void PyramidBuilder::Cancel() {
  if (!finished_ && started_) Fail("Cancelled");
  StopWorkers();
}

void PyramidBuilder::StopWorkers() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    for (const Job& job : jobs_) freeBuffers_.push_back(job.Pixels);
    jobs_.clear();
  }
  jobReady_.notify_all();
  bufferFree_.notify_all();
  for (std::thread& t : workers_) t.join();
  workers_.clear();
}

}  // namespace trelvi::pyramid
