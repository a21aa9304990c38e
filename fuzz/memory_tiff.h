#pragma once

// A TIFF held in memory for the metadata fuzz target and its seeds: the
// input bytes are read as a file, and the output is written to a buffer
// instead of the disk.

#include <tiffio.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "engine/formats/tiff/tiff_metadata.h"
#include "engine/image_metadata.h"

namespace trelvi::fuzz {

struct MemoryFile {
  std::vector<std::uint8_t> Bytes;
  std::uint64_t Pos = 0;
};

namespace memory_tiff_detail {
inline tmsize_t Read(thandle_t h, void* into, tmsize_t n) {
  auto* f = static_cast<MemoryFile*>(h);
  if (n <= 0 || f->Pos >= f->Bytes.size()) return 0;
  const std::uint64_t take = std::min<std::uint64_t>(
      static_cast<std::uint64_t>(n), f->Bytes.size() - f->Pos);
  std::memcpy(into, f->Bytes.data() + f->Pos, static_cast<std::size_t>(take));
  f->Pos += take;
  return static_cast<tmsize_t>(take);
}
inline tmsize_t Write(thandle_t h, void* data, tmsize_t n) {
  auto* f = static_cast<MemoryFile*>(h);
  if (n < 0) return -1;
  // A write far past the end is a fault, not a reason to allocate.
  if (f->Pos > (std::uint64_t{1} << 30)) return -1;
  const std::uint64_t end = f->Pos + static_cast<std::uint64_t>(n);
  if (end > f->Bytes.size()) f->Bytes.resize(static_cast<std::size_t>(end));
  std::memcpy(f->Bytes.data() + f->Pos, data, static_cast<std::size_t>(n));
  f->Pos = end;
  return n;
}
inline toff_t Seek(thandle_t h, toff_t off, int whence) {
  auto* f = static_cast<MemoryFile*>(h);
  std::uint64_t base = 0;
  if (whence == SEEK_CUR) base = f->Pos;
  if (whence == SEEK_END) base = f->Bytes.size();
  f->Pos = base + off;
  return f->Pos;
}
inline int Close(thandle_t) { return 0; }
inline toff_t Size(thandle_t h) {
  return static_cast<MemoryFile*>(h)->Bytes.size();
}
inline int Map(thandle_t, void**, toff_t*) { return 0; }
inline void Unmap(thandle_t, void*, toff_t) {}
}  // namespace memory_tiff_detail

// libtiff reads the header from where the file stands: open from the start.
inline TIFF* OpenMemoryTiff(MemoryFile& file, const char* mode) {
  // libtiff's complaints about fuzzed bytes are noise and cost time.
  TIFFSetWarningHandler(nullptr);
  TIFFSetErrorHandler(nullptr);
  file.Pos = 0;
  namespace d = memory_tiff_detail;
  return TIFFClientOpen("memory", mode, &file, d::Read, d::Write, d::Seek,
                        d::Close, d::Size, d::Map, d::Unmap);
}

// Writes a 1 × 1 RGB image carrying the metadata, as an output is created.
inline bool WriteMetadataTiff(MemoryFile& file, const ImageMetadata& m,
                              const char* mode) {
  TIFF* t = OpenMemoryTiff(file, mode);
  if (!t) return false;
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, 1);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, 1);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 3);
  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 1);
  TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
  TIFFSetField(t, TIFFTAG_XRESOLUTION, 240.0);
  TIFFSetField(t, TIFFTAG_YRESOLUTION, 240.0);
  TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
  bool ok = WriteTiffMetadata(t, m, 1, 1);
  std::uint8_t pixel[3] = {1, 2, 3};
  if (ok && TIFFWriteScanline(t, pixel, 0, 0) != 1) ok = false;
  if (TIFFFlush(t) != 1) ok = false;
  TIFFClose(t);
  return ok;
}

// Seeds for the metadata target: every kind of metadata in the three
// layouts an input may have.
inline std::vector<std::vector<std::uint8_t>> MetadataSeeds() {
  ImageMetadata m;
  m.IccProfile.assign(200, 0x11);
  const char xmp[] = "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"/>";
  m.Xmp.assign(xmp, xmp + sizeof xmp - 1);
  m.Iptc = {0x1C, 0x02, 0x05, 0x00, 0x03, 'a', 'b', 'c'};
  m.Orientation = 3;
  m.Artist = "artist";
  m.Make = "make";
  m.Resolution = {true, 300, 300, ResolutionUnit::Centimetre};
  m.Exif = {
      {33434, kTiffRational, 1, {1, 0, 0, 0, 250, 0, 0, 0}},
      {36864, kTiffUndefined, 4, {'0', '2', '3', '1'}},
      {37510, kTiffUndefined, 9, {'A', 'S', 'C', 'I', 'I', 0, 0, 0, 'x'}},
      {kExifPixelXDimension, kTiffShort, 1, {1, 0}},
      {kExifPixelYDimension, kTiffLong, 1, {1, 0, 0, 0}},
  };
  m.Gps = {
      {0, kTiffByte, 4, {2, 3, 0, 0}},
      {1, kTiffAscii, 2, {'N', 0}},
      {2, kTiffRational, 3, {48, 0, 0, 0, 1, 0, 0, 0, 51,  0, 0, 0,
                             1,  0, 0, 0, 1, 1, 0, 0, 100, 0, 0, 0}},
  };
  std::vector<std::vector<std::uint8_t>> seeds;
  for (const char* mode : {"wl", "wb", "w8", "w8b"}) {
    MemoryFile file;
    if (WriteMetadataTiff(file, m, mode)) seeds.push_back(file.Bytes);
  }
  return seeds;
}

}  // namespace trelvi::fuzz
