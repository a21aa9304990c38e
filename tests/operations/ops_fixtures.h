#pragma once

#include <string>
#include <vector>

#include "engine/trelvi.h"
#include "support/fixtures.h"

namespace trelvi::test {

// An input image of every readable kind with known pixels.
enum class InputKind { Raw, Kro, Tif };

struct SampleImage {
  std::string FileName;
  std::uint32_t Width = 0, Height = 0;
  int Bits = 8;
  // The RGB pixels every output must hold (16-bit least significant first).
  std::vector<std::uint8_t> Rgb;
};

inline SampleImage MakeInput(const TempDir& dir, InputKind kind,
                             std::uint32_t w, std::uint32_t h, int bits,
                             const std::string& base = "pic") {
  SampleImage img;
  img.Width = w;
  img.Height = h;
  img.Bits = bits;
  const int bps = bits / 8;
  switch (kind) {
    case InputKind::Raw:
      img.Rgb = MakePixels(w, h, 3, bits);
      img.FileName = dir.File(base + "_" + std::to_string(w) + "X" +
                              std::to_string(h) + ".raw");
      WriteBytes(img.FileName, img.Rgb);
      break;
    case InputKind::Kro: {
      const auto rgba = MakePixels(w, h, 4, bits);
      img.Rgb = DropAlpha(rgba, 4, bits);
      img.FileName = dir.File(base + ".kro");
      WriteBytes(img.FileName, MakeKro(w, h, bits, rgba));
      break;
    }
    case InputKind::Tif: {
      TiffSpec spec;
      spec.Width = w;
      spec.Height = h;
      spec.Bits = bits;
      spec.Channels = 4;
      spec.RowsPerStrip = 3;
      const auto rgba = MakePixels(w, h, 4, bits);
      img.Rgb = DropAlpha(rgba, 4, bits);
      img.FileName = dir.File(base + ".tif");
      WriteTiff(img.FileName, spec, rgba);
      break;
    }
  }
  (void)bps;
  return img;
}

// The rectangle of interleaved 3-channel pixels.
inline std::vector<std::uint8_t> Rect(const std::vector<std::uint8_t>& rgb,
                                      std::uint32_t width, int bits,
                                      std::uint32_t x, std::uint32_t y,
                                      std::uint32_t w, std::uint32_t h) {
  const std::size_t px = 3u * static_cast<std::size_t>(bits / 8);
  std::vector<std::uint8_t> out;
  for (std::uint32_t r = y; r < y + h; ++r) {
    const auto start =
        rgb.begin() + (static_cast<std::size_t>(r) * width + x) * px;
    out.insert(out.end(), start, start + w * px);
  }
  return out;
}

// RGB pixels of any output file the operations write (TIFF, RAW or KRO).
inline std::vector<std::uint8_t> OutputPixels(const std::string& fileName,
                                              int bits) {
  const std::string ext = fileName.substr(fileName.rfind('.'));
  if (ext == ".tif") return ReadTiff(fileName).Pixels;
  auto bytes = ReadBytes(fileName);
  if (ext == ".raw") return bytes;
  // KRO: drop the header, swap 16-bit samples back, drop alpha.
  bytes.erase(bytes.begin(), bytes.begin() + 20);
  if (bits == 16)
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
      std::swap(bytes[i], bytes[i + 1]);
  return DropAlpha(bytes, 4, bits);
}

inline void Describe(TTrelvi& engine, const std::string& fileName) {
  engine.InInfo.FileName = fileName;
  engine.ReadInputInfo(false);
}

}  // namespace trelvi::test
