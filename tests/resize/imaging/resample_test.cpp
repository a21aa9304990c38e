#include "resize/imaging/resample.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

namespace trelvi {
namespace {

// An image that frees itself.
struct Image {
  TImageData data;
  Image(int w, int h, TImageFormat f = TImageFormat::R8G8B8) {
    AllocateImage(w, h, f, data);
  }
  Image(const Image&) = delete;
  ~Image() { ReleaseImage(data); }
  std::vector<std::uint8_t> Bytes() const {
    return {data.Bits, data.Bits + data.Size};
  }
};

void FillRandom(TImageData& image, unsigned seed) {
  std::uint32_t x = seed * 2654435761u + 1u;
  for (std::int64_t i = 0; i < image.Size; ++i) {
    x = x * 1103515245u + 12345u;
    image.Bits[i] = static_cast<std::uint8_t>(x >> 17);
  }
}

// ---------------------------------------------------------------------------
// Nearest neighbour

// Each pixel holds its own column in B and G (low, high byte) and its row
// in R, so the output tells which source pixel was taken.
std::vector<int> NearestColumns(int srcW, int dstW) {
  Image src(srcW, 1), dst(dstW, 1);
  for (int x = 0; x < srcW; ++x) {
    src.data.Bits[3 * x] = static_cast<std::uint8_t>(x & 0xFF);
    src.data.Bits[3 * x + 1] = static_cast<std::uint8_t>(x >> 8);
  }
  ScaleNearest(src.data, dst.data);
  std::vector<int> taken;
  for (int x = 0; x < dstW; ++x)
    taken.push_back(dst.data.Bits[3 * x] | (dst.data.Bits[3 * x + 1] << 8));
  return taken;
}

TEST(ScaleNearest, TakesTheIndexOfTheTruncatedStep) {
  EXPECT_EQ(NearestColumns(10, 3), (std::vector<int>{0, 3, 6}));
  EXPECT_EQ(NearestColumns(5, 10),
            (std::vector<int>{0, 0, 1, 1, 2, 2, 3, 3, 4, 4}));
  EXPECT_EQ(NearestColumns(7, 7), (std::vector<int>{0, 1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(NearestColumns(3, 1), (std::vector<int>{0}));
  // Never past the last source pixel.
  EXPECT_EQ(NearestColumns(3, 8).back(), 2);
}

TEST(ScaleNearest, WideSourcesDoNotOverflow) {
  // 40000 × 65536 leaves 32 bits; the indices must still be right.
  const auto taken = NearestColumns(40000, 3);
  const std::int64_t step = (40000LL << 16) / 3;
  ASSERT_EQ(taken.size(), 3u);
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(taken[static_cast<std::size_t>(i)], (i * step) >> 16);
  EXPECT_EQ(taken[1], 13333);
}

TEST(ScaleNearest, RowsFollowTheSameRuleAndPixelsStayWhole) {
  Image src(4, 10, TImageFormat::R16G16B16), dst(2, 3, TImageFormat::R16G16B16);
  FillRandom(src.data, 5);
  ScaleNearest(src.data, dst.data, TScaleOptions{3, false});
  const int srcRows[] = {0, 3, 6};
  const int srcCols[] = {0, 2};
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 2; ++c)
      EXPECT_EQ(
          std::memcmp(dst.data.Bits + (r * 2 + c) * 6,
                      src.data.Bits + (srcRows[r] * 4 + srcCols[c]) * 6, 6),
          0)
          << r << "," << c;
}

// ---------------------------------------------------------------------------
// Kernels and contributions

TEST(Kernels, ValuesAtKnownPoints) {
  EXPECT_EQ(LanczosKernel(0.0f), 1.0f);
  EXPECT_EQ(LanczosKernel(3.0f), 0.0f);
  EXPECT_EQ(LanczosKernel(-3.5f), 0.0f);
  EXPECT_EQ(LanczosKernel(-1.3f), LanczosKernel(1.3f));
  EXPECT_NEAR(LanczosKernel(0.5f), 0.6079271, 1e-6);
  EXPECT_NEAR(LanczosKernel(1.0f), 0.0f, 1e-6);
  EXPECT_EQ(TentKernel(0.25f), 0.75f);
  EXPECT_EQ(TentKernel(-1.0f), 0.0f);
  EXPECT_EQ(CatmullRomKernel(0.0f), 1.0f);
  EXPECT_EQ(CatmullRomKernel(0.5f), 0.5625f);
  EXPECT_EQ(CatmullRomKernel(1.5f), -0.0625f);
  EXPECT_EQ(CatmullRomKernel(2.0f), 0.0f);
  EXPECT_EQ(GetFilterKernel(rfLanczos).Radius, 3.0f);
  EXPECT_EQ(GetFilterKernel(rfBicubic).Radius, 2.0f);
  EXPECT_EQ(GetFilterKernel(rfBilinear).Radius, 1.0f);
  EXPECT_THROW(GetFilterKernel(rfNearest), TImagingError);
}

TEST(Contributions, ClusterSizesFollowTheReduction) {
  const struct {
    int src, dst;
    std::size_t entries;
  } cases[] = {{20, 10, 12}, {40, 10, 24}, {100, 10, 60}, {10, 20, 6}};
  for (const auto& c : cases) {
    const TMappingTable table =
        BuildContributions(c.src, c.dst, LanczosKernel, 3.0f);
    ASSERT_EQ(table.size(), static_cast<std::size_t>(c.dst));
    for (const TCluster& cluster : table) {
      EXPECT_EQ(cluster.size(), c.entries) << c.src << "->" << c.dst;
      float sum = 0.0f;
      for (const TPointRec& e : cluster) {
        EXPECT_GE(e.Pos, 0);
        EXPECT_LT(e.Pos, c.src);
        sum += e.Weight;
      }
      EXPECT_NEAR(sum, 1.0f, 2e-6f);
    }
  }
}

TEST(Contributions, EdgesAreClampedOntoTheBorderPixels) {
  const TMappingTable table = BuildContributions(20, 10, LanczosKernel, 3.0f);
  std::vector<int> first, last;
  for (const TPointRec& e : table.front()) first.push_back(e.Pos);
  for (const TPointRec& e : table.back()) last.push_back(e.Pos);
  EXPECT_EQ(first, (std::vector<int>{0, 0, 0, 0, 0, 0, 1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(last,
            (std::vector<int>{13, 14, 15, 16, 17, 18, 19, 19, 19, 19, 19, 19}));
  // Clamped entries keep their own weights; they stay separate entries.
  EXPECT_NE(table.front()[0].Weight, table.front()[1].Weight);
}

TEST(Contributions, DegenerateLengths) {
  EXPECT_TRUE(BuildContributions(0, 5, LanczosKernel, 3.0f).empty());
  EXPECT_TRUE(BuildContributions(5, 0, LanczosKernel, 3.0f).empty());
  const TMappingTable one = BuildContributions(1, 4, LanczosKernel, 3.0f);
  ASSERT_EQ(one.size(), 4u);
  for (const TCluster& cluster : one) {
    ASSERT_EQ(cluster.size(), 1u);
    EXPECT_EQ(cluster[0].Pos, 0);
    EXPECT_EQ(cluster[0].Weight, 1.0f);
  }
}

// ---------------------------------------------------------------------------
// Filtered scaling

struct SizeCase {
  int srcW, srcH, dstW, dstH;
};
const SizeCase kSizes[] = {
    {97, 61, 40, 23},  // shrink
    {30, 20, 71, 45},  // enlarge
    {90, 9, 17, 40},   // shrink one axis, enlarge the other
    {64, 64, 64, 16},  // one axis kept
    {1, 7, 5, 3},      // a source one pixel wide
    {300, 40, 30, 4},  // a tenth
};

TEST(ScaleFiltered, UniformImagesStayUniform) {
  const int values8[] = {0, 1, 127, 128, 254, 255};
  for (const SizeCase& s : kSizes) {
    for (TResizeFilter filter : {rfLanczos, rfNearest, rfBicubic}) {
      for (int v : values8) {
        Image img(s.srcW, s.srcH);
        for (std::int64_t i = 0; i < img.data.Size; i += 3) {
          img.data.Bits[i] = static_cast<std::uint8_t>(v);
          img.data.Bits[i + 1] = static_cast<std::uint8_t>(255 - v);
          img.data.Bits[i + 2] = static_cast<std::uint8_t>(v / 2);
        }
        ASSERT_TRUE(ScaleImage(img.data, s.dstW, s.dstH, filter));
        for (std::int64_t i = 0; i < img.data.Size; i += 3) {
          ASSERT_EQ(img.data.Bits[i], v) << s.srcW << "->" << s.dstW;
          ASSERT_EQ(img.data.Bits[i + 1], 255 - v);
          ASSERT_EQ(img.data.Bits[i + 2], v / 2);
        }
      }
      for (int v : {0, 1, 257, 32768, 65534, 65535}) {
        Image img(s.srcW, s.srcH, TImageFormat::R16G16B16);
        for (std::int64_t i = 0; i < img.data.Size; i += 2) {
          img.data.Bits[i] = static_cast<std::uint8_t>(v & 0xFF);
          img.data.Bits[i + 1] = static_cast<std::uint8_t>(v >> 8);
        }
        ASSERT_TRUE(ScaleImage(img.data, s.dstW, s.dstH, filter));
        for (std::int64_t i = 0; i < img.data.Size; i += 2)
          ASSERT_EQ(img.data.Bits[i] | (img.data.Bits[i + 1] << 8), v)
              << s.srcW << "->" << s.dstW << " filter " << filter;
      }
    }
  }
}

TEST(ScaleFiltered, FastLoopsMatchTheReferenceBitForBit) {
  for (TImageFormat format : {TImageFormat::R8G8B8, TImageFormat::R16G16B16}) {
    for (const SizeCase& s : kSizes) {
      Image src(s.srcW, s.srcH, format);
      FillRandom(src.data, static_cast<unsigned>(s.srcW * 31 + s.dstH));
      Image ref(s.dstW, s.dstH, format);
      ScaleFiltered(src.data, ref.data, LanczosKernel, 3.0f,
                    TScaleOptions{1, true});
      for (int threads : {1, 2, 5}) {
        for (auto vector :
             {TScaleOptions::Loops::Widest, TScaleOptions::Loops::Avx2,
              TScaleOptions::Loops::Plain}) {
          Image fast(s.dstW, s.dstH, format);
          ScaleFiltered(src.data, fast.data, LanczosKernel, 3.0f,
                        TScaleOptions{threads, false, vector});
          ASSERT_EQ(fast.Bytes(), ref.Bytes())
              << s.srcW << "x" << s.srcH << "->" << s.dstW << "x" << s.dstH
              << " threads " << threads << " loops "
              << static_cast<int>(vector);
        }
      }
    }
  }
}

TEST(ScaleFiltered, ChannelsNeverMix) {
  // Only the middle byte of each pixel is set: the others stay 0.
  Image img(40, 30);
  for (std::int64_t i = 1; i < img.data.Size; i += 3)
    img.data.Bits[i] = static_cast<std::uint8_t>(i * 7);
  ASSERT_TRUE(ScaleImage(img.data, 13, 11, rfLanczos));
  for (std::int64_t i = 0; i < img.data.Size; i += 3) {
    EXPECT_EQ(img.data.Bits[i], 0);
    EXPECT_EQ(img.data.Bits[i + 2], 0);
  }
}

TEST(ScaleFiltered, OvershootIsClampedNotWrapped) {
  // A hard black-to-white step: the Lanczos lobes dip below black and rise
  // above white next to it. Clamped, the dark side stays dark and the
  // bright side bright; wrapped, a dip would turn nearly white.
  for (TImageFormat format : {TImageFormat::R8G8B8, TImageFormat::R16G16B16}) {
    const int bytesPerSample = format == TImageFormat::R8G8B8 ? 1 : 2;
    const int white = bytesPerSample == 1 ? 255 : 65535;
    Image img(60, 4, format);
    for (int y = 0; y < 4; ++y)
      for (int x = 30; x < 60; ++x)
        std::memset(img.data.Bits + (y * 60 + x) * 3 * bytesPerSample, 0xFF,
                    static_cast<std::size_t>(3 * bytesPerSample));
    ASSERT_TRUE(ScaleImage(img.data, 25, 3, rfLanczos));
    for (int y = 0; y < 3; ++y) {
      bool blackNearEdge = false, whiteNearEdge = false;
      for (int x = 0; x < 25; ++x) {
        const std::uint8_t* p =
            img.data.Bits + (y * 25 + x) * 3 * bytesPerSample;
        const int v = bytesPerSample == 1 ? p[0] : (p[0] | (p[1] << 8));
        // Destination x sits at source 2.4 x + 0.7; the step is at 29.5,
        // right under x = 12.
        if (x == 12) continue;
        if (x <= 11) {
          EXPECT_LT(v, white / 2) << x;
          if (x >= 9 && v == 0) blackNearEdge = true;
        } else {
          EXPECT_GT(v, white / 2) << x;
          if (x <= 14 && v == white) whiteNearEdge = true;
        }
      }
      EXPECT_TRUE(blackNearEdge);
      EXPECT_TRUE(whiteNearEdge);
    }
  }
}

TEST(ScaleImage, RefusalsLeaveTheImage) {
  Image img(8, 6);
  FillRandom(img.data, 9);
  const auto before = img.Bytes();
  std::uint8_t* const bits = img.data.Bits;
  for (auto [w, h] : {std::pair{0, 3}, std::pair{3, 0}, std::pair{-1, 5}}) {
    try {
      ScaleImage(img.data, w, h, rfLanczos);
      ADD_FAILURE() << "no error";
    } catch (const TImagingError& e) {
      EXPECT_STREQ(e.what(), "New width or height is zero.");
    }
  }
  EXPECT_FALSE(ScaleImage(img.data, 8, 6, rfLanczos));
  EXPECT_EQ(img.data.Bits, bits);
  EXPECT_EQ(img.Bytes(), before);

  TImageData empty;
  EXPECT_FALSE(ScaleImage(empty, 4, 4, rfNearest));
  EXPECT_EQ(empty.Bits, nullptr);

  ASSERT_TRUE(ScaleImage(img.data, 4, 3, rfNearest));
  EXPECT_EQ(img.data.Width, 4);
  EXPECT_EQ(img.data.Height, 3);
  EXPECT_EQ(img.data.Size, 36);
  EXPECT_TRUE(IsImageValid(img.data));
}

}  // namespace
}  // namespace trelvi
