#include "engine/formats/tiff/strip_writer.h"

#include <tiffio.h>

#include <atomic>
#include <cstring>

#include "engine/formats/tiff/lzw_encoder.h"
#include "engine/formats/tiff/tiff_access.h"

namespace trelvi {

namespace {
std::atomic<int> g_threads{0};

// An in-memory "file" that keeps only what was written since the last
// reset: after one strip is encoded it holds exactly that strip's bytes.
struct Capture {
  std::vector<std::uint8_t> bytes;
  toff_t pos = 0;
  toff_t size = 0;
};

tmsize_t CaptureRead(thandle_t, void*, tmsize_t) { return 0; }
tmsize_t CaptureWrite(thandle_t h, void* data, tmsize_t n) {
  auto* c = static_cast<Capture*>(h);
  const auto* p = static_cast<const std::uint8_t*>(data);
  c->bytes.insert(c->bytes.end(), p, p + n);
  c->pos += static_cast<toff_t>(n);
  if (c->pos > c->size) c->size = c->pos;
  return n;
}
toff_t CaptureSeek(thandle_t h, toff_t off, int whence) {
  auto* c = static_cast<Capture*>(h);
  if (whence == SEEK_SET)
    c->pos = off;
  else if (whence == SEEK_CUR)
    c->pos += off;
  else
    c->pos = c->size + off;
  return c->pos;
}
int CaptureClose(thandle_t) { return 0; }
toff_t CaptureSize(thandle_t h) { return static_cast<Capture*>(h)->size; }
int CaptureMap(thandle_t, void**, toff_t*) { return 0; }
void CaptureUnmap(thandle_t, void*, toff_t) {}
}  // namespace

void SetCompressionThreads(int threads) { g_threads = threads; }

int CompressionThreads() {
  const int set = g_threads.load();
  if (set > 0) return set;
  const unsigned hw = std::thread::hardware_concurrency();
  return hw == 0 ? 1 : static_cast<int>(hw);
}

struct ParallelStripWriter::Slot {
  std::vector<std::uint8_t> raw;
  std::vector<std::uint8_t> packed;
  std::uint32_t row = 0;
  enum State { Free, Queued, Working, Done, Failed } state = Free;
};

struct ParallelStripWriter::Worker {
  Capture capture;
  TIFF* scratch = nullptr;
  // LZW without a predictor: our encoder, which writes libtiff's bytes
  // several times faster; the scratch TIFF is then not needed.
  std::unique_ptr<LzwEncoder> lzw;
  ~Worker() {
    if (scratch) TIFFClose(scratch);
  }
};

std::unique_ptr<ParallelStripWriter> ParallelStripWriter::Create(TIFF* out,
                                                                 int threads) {
  std::uint32_t rps = 0;
  std::uint16_t planar = 0;
  TIFFGetFieldDefaulted(out, TIFFTAG_ROWSPERSTRIP, &rps);
  TIFFGetFieldDefaulted(out, TIFFTAG_PLANARCONFIG, &planar);
  if (threads < 2 || rps != 1 || planar != PLANARCONFIG_CONTIG ||
      TIFFIsTiled(out))
    return nullptr;
  const tmsize_t rowBytes = TIFFScanlineSize(out);
  if (rowBytes <= 0) return nullptr;
  std::unique_ptr<ParallelStripWriter> writer(new ParallelStripWriter(
      out, static_cast<std::size_t>(rowBytes), threads));
  for (const auto& w : writer->workers_)
    if (!w->scratch && !w->lzw) return nullptr;
  return writer;
}

ParallelStripWriter::ParallelStripWriter(TIFF* out, std::size_t rowBytes,
                                         int threads)
    : out_(out), rowBytes_(rowBytes) {
  std::uint32_t width = 0;
  std::uint16_t bits = 0, spp = 0, compression = 0, photometric = 0;
  TIFFGetField(out, TIFFTAG_IMAGEWIDTH, &width);
  TIFFGetField(out, TIFFTAG_BITSPERSAMPLE, &bits);
  TIFFGetField(out, TIFFTAG_SAMPLESPERPIXEL, &spp);
  TIFFGetField(out, TIFFTAG_COMPRESSION, &compression);
  TIFFGetFieldDefaulted(out, TIFFTAG_PHOTOMETRIC, &photometric);
  std::uint16_t predictor = PREDICTOR_NONE, fillOrder = FILLORDER_MSB2LSB;
  const bool predicts = compression == COMPRESSION_LZW ||
                        compression == COMPRESSION_ADOBE_DEFLATE ||
                        compression == COMPRESSION_DEFLATE ||
                        compression == COMPRESSION_ZSTD;
  if (predicts) TIFFGetFieldDefaulted(out, TIFFTAG_PREDICTOR, &predictor);
  if (compression == COMPRESSION_LZW)
    TIFFGetFieldDefaulted(out, TIFFTAG_FILLORDER, &fillOrder);
  // The codec's level, so that each strip is packed as the output's own
  // codec would pack it.
  int zipLevel = 0, zstdLevel = 0;
  if (compression == COMPRESSION_ADOBE_DEFLATE ||
      compression == COMPRESSION_DEFLATE)
    TIFFGetField(out, TIFFTAG_ZIPQUALITY, &zipLevel);
  if (compression == COMPRESSION_ZSTD)
    TIFFGetField(out, TIFFTAG_ZSTD_LEVEL, &zstdLevel);
  const bool ownLzw = compression == COMPRESSION_LZW &&
                      predictor == PREDICTOR_NONE &&
                      fillOrder == FILLORDER_MSB2LSB && !TIFFIsByteSwapped(out);

  InstallTiffHandlers();
  for (int i = 0; i < threads; ++i) {
    auto w = std::make_unique<Worker>();
    if (ownLzw) {
      w->lzw = std::make_unique<LzwEncoder>();
      workers_.push_back(std::move(w));
      continue;
    }
    w->scratch = TIFFClientOpen("strip", "w", &w->capture, CaptureRead,
                                CaptureWrite, CaptureSeek, CaptureClose,
                                CaptureSize, CaptureMap, CaptureUnmap);
    if (w->scratch) {
      TIFFSetField(w->scratch, TIFFTAG_IMAGEWIDTH, width);
      TIFFSetField(w->scratch, TIFFTAG_IMAGELENGTH, 1);
      TIFFSetField(w->scratch, TIFFTAG_BITSPERSAMPLE, bits);
      TIFFSetField(w->scratch, TIFFTAG_SAMPLESPERPIXEL, spp);
      TIFFSetField(w->scratch, TIFFTAG_ROWSPERSTRIP, 1);
      TIFFSetField(w->scratch, TIFFTAG_COMPRESSION, compression);
      TIFFSetField(w->scratch, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
      TIFFSetField(w->scratch, TIFFTAG_PHOTOMETRIC, photometric);
      if (predictor != PREDICTOR_NONE)
        TIFFSetField(w->scratch, TIFFTAG_PREDICTOR, predictor);
      if (zipLevel != 0) TIFFSetField(w->scratch, TIFFTAG_ZIPQUALITY, zipLevel);
      if (zstdLevel != 0)
        TIFFSetField(w->scratch, TIFFTAG_ZSTD_LEVEL, zstdLevel);
    }
    workers_.push_back(std::move(w));
  }
  // Enough rows in flight to keep every worker busy while the caller reads.
  const std::size_t slots = static_cast<std::size_t>(threads) * 4;
  for (std::size_t i = 0; i < slots; ++i) {
    auto s = std::make_unique<Slot>();
    s->raw.resize(rowBytes_);
    slots_.push_back(std::move(s));
  }
  for (auto& w : workers_) {
    if (!w->scratch && !w->lzw) return;
  }
  for (auto& w : workers_)
    threads_.emplace_back([this, worker = w.get()] { WorkerLoop(*worker); });
}

ParallelStripWriter::~ParallelStripWriter() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  work_.notify_all();
  for (auto& t : threads_) t.join();
}

void ParallelStripWriter::WorkerLoop(Worker& worker) {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    Slot* slot = nullptr;
    work_.wait(lock, [&] {
      if (stop_) return true;
      for (auto& s : slots_)
        if (s->state == Slot::Queued) {
          slot = s.get();
          return true;
        }
      return false;
    });
    if (!slot) return;
    slot->state = Slot::Working;
    lock.unlock();

    bool ok = true;
    if (worker.lzw) {
      worker.lzw->Encode(slot->raw.data(), rowBytes_, slot->packed);
    } else {
      worker.capture.bytes.clear();
      const tmsize_t n =
          TIFFWriteEncodedStrip(worker.scratch, 0, slot->raw.data(),
                                static_cast<tmsize_t>(rowBytes_));
      ok = n >= 0;
      if (ok) slot->packed.swap(worker.capture.bytes);
    }

    lock.lock();
    slot->state = ok ? Slot::Done : Slot::Failed;
    done_.notify_all();
  }
}

