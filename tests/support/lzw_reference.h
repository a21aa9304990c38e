#pragma once

// libtiff's own LZW as the oracle for ours: strips encoded by libtiff's
// codec through a one-strip TIFF held in memory, and strips of ours decoded
// by it. Header-only, as the fuzz targets use it too.

#include <tiffio.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace trelvi::test {

// A TIFF "file" in memory that libtiff writes and then reads back.
class MemTiff {
 public:
  std::vector<std::uint8_t> Bytes;

  TIFF* Open(const char* mode) {
    pos_ = 0;
    return TIFFClientOpen("mem", mode, this, Read, Write, Seek, Close, Size,
                          Map, Unmap);
  }

 private:
  toff_t pos_ = 0;

  static tmsize_t Read(thandle_t h, void* data, tmsize_t n) {
    auto* m = static_cast<MemTiff*>(h);
    if (m->pos_ >= m->Bytes.size()) return 0;
    const auto take =
        std::min<toff_t>(static_cast<toff_t>(n), m->Bytes.size() - m->pos_);
    std::memcpy(data, m->Bytes.data() + m->pos_, take);
    m->pos_ += take;
    return static_cast<tmsize_t>(take);
  }
  static tmsize_t Write(thandle_t h, void* data, tmsize_t n) {
    auto* m = static_cast<MemTiff*>(h);
    const toff_t end = m->pos_ + static_cast<toff_t>(n);
    if (end > m->Bytes.size()) m->Bytes.resize(end);
    std::memcpy(m->Bytes.data() + m->pos_, data, static_cast<size_t>(n));
    m->pos_ = end;
    return n;
  }
  static toff_t Seek(thandle_t h, toff_t off, int whence) {
    auto* m = static_cast<MemTiff*>(h);
    if (whence == SEEK_SET)
      m->pos_ = off;
    else if (whence == SEEK_CUR)
      m->pos_ += off;
    else
      m->pos_ = m->Bytes.size() + off;
    return m->pos_;
  }
  static int Close(thandle_t) { return 0; }
  static toff_t Size(thandle_t h) {
    return static_cast<MemTiff*>(h)->Bytes.size();
  }
  static int Map(thandle_t, void**, toff_t*) { return 0; }
  static void Unmap(thandle_t, void*, toff_t) {}
};

// Tags of a one-strip, one-row grey image of n bytes with `bits`-bit
// samples (n a multiple of bits / 8), LZW without a predictor.
inline void SetOneStripTags(TIFF* tif, std::size_t n, int bits) {
  const auto width = static_cast<std::uint32_t>(n / (bits / 8));
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, 1);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, bits);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 1);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
}

// libtiff's LZW strip for the n bytes at data (bits 8 or 16; for 16, the
// samples as stored, least significant byte first on this machine). Empty
// when libtiff failed.
inline std::vector<std::uint8_t> LibtiffLzwStrip(const std::uint8_t* data,
                                                 std::size_t n, int bits) {
  MemTiff mem;
  TIFF* w = mem.Open("w");
  if (!w) return {};
  SetOneStripTags(w, n, bits);
  std::vector<std::uint8_t> copy(data, data + n);  // libtiff may modify it
  const bool ok =
      TIFFWriteEncodedStrip(w, 0, copy.data(), static_cast<tmsize_t>(n)) >= 0;
  TIFFClose(w);
  if (!ok) return {};
  TIFF* r = mem.Open("r");
  if (!r) return {};
  std::vector<std::uint8_t> strip;
  const tmsize_t size = TIFFRawStripSize(r, 0);
  if (size > 0) {
    strip.resize(static_cast<std::size_t>(size));
    if (TIFFReadRawStrip(r, 0, strip.data(), size) != size) strip.clear();
  }
  TIFFClose(r);
  return strip;
}

// The n bytes libtiff decodes from an LZW strip, written into a TIFF as it
// is. Empty when libtiff failed.
inline std::vector<std::uint8_t> LibtiffLzwDecode(
    const std::vector<std::uint8_t>& strip, std::size_t n, int bits) {
  MemTiff mem;
  TIFF* w = mem.Open("w");
  if (!w) return {};
  SetOneStripTags(w, n, bits);
  std::vector<std::uint8_t> copy(strip);
  const bool ok = TIFFWriteRawStrip(w, 0, copy.data(),
                                    static_cast<tmsize_t>(copy.size())) ==
                  static_cast<tmsize_t>(copy.size());
  TIFFClose(w);
  if (!ok) return {};
  TIFF* r = mem.Open("r");
  if (!r) return {};
  std::vector<std::uint8_t> rows(n);
  const bool read =
      TIFFReadEncodedStrip(r, 0, rows.data(), static_cast<tmsize_t>(n)) ==
      static_cast<tmsize_t>(n);
  TIFFClose(r);
  if (!read) rows.clear();
  return rows;
}

}  // namespace trelvi::test
