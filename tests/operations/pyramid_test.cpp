#include <gtest/gtest.h>
#include <png.h>
#include <sys/wait.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstring>
#include <filesystem>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "operations/pyramid/dzi_layout.h"
#include "operations/pyramid/pyramid_builder.h"
#include "operations/pyramid/tile_encoder.h"
#include "operations/pyramid/viewer_page.h"
#include "support/fault_injection.h"
#include "support/fixtures.h"

namespace trelvi::test {
namespace {

using namespace trelvi::pyramid;
namespace fs = std::filesystem;

using Bytes = std::vector<std::uint8_t>;

struct Image {
  std::uint64_t Width = 0, Height = 0;
  int Channels = 3;
  Bytes Pixels;
  const std::uint8_t* At(std::uint64_t x, std::uint64_t y) const {
    return Pixels.data() + (y * Width + x) * Channels;
  }
};

Image RandomImage(std::uint64_t w, std::uint64_t h, int channels,
                  unsigned seed) {
  Image img{w, h, channels, Bytes(w * h * channels)};
  std::mt19937 gen(seed);
  for (auto& v : img.Pixels) v = static_cast<std::uint8_t>(gen());
  return img;
}

// Smooth shapes with a little grain, as in a photograph; JPEG's error on
// it is what a user sees, unlike on noise.
Image PhotoLikeImage(std::uint64_t w, std::uint64_t h, int channels) {
  Image img{w, h, channels, Bytes(w * h * channels)};
  std::mt19937 gen(7);
  for (std::uint64_t y = 0; y < h; ++y)
    for (std::uint64_t x = 0; x < w; ++x)
      for (int c = 0; c < channels; ++c) {
        // Detail in brightness, colour changing slowly, as in photographs
        // (and as chroma subsampling assumes).
        const double v = 128 + 60 * std::sin(x * 0.03) +
                         40 * std::cos(y * 0.021) +
                         20 * std::sin((x + y) * 0.004 + 2 * c) +
                         static_cast<int>(gen() % 7) - 3;
        img.Pixels[(y * w + x) * channels + c] =
            static_cast<std::uint8_t>(std::clamp(v, 0.0, 255.0));
      }
  return img;
}

// The level below, by the definition: the mean of the pixels of each 2 x 2
// block that exist, rounded to nearest with halves up.
Image HalveReference(const Image& in) {
  Image out{(in.Width + 1) / 2, (in.Height + 1) / 2, in.Channels, {}};
  out.Pixels.resize(out.Width * out.Height * out.Channels);
  for (std::uint64_t y = 0; y < out.Height; ++y)
    for (std::uint64_t x = 0; x < out.Width; ++x)
      for (int c = 0; c < in.Channels; ++c) {
        unsigned sum = 0, n = 0;
        for (std::uint64_t yy = 2 * y; yy < std::min(2 * y + 2, in.Height);
             ++yy)
          for (std::uint64_t xx = 2 * x; xx < std::min(2 * x + 2, in.Width);
               ++xx) {
            sum += in.At(xx, yy)[c];
            ++n;
          }
        out.Pixels[(y * out.Width + x) * out.Channels + c] =
            static_cast<std::uint8_t>((sum + n / 2) / n);
      }
  return out;
}

// Every level, indexed by level number.
std::vector<Image> ReferenceLevels(const Image& img) {
  std::vector<Image> levels(LevelCount(img.Width, img.Height));
  levels.back() = img;
  for (int l = static_cast<int>(levels.size()) - 2; l >= 0; --l)
    levels[l] = HalveReference(levels[l + 1]);
  return levels;
}

Image Crop(const Image& img, Span xs, Span ys, int channels) {
  Image out{xs.Length(), ys.Length(), channels, {}};
  for (std::uint64_t y = ys.Begin; y < ys.End; ++y)
    for (std::uint64_t x = xs.Begin; x < xs.End; ++x)
      for (int c = 0; c < channels; ++c) out.Pixels.push_back(img.At(x, y)[c]);
  return out;
}

struct PngErr {
  std::jmp_buf Jump;
};
[[noreturn]] void OnPngError(png_structp png, png_const_charp) {
  std::longjmp(static_cast<PngErr*>(png_get_error_ptr(png))->Jump, 1);
}

struct ReadCursor {
  const Bytes* Data;
  std::size_t Pos = 0;
};
void ReadFromBytes(png_structp png, png_bytep out, png_size_t n) {
  auto* cur = static_cast<ReadCursor*>(png_get_io_ptr(png));
  if (cur->Pos + n > cur->Data->size()) png_error(png, "short");
  std::memcpy(out, cur->Data->data() + cur->Pos, n);
  cur->Pos += n;
}

// A PNG file's pixels as stored (8-bit, its own channel count) and its
// embedded profile. Width 0 when it cannot be read.
struct DecodedPng {
  Image Img;
  Bytes Icc;
};
DecodedPng DecodePng(const Bytes& file) {
  DecodedPng result;
  PngErr err;
  png_structp png =
      png_create_read_struct(PNG_LIBPNG_VER_STRING, &err, OnPngError, nullptr);
  png_infop info = png_create_info_struct(png);
  ReadCursor cur{&file};
  if (setjmp(err.Jump)) {
    png_destroy_read_struct(&png, &info, nullptr);
    return {};
  }
  png_set_read_fn(png, &cur, ReadFromBytes);
  png_read_info(png, info);
  const auto w = png_get_image_width(png, info);
  const auto h = png_get_image_height(png, info);
  const int channels = png_get_channels(png, info);
  if (png_get_bit_depth(png, info) != 8) png_error(png, "depth");
  png_charp name;
  int compression;
  png_bytep profile;
  png_uint_32 length;
  if (png_get_iCCP(png, info, &name, &compression, &profile, &length))
    result.Icc.assign(profile, profile + length);
  result.Img = {w, h, channels, Bytes(std::size_t{w} * h * channels)};
  for (png_uint_32 y = 0; y < h; ++y)
    png_read_row(png, result.Img.Pixels.data() + std::size_t{y} * w * channels,
                 nullptr);
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  return result;
}

struct DecodedJpeg {
  Image Img;  // RGB, or grey for a grey JPEG
  int Subsampling = -1;
  int Components = 0;  // as the frame header says
  Bytes Icc;           // reassembled from the APP2 segments
  bool IccChunksValid = true;
};
DecodedJpeg DecodeJpeg(const Bytes& file) {
  DecodedJpeg result;
  // The markers before the scan: frame header and profile chunks.
  std::vector<Bytes> chunks;
  std::size_t pos = 2;
  while (pos + 4 <= file.size() && file[pos] == 0xFF) {
    const int marker = file[pos + 1];
    const std::size_t len = (std::size_t{file[pos + 2]} << 8) | file[pos + 3];
    if (marker == 0xDA) break;
    if (marker == 0xC0 || marker == 0xC1 || marker == 0xC2)
      result.Components = file[pos + 9];
    if (marker == 0xE2 && len >= 16 &&
        std::memcmp(&file[pos + 4], "ICC_PROFILE\0", 12) == 0) {
      const int seq = file[pos + 16], count = file[pos + 17];
      if (chunks.empty()) chunks.resize(count);
      if (seq < 1 || seq > static_cast<int>(chunks.size()) ||
          count != static_cast<int>(chunks.size()) || len - 16 > 65519)
        result.IccChunksValid = false;
      else
        chunks[seq - 1].assign(file.begin() + pos + 18,
                               file.begin() + pos + 2 + len);
    }
    pos += 2 + len;
  }
  for (const Bytes& c : chunks) {
    if (c.empty()) result.IccChunksValid = false;
    result.Icc.insert(result.Icc.end(), c.begin(), c.end());
  }
  tjhandle tj = tjInitDecompress();
  int w = 0, h = 0, subsamp = 0, colorspace = 0;
  if (tjDecompressHeader3(tj, file.data(), file.size(), &w, &h, &subsamp,
                          &colorspace) == 0) {
    const int channels = subsamp == TJSAMP_GRAY ? 1 : 3;
    Image img{std::uint64_t(w), std::uint64_t(h), channels,
              Bytes(std::size_t(w) * h * channels)};
    if (tjDecompress2(tj, file.data(), file.size(), img.Pixels.data(), w, 0, h,
                      channels == 1 ? TJPF_GRAY : TJPF_RGB, 0) == 0) {
      result.Img = std::move(img);
      result.Subsampling = subsamp;
    }
  }
  tjDestroy(tj);
  return result;
}

double Psnr(const Image& a, const Image& b) {
  double se = 0;
  for (std::size_t i = 0; i < a.Pixels.size(); ++i) {
    const double d = double(a.Pixels[i]) - b.Pixels[i];
    se += d * d;
  }
  if (se == 0) return 99;
  return 10 * std::log10(255.0 * 255.0 * a.Pixels.size() / se);
}

Image DropAlphaChannel(const Image& img) {
  const int out = img.Channels == 4 ? 3 : img.Channels == 2 ? 1 : img.Channels;
  Image r{img.Width, img.Height, out, {}};
  for (std::size_t p = 0; p < img.Width * img.Height; ++p)
    for (int c = 0; c < out; ++c)
      r.Pixels.push_back(img.Pixels[p * img.Channels + c]);
  return r;
}

// A profile libpng accepts: a header whose size and signatures are right
// and an empty tag table, padded to `size` bytes.
Bytes MakeIccProfile(std::size_t size) {
  Bytes p(size);
  for (std::size_t i = 132; i < size; ++i) p[i] = static_cast<std::uint8_t>(i);
  p[0] = size >> 24, p[1] = size >> 16, p[2] = size >> 8, p[3] = size;
  std::memcpy(&p[8], "\x02\x10\x00\x00", 4);  // version 2.1
  std::memcpy(&p[12], "mntr", 4);
  std::memcpy(&p[16], "RGB ", 4);
  std::memcpy(&p[20], "XYZ ", 4);
  std::memcpy(&p[36], "acsp", 4);
  // D50 illuminant, as the format requires.
  std::memcpy(&p[68], "\x00\x00\xf6\xd6\x00\x01\x00\x00\x00\x00\xd3\x2d", 12);
  return p;  // tag count at 128 stays 0
}

struct BuildResult {
  PyramidResult Result;
  std::uint64_t Tiles = 0;
};

BuildResult Build(const Image& img, const PyramidOptions& base,
                  const fs::path& dir) {
  PyramidOptions o = base;
  o.Width = img.Width;
  o.Height = img.Height;
  o.Channels = img.Channels;
  o.TilesDir = dir.string();
  PyramidBuilder builder(o);
  if (!builder.Start()) return {builder.Result()};
  for (std::uint64_t y = 0; y < img.Height; ++y)
    if (!builder.PushRow(img.At(0, y))) break;
  BuildResult r{builder.Finish(), builder.TilesWritten()};
  return r;
}

// Every level folder holds exactly the expected tile names; calls `check`
// with each tile's file and the reference pixels it must show.
template <typename Check>
void ForEachTile(const Image& img, const PyramidOptions& o, const fs::path& dir,
                 Check check) {
  const std::vector<Image> levels = ReferenceLevels(img);
  const std::string ext = FormatExtension(o.Encoding.Format);
  std::set<std::string> levelDirs;
  for (const auto& e : fs::directory_iterator(dir))
    levelDirs.insert(e.path().filename().string());
  ASSERT_EQ(levelDirs.size(), levels.size());
  for (int l = 0; l < static_cast<int>(levels.size()); ++l) {
    const Image& level = levels[l];
    const std::uint64_t cols = TileCount(level.Width, o.TileSize);
    const std::uint64_t rows = TileCount(level.Height, o.TileSize);
    std::set<std::string> expected, found;
    for (const auto& e : fs::directory_iterator(dir / std::to_string(l)))
      found.insert(std::to_string(l) + "/" + e.path().filename().string());
    for (std::uint64_t r = 0; r < rows; ++r)
      for (std::uint64_t c = 0; c < cols; ++c) {
        const std::string name = TilePath(l, c, r, ext);
        expected.insert(name);
        const Span xs = TileSpan(level.Width, o.TileSize, o.Overlap, c);
        const Span ys = TileSpan(level.Height, o.TileSize, o.Overlap, r);
        SCOPED_TRACE(name);
        check(ReadBytes((dir / name).string()),
              Crop(level, xs, ys, level.Channels));
      }
    EXPECT_EQ(found, expected) << "level " << l;
  }
}

TEST(DziLayout, LevelsHalveRoundingUpDownToOnePixel) {
  struct Case {
    std::uint64_t W, H;
    int Levels;
  };
  for (const Case& c : std::vector<Case>{{30000, 20000, 16},
                                         {1, 1, 1},
                                         {2, 1, 2},
                                         {1, 1000, 11},
                                         {1024, 3, 11},
                                         {1025, 3, 12},
                                         {150000, 7, 19},
                                         {255, 256, 9}}) {
    SCOPED_TRACE(std::to_string(c.W) + "x" + std::to_string(c.H));
    EXPECT_EQ(LevelCount(c.W, c.H), c.Levels);
    EXPECT_EQ(LevelSize(c.W, c.H, c.Levels - 1), (Size{c.W, c.H}));
    EXPECT_EQ(LevelSize(c.W, c.H, 0), (Size{1, 1}));
    for (int l = c.Levels - 1; l > 0; --l) {
      const Size above = LevelSize(c.W, c.H, l);
      EXPECT_EQ(LevelSize(c.W, c.H, l - 1),
                (Size{(above.Width + 1) / 2, (above.Height + 1) / 2}));
    }
  }
  EXPECT_EQ(LevelSize(30000, 20000, 14), (Size{15000, 10000}));
  EXPECT_EQ(LevelSize(30000, 20000, 8), (Size{235, 157}));
  EXPECT_EQ(LevelSize(30000, 20000, 1), (Size{2, 2}));
  EXPECT_EQ(LevelSize(1, 1000, 5), (Size{1, 32}));
}

TEST(DziLayout, TileSpansCarryOverlapOnInnerSidesOnly) {
  struct Case {
    std::uint64_t Length;
    std::uint32_t Tile, Overlap;
    std::vector<Span> Spans;
  };
  const std::vector<Case> cases = {
      {600, 254, 1, {{0, 255}, {253, 509}, {507, 600}}},
      {508, 254, 1, {{0, 255}, {253, 508}}},
      {254, 254, 1, {{0, 254}}},
      {255, 254, 1, {{0, 255}, {253, 255}}},
      {1, 254, 1, {{0, 1}}},
      {508, 254, 0, {{0, 254}, {254, 508}}},
      {130, 64, 3, {{0, 67}, {61, 130}, {125, 130}}},
      {129, 64, 16, {{0, 80}, {48, 129}, {112, 129}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.Length) + "/" + std::to_string(c.Tile) + "/" +
                 std::to_string(c.Overlap));
    ASSERT_EQ(TileCount(c.Length, c.Tile), c.Spans.size());
    for (std::size_t i = 0; i < c.Spans.size(); ++i)
      EXPECT_EQ(TileSpan(c.Length, c.Tile, c.Overlap, i), c.Spans[i]) << i;
  }
}

TEST(DziLayout, DescriptorAndTileNames) {
  EXPECT_EQ(Descriptor("jpg", 1, 254, 30000, 20000),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<Image xmlns=\"http://schemas.microsoft.com/deepzoom/2008\" "
            "Format=\"jpg\" Overlap=\"1\" TileSize=\"254\">\n"
            "<Size Width=\"30000\" Height=\"20000\"/>\n"
            "</Image>\n");
  EXPECT_EQ(Descriptor("png", 0, 512, 150000, 7),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<Image xmlns=\"http://schemas.microsoft.com/deepzoom/2008\" "
            "Format=\"png\" Overlap=\"0\" TileSize=\"512\">\n"
            "<Size Width=\"150000\" Height=\"7\"/>\n"
            "</Image>\n");
  EXPECT_EQ(TilePath(15, 117, 3, "jpg"), "15/117_3.jpg");
}

TEST(Convert16To8, RoundsToNearestForEveryValue) {
  std::vector<std::uint16_t> in(65536);
  for (std::size_t v = 0; v < in.size(); ++v) in[v] = std::uint16_t(v);
  Bytes out(in.size());
  Convert16To8(in.data(), out.data(), in.size());
  for (std::size_t v = 0; v < in.size(); ++v)
    ASSERT_EQ(out[v], std::lround(v / 257.0)) << v;
}

// PNG tiles are lossless, so every tile of every level must equal the
// reference halving exactly: this checks the means, the bands, the overlap
// and the edges together.
TEST(PyramidBuilder, PngTilesEqualTheReferenceLevels) {
  struct Case {
    std::uint64_t W, H;
    int Channels;
    std::uint32_t Tile, Overlap;
  };
  for (const Case& c : std::vector<Case>{{1, 1, 3, 254, 1},
                                         {1, 37, 3, 8, 1},
                                         {37, 1, 4, 8, 2},
                                         {100, 77, 3, 16, 1},
                                         {65, 130, 4, 16, 0},
                                         {33, 33, 1, 8, 3},
                                         {50, 21, 2, 8, 1},
                                         {64, 64, 3, 8, 8},
                                         {257, 9, 3, 64, 1}}) {
    SCOPED_TRACE(std::to_string(c.W) + "x" + std::to_string(c.H) + "x" +
                 std::to_string(c.Channels) + " tile " +
                 std::to_string(c.Tile) + "/" + std::to_string(c.Overlap));
    TempDir dir;
    const Image img = RandomImage(c.W, c.H, c.Channels,
                                  static_cast<unsigned>(c.W * 31 + c.H));
    PyramidOptions o;
    o.TileSize = c.Tile;
    o.Overlap = c.Overlap;
    o.Encoding.Format = TileFormat::Png;
    o.Threads = 2;
    const BuildResult r = Build(img, o, dir.Path());
    ASSERT_TRUE(r.Result.Ok) << r.Result.Error;
    std::uint64_t tiles = 0;
    ForEachTile(img, o, dir.Path(), [&](const Bytes& file, const Image& want) {
      ++tiles;
      const DecodedPng got = DecodePng(file);
      ASSERT_EQ(got.Img.Channels, want.Channels);
      ASSERT_EQ(got.Img.Width, want.Width);
      ASSERT_EQ(got.Img.Height, want.Height);
      EXPECT_TRUE(got.Img.Pixels == want.Pixels);
      EXPECT_TRUE(got.Icc.empty());
    });
    EXPECT_EQ(r.Tiles, tiles);
  }
}

TEST(PyramidBuilder, JpegTilesAreCloseToTheLevelsAndDropAlpha) {
  struct Case {
    int Channels, Quality, Subsampling;
  };
  for (const Case& c : std::vector<Case>{{3, 90, TJSAMP_444},
                                         {4, 90, TJSAMP_444},
                                         {3, 85, TJSAMP_420},
                                         {1, 90, TJSAMP_GRAY},
                                         {2, 90, TJSAMP_GRAY}}) {
    SCOPED_TRACE(std::to_string(c.Channels) + " channels q" +
                 std::to_string(c.Quality));
    TempDir dir;
    const Image img = PhotoLikeImage(300, 200, c.Channels);
    PyramidOptions o;
    o.TileSize = 64;
    o.Overlap = 1;
    o.Encoding.Quality = c.Quality;
    const BuildResult r = Build(img, o, dir.Path());
    ASSERT_TRUE(r.Result.Ok) << r.Result.Error;
    ForEachTile(img, o, dir.Path(), [&](const Bytes& file, const Image& want) {
      const DecodedJpeg got = DecodeJpeg(file);
      const Image opaque = DropAlphaChannel(want);
      ASSERT_EQ(got.Img.Width, want.Width);
      ASSERT_EQ(got.Img.Height, want.Height);
      EXPECT_EQ(got.Components, opaque.Channels);
      EXPECT_EQ(got.Subsampling, c.Subsampling);
      ASSERT_EQ(got.Img.Channels, opaque.Channels);
      // Tiles smaller than one 8 x 8 block (the top levels' 2 x 1, 3 x 2)
      // lose more to subsampled chroma; they are a few pixels of a
      // thumbnail.
      const bool block = want.Width >= 8 && want.Height >= 8;
      EXPECT_GE(Psnr(got.Img, opaque), block ? 35.0 : 30.0);
    });
  }
}

TEST(PyramidBuilder, EveryTileCarriesTheColourProfile) {
  // Over two JPEG segments' worth, so the chunking shows.
  const Bytes icc = MakeIccProfile(140000);
  for (TileFormat format : {TileFormat::Jpeg, TileFormat::Png}) {
    SCOPED_TRACE(FormatExtension(format));
    TempDir dir;
    const Image img = PhotoLikeImage(70, 40, 3);
    PyramidOptions o;
    o.TileSize = 32;
    o.Encoding.Format = format;
    o.Encoding.IccProfile = icc;
    ASSERT_TRUE(Build(img, o, dir.Path()).Result.Ok);
    ForEachTile(img, o, dir.Path(), [&](const Bytes& file, const Image& want) {
      if (format == TileFormat::Png) {
        const DecodedPng got = DecodePng(file);
        EXPECT_TRUE(got.Icc == icc);
        EXPECT_TRUE(got.Img.Pixels == want.Pixels);
      } else {
        const DecodedJpeg got = DecodeJpeg(file);
        EXPECT_TRUE(got.IccChunksValid);
        EXPECT_TRUE(got.Icc == icc);
        EXPECT_GE(Psnr(got.Img, want), 35.0);
      }
    });
  }
}

TEST(JpegIccSegments, SplitsIn65519ByteChunksUpTo255) {
  Bytes segments;
  EXPECT_TRUE(JpegIccSegments({}, segments));
  EXPECT_TRUE(segments.empty());
  const Bytes icc = MakeIccProfile(65519 + 1);
  ASSERT_TRUE(JpegIccSegments(icc, segments));
  ASSERT_EQ(segments.size(), 2 * 18 + icc.size());
  // First segment: full length 65535, chunk 1 of 2.
  EXPECT_EQ(Bytes(segments.begin(), segments.begin() + 4),
            (Bytes{0xFF, 0xE2, 0xFF, 0xFF}));
  EXPECT_EQ(segments[16], 1);
  EXPECT_EQ(segments[17], 2);
  const std::size_t second = 2 + 65535;
  EXPECT_EQ(Bytes(segments.begin() + second, segments.begin() + second + 4),
            (Bytes{0xFF, 0xE2, 0x00, 0x11}));  // 2 + 12 + 2 + 1
  EXPECT_EQ(segments[second + 16], 2);
  EXPECT_EQ(segments.back(), icc.back());
  EXPECT_TRUE(JpegIccSegments(Bytes(255 * 65519), segments));
  EXPECT_FALSE(JpegIccSegments(Bytes(255 * 65519 + 1), segments));
}

TEST(PyramidBuilder, RowsMissingOrExtraAreFailures) {
  const Image img = RandomImage(20, 10, 3, 1);
  PyramidOptions o;
  o.Width = 20;
  o.Height = 10;
  o.TileSize = 8;
  {
    TempDir dir;
    o.TilesDir = dir.Path().string();
    PyramidBuilder b(o);
    ASSERT_TRUE(b.Start());
    for (int y = 0; y < 9; ++y) ASSERT_TRUE(b.PushRow(img.At(0, y)));
    EXPECT_FALSE(b.Finish().Ok);
  }
  {
    TempDir dir;
    o.TilesDir = dir.Path().string();
    PyramidBuilder b(o);
    ASSERT_TRUE(b.Start());
    for (int y = 0; y < 10; ++y) ASSERT_TRUE(b.PushRow(img.At(0, y)));
    EXPECT_FALSE(b.PushRow(img.At(0, 0)));
    EXPECT_FALSE(b.Finish().Ok);
  }
  {
    TempDir dir;
    o.TilesDir = dir.Path().string();
    PyramidBuilder b(o);
    ASSERT_TRUE(b.Start());
    for (int y = 0; y < 5; ++y) ASSERT_TRUE(b.PushRow(img.At(0, y)));
    b.Cancel();
    EXPECT_FALSE(b.PushRow(img.At(0, 5)));
    EXPECT_FALSE(b.Finish().Ok);
  }
}

TEST(PyramidBuilder, RejectsBadOptionsAndUnmakeableFolders) {
  TempDir dir;
  WriteBytes(dir.File("plain"), {1});
  PyramidOptions good;
  good.Width = 10;
  good.Height = 10;
  good.TilesDir = dir.File("ok");
  std::vector<PyramidOptions> bad(7, good);
  bad[0].Width = 0;
  bad[1].Channels = 5;
  bad[2].Overlap = 300;
  bad[3].Encoding.Quality = 0;
  bad[4].Encoding.IccProfile.resize(255 * 65519 + 1);
  bad[5].TilesDir = dir.File("plain") + "/sub";
  bad[6].TileSize = 0;
  for (std::size_t i = 0; i < bad.size(); ++i) {
    PyramidBuilder b(bad[i]);
    EXPECT_FALSE(b.Start()) << i;
    EXPECT_FALSE(b.Result().Error.empty()) << i;
    EXPECT_FALSE(b.PushRow(Bytes(30).data())) << i;
  }
  PyramidBuilder b(good);
  EXPECT_TRUE(b.Start());
}

// A disk that takes no more bytes: the builder must say so, stop taking
// rows, and leave no half-written tile behind.
TEST(PyramidBuilder, FullDiskIsReportedAndLeavesNoPartialTile) {
  for (TileFormat format : {TileFormat::Jpeg, TileFormat::Png}) {
    SCOPED_TRACE(FormatExtension(format));
    TempDir dir;
    const Image img = PhotoLikeImage(200, 300, 3);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      PyramidOptions o;
      o.Width = img.Width;
      o.Height = img.Height;
      o.TileSize = 64;
      o.Encoding.Format = format;
      o.TilesDir = dir.Path().string();
      PyramidBuilder b(o);
      if (!b.Start()) _exit(10);
      FailWritesFromNowOn();
      std::uint64_t y = 0;
      while (y < img.Height && b.PushRow(img.At(0, y))) ++y;
      const PyramidResult r = b.Finish();
      if (r.Ok) _exit(11);
      if (r.Error.find("Cannot write") == std::string::npos) _exit(12);
      // The reader was held back: rows stopped being taken.
      if (y == img.Height) _exit(13);
      _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    for (const auto& e : fs::recursive_directory_iterator(dir.Path()))
      EXPECT_FALSE(e.is_regular_file()) << e.path();
  }
}

TEST(ViewerPage, ShowsThePyramidInlineWithTheScriptBesideIt) {
  const std::string page = ViewerPage("my pic\"<1>", "png", 2, 510, 30000, 7);
  EXPECT_NE(page.find("<script src=\"openseadragon.min.js\"></script>"),
            std::string::npos);
  EXPECT_NE(page.find("<title>my pic&quot;&lt;1&gt;</title>"),
            std::string::npos);
  // The tile folder as a relative URL: nothing that ends the string or the
  // script, nor '#' or '?' that would end the path.
  EXPECT_NE(page.find("Url: \"my%20pic%22%3C1%3E_files/\""), std::string::npos);
  for (const char* part :
       {"Format: \"png\"", "Overlap: \"2\"", "TileSize: \"510\"",
        "Size: { Width: \"30000\", Height: \"7\" }"})
    EXPECT_NE(page.find(part), std::string::npos) << part;
}

TEST(ViewerPage, WritesThePageAndCopiesTheScript) {
  TempDir dir;
  const Bytes script = {'v', 'a', 'r', ' ', 'x', ';', 0, 255};
  WriteBytes(dir.File("osd.js"), script);
  fs::create_directories(dir.Path() / "out");
  const std::string out = (dir.Path() / "out").string();
  std::string error;
  ASSERT_TRUE(WriteViewerPage(out, "pic", "<page>", dir.File("osd.js"), error))
      << error;
  EXPECT_EQ(ReadBytes(out + "/pic.html"),
            (Bytes{'<', 'p', 'a', 'g', 'e', '>'}));
  EXPECT_EQ(ReadBytes(out + "/openseadragon.min.js"), script);

  // A missing script: no page, and the script an earlier page uses stays.
  EXPECT_FALSE(
      WriteViewerPage(out, "other", "<page>", dir.File("none.js"), error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(fs::exists(out + "/other.html"));
  EXPECT_EQ(ReadBytes(out + "/openseadragon.min.js"), script);
}

}  // namespace
}  // namespace trelvi::test