void ParallelStripWriter::WriteReady(std::unique_lock<std::mutex>& lock,
                                     bool wait) {
  while (written_ < submitted_) {
    Slot& slot = *slots_[written_ % slots_.size()];
    if (wait)
      done_.wait(lock, [&] {
        return slot.state == Slot::Done || slot.state == Slot::Failed;
      });
    if (slot.state == Slot::Failed) failed_ = true;
    if (slot.state != Slot::Done && slot.state != Slot::Failed) return;
    if (slot.state == Slot::Done && !failed_) {
      // Only this thread touches the output handle.
      lock.unlock();
      const tmsize_t n =
          TIFFWriteRawStrip(out_, slot.row, slot.packed.data(),
                            static_cast<tmsize_t>(slot.packed.size()));
      lock.lock();
      if (n != static_cast<tmsize_t>(slot.packed.size())) failed_ = true;
    }
    slot.state = Slot::Free;
    ++written_;
    wait = false;  // write what is ready, but wait only for the first
  }
}

bool ParallelStripWriter::Submit(std::uint32_t row, const std::uint8_t* data) {
  std::unique_lock<std::mutex> lock(mutex_);
  WriteReady(lock, false);
  // The ring is full: the oldest row must be written before its slot is reused.
  while (submitted_ - written_ >= slots_.size()) WriteReady(lock, true);
  if (failed_) return false;
  Slot& slot = *slots_[submitted_ % slots_.size()];
  lock.unlock();
  std::memcpy(slot.raw.data(), data, rowBytes_);
  lock.lock();
  slot.row = row;
  slot.state = Slot::Queued;
  ++submitted_;
  work_.notify_one();
  return true;
}

bool ParallelStripWriter::Finish() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (written_ < submitted_) WriteReady(lock, true);
  return !failed_;
}

}  // namespace trelvi
