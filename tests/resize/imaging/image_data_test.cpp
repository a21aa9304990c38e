#include "resize/imaging/image_data.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <vector>

#include "resize/imaging/buffered_stream.h"
#include "resize/imaging/pixel_convert.h"
#include "resize/imaging/pixel_memory.h"
#include "support/fixtures.h"

namespace trelvi {
namespace {

using test::ReadBytes;
using test::TempDir;
using test::WriteBytes;

std::vector<std::uint8_t> Pattern(std::size_t n, unsigned seed = 1) {
  std::vector<std::uint8_t> bytes(n);
  std::uint32_t x = seed * 2654435761u + 12345u;
  for (auto& b : bytes) {
    x = x * 1103515245u + 12345u;
    b = static_cast<std::uint8_t>(x >> 16);
  }
  return bytes;
}

std::vector<std::uint8_t> Pixels(const TImageData& image) {
  return std::vector<std::uint8_t>(image.Bits, image.Bits + image.Size);
}

// ---------------------------------------------------------------------------
// Pixel conversion

TEST(PixelConvert, ConstantsAreTheSinglesNearestTheReciprocals) {
  EXPECT_EQ(kByteToFloat, static_cast<float>(1.0 / 255.0));
  EXPECT_EQ(static_cast<double>(kByteToFloat), 0.003921568859368563);
  EXPECT_EQ(kWordToFloat, static_cast<float>(1.0 / 65535.0));
}

TEST(PixelConvert, EverySampleSurvivesTheRoundTrip) {
  for (int b = 0; b < 256; ++b) {
    const float v = ByteToFloat(static_cast<std::uint8_t>(b));
    EXPECT_EQ(v, static_cast<float>(b * static_cast<double>(kByteToFloat)));
    EXPECT_EQ(FloatToByte(v), b);
  }
  for (int w = 0; w < 65536; w += 1) {
    ASSERT_EQ(FloatToWord(WordToFloat(static_cast<std::uint16_t>(w))), w);
  }
}

TEST(PixelConvert, RoundsHalfToEvenAndClamps) {
  struct Case {
    double in;
    double out;
  } cases[] = {{126.5, 126}, {127.5, 128},  {0.5, 0},      {1.5, 2},
               {254.5, 254}, {126.49, 126}, {126.51, 127}, {-0.7, 0},
               {-1000.0, 0}, {255.4, 255},  {300.0, 255},  {255.0, 255}};
  for (const auto& c : cases) EXPECT_EQ(RoundClamp(c.in, 255.0), c.out) << c.in;
  EXPECT_EQ(RoundClamp(std::numeric_limits<double>::quiet_NaN(), 255.0), 0.0);
  EXPECT_EQ(RoundClamp(65534.5, 65535.0), 65534.0);
  EXPECT_EQ(RoundClamp(70000.0, 65535.0), 65535.0);
  // Filter overshoot stays inside the sample range instead of wrapping.
  EXPECT_EQ(FloatToByte(1.2f), 255);
  EXPECT_EQ(FloatToByte(-0.1f), 0);
  EXPECT_EQ(FloatToWord(1.0001f), 65535);
}

TEST(PixelConvert, FormatsKeepChannelsInByteOrder) {
  const TImageFormatInfo* f8 = GetFormatInfo(TImageFormat::R8G8B8);
  ASSERT_NE(f8, nullptr);
  EXPECT_STREQ(f8->Name, "R8G8B8");
  EXPECT_EQ(f8->BytesPerPixel, 3);
  const std::uint8_t px[3] = {10, 20, 30};
  const TColorFPRec c = f8->GetPixelFP(px);
  EXPECT_EQ(c.B, ByteToFloat(10));
  EXPECT_EQ(c.G, ByteToFloat(20));
  EXPECT_EQ(c.R, ByteToFloat(30));
  EXPECT_EQ(c.A, 1.0f);
  std::uint8_t out[3] = {};
  f8->SetPixelFP(out, c);
  EXPECT_EQ(std::memcmp(out, px, 3), 0);

  const TImageFormatInfo* f16 = GetFormatInfo(TImageFormat::R16G16B16);
  ASSERT_NE(f16, nullptr);
  EXPECT_EQ(f16->BytesPerPixel, 6);
  const std::uint8_t px16[6] = {0x34, 0x12, 0xFF, 0x00, 0x00, 0xFF};
  const TColorFPRec c16 = f16->GetPixelFP(px16);
  EXPECT_EQ(c16.B, WordToFloat(0x1234));
  EXPECT_EQ(c16.G, WordToFloat(0x00FF));
  EXPECT_EQ(c16.R, WordToFloat(0xFF00));
  std::uint8_t out16[6] = {};
  f16->SetPixelFP(out16, c16);
  EXPECT_EQ(std::memcmp(out16, px16, 6), 0);

  EXPECT_EQ(GetFormatInfo(TImageFormat::Unknown), nullptr);
  EXPECT_EQ(GetFormatInfo(static_cast<TImageFormat>(88)), nullptr);
}

// ---------------------------------------------------------------------------
// The record

TEST(ImageRecord, AllocateGivesAZeroFilledValidBlock) {
  TImageData image;
  ResetImageRecord(image);
  EXPECT_FALSE(IsImageValid(image));
  ASSERT_TRUE(AllocateImage(7, 5, TImageFormat::R8G8B8, image));
  EXPECT_EQ(image.Width, 7);
  EXPECT_EQ(image.Height, 5);
  EXPECT_EQ(image.Size, 7 * 5 * 3);
  EXPECT_EQ(Pixels(image), std::vector<std::uint8_t>(105, 0));
  EXPECT_TRUE(IsImageValid(image));

  // Allocating again replaces the old block (ASan sees a leak otherwise).
  ASSERT_TRUE(AllocateImage(2, 3, TImageFormat::R16G16B16, image));
  EXPECT_EQ(image.Size, 36);
  ReleaseImage(image);
  EXPECT_FALSE(IsImageValid(image));
  EXPECT_EQ(image.Bits, nullptr);
  EXPECT_EQ(image.Width, 0);
}

TEST(ImageRecord, TheBlockMovesWithTheRecordAndGoesBackOnce) {
  // A record moved from is empty, not a second view of the pixels; the
  // block is handed back once, by its last owner (ASan sees a double free
  // or a leak otherwise).
  TImageData a;
  ASSERT_TRUE(AllocateImage(3, 2, TImageFormat::R8G8B8, a));
  a.Bits[0] = 7;
  std::uint8_t* const bits = a.Bits;
  TImageData b(std::move(a));
  EXPECT_FALSE(IsImageValid(a));
  EXPECT_EQ(a.Bits, nullptr);
  EXPECT_EQ(a.Size, 0);
  ASSERT_TRUE(IsImageValid(b));
  EXPECT_EQ(b.Bits, bits);
  EXPECT_EQ(b.Bits[0], 7);

  TImageData c;
  ASSERT_TRUE(AllocateImage(4000, 3000, TImageFormat::R8G8B8, c));
  c = std::move(b);  // c's large block goes back to the cache
  EXPECT_FALSE(IsImageValid(b));
  EXPECT_EQ(c.Bits, bits);
  EXPECT_EQ(c.Width, 3);
  EXPECT_EQ(c.Size, 18);
  TrimPixelCache();
}

TEST(ImageRecord, BadParametersRaiseAndLeaveTheRecord) {
  TImageData image;
  ASSERT_TRUE(AllocateImage(4, 4, TImageFormat::R8G8B8, image));
  std::uint8_t* const bits = image.Bits;
  const struct {
    int w, h;
    TImageFormat f;
  } cases[] = {{0, 4, TImageFormat::R8G8B8},
               {4, 0, TImageFormat::R8G8B8},
               {-3, 4, TImageFormat::R8G8B8},
               {4, 4, TImageFormat::Unknown}};
  for (const auto& c : cases) {
    EXPECT_THROW(AllocateImage(c.w, c.h, c.f, image), TImagingError);
    EXPECT_EQ(image.Bits, bits);
    EXPECT_EQ(image.Width, 4);
    EXPECT_TRUE(IsImageValid(image));
  }
  ReleaseImage(image);
}

TEST(ImageRecord, SizesAre64Bit) {
  // 40000 × 30000 × 6 bytes is past 4 GiB: no wrap.
  EXPECT_EQ(GetPixelsSize(TImageFormat::R16G16B16, 40000, 30000), 7200000000LL);
  EXPECT_EQ(GetPixelsSize(TImageFormat::R8G8B8, 150000, 150000), 67500000000LL);
  TImageData image;
  image.Width = 40000;
  image.Height = 30000;
  image.Format = TImageFormat::R16G16B16;
  image.Size = static_cast<std::int32_t>(7200000000LL & 0xFFFFFFFF);
  image.Bits = reinterpret_cast<std::uint8_t*>(16);
  EXPECT_FALSE(IsImageValid(image));  // a wrapped size is not accepted
}

TEST(ImageRecord, ReleasingAnEmptyOrForeignRecordDoesNothing) {
  TImageData image;
  ReleaseImage(image);
  EXPECT_EQ(image.Bits, nullptr);
  EXPECT_FALSE(IsImageValid(image));
  // Size that does not match the format: not valid, not freed.
  image.Width = 2;
  image.Height = 2;
  image.Format = TImageFormat::R8G8B8;
  image.Size = 11;
  EXPECT_FALSE(IsImageValid(image));
}

TEST(ImageRecord, ReusedLargeBlocksAreZeroFilledAgain) {
  // Blocks of tile size are kept and handed out again after release.
  TImageData image;
  ASSERT_TRUE(AllocateImage(4000, 3000, TImageFormat::R8G8B8, image));
  std::memset(image.Bits, 0x5A, static_cast<std::size_t>(image.Size));
  ReleaseImage(image);
  ASSERT_TRUE(AllocateImage(3900, 3000, TImageFormat::R8G8B8, image));
  for (std::int64_t i = 0; i < image.Size; i += 4099)
    ASSERT_EQ(image.Bits[i], 0);
  EXPECT_EQ(image.Bits[image.Size - 1], 0);
  ReleaseImage(image);
  TrimPixelCache();
}

// ---------------------------------------------------------------------------
// Raw files

class RawFile : public ::testing::Test {
 protected:
  TempDir dir;
  TImageData image;
  void TearDown() override { ReleaseImage(image); }
};

TEST_F(RawFile, LoadAndSaveAreByteIdentical) {
  const auto bytes = Pattern(13 * 11 * 3);
  WriteBytes(dir.File("a.raw"), bytes);
  LoadRawImageFile(dir.File("a.raw"), 13, 11, TImageFormat::R8G8B8, image);
  EXPECT_EQ(Pixels(image), bytes);
  SaveRawImageFile(dir.File("b.raw"), image);
  EXPECT_EQ(ReadBytes(dir.File("b.raw")), bytes);
}

TEST_F(RawFile, LargeImagesCrossManyBlocks) {
  // Rows of 3 × 3001 bytes straddle the 16384-byte blocks in every way.
  const auto bytes = Pattern(3001 * 17 * 6, 7);
  WriteBytes(dir.File("a.raw"), bytes);
  LoadRawImageFile(dir.File("a.raw"), 3001, 17, TImageFormat::R16G16B16, image);
  EXPECT_EQ(Pixels(image), bytes);
  SaveRawImageFile(dir.File("b.raw"), image);
  EXPECT_EQ(ReadBytes(dir.File("b.raw")), bytes);
}

TEST_F(RawFile, ShortFilesLeaveZerosAndLongFilesAreCut) {
  const auto full = Pattern(6 * 4 * 3);
  struct Case {
    std::size_t fileBytes;
    std::size_t expectedData;
  } cases[] = {{full.size() - 18, full.size() - 18},  // one row short
               {0, 0},                                // empty file
               {5, 5}};                               // mid-pixel
  for (const auto& c : cases) {
    WriteBytes(
        dir.File("s.raw"),
        std::vector<std::uint8_t>(full.begin(), full.begin() + c.fileBytes));
    ReleaseImage(image);
    LoadRawImageFile(dir.File("s.raw"), 6, 4, TImageFormat::R8G8B8, image);
    auto expected = full;
    std::fill(expected.begin() + c.expectedData, expected.end(), 0);
    EXPECT_EQ(Pixels(image), expected) << c.fileBytes;
  }
  auto longer = full;
  longer.insert(longer.end(), 100, 0xAB);
  WriteBytes(dir.File("l.raw"), longer);
  LoadRawImageFile(dir.File("l.raw"), 6, 4, TImageFormat::R8G8B8, image);
  EXPECT_EQ(Pixels(image), full);
}

TEST_F(RawFile, SelectedRowsLoadInTheirOrder) {
  const auto bytes = Pattern(5 * 6 * 3, 11);
  auto cut = bytes;
  cut.resize(5 * 3 * 4 + 7);  // row 4 partly there, row 5 missing
  WriteBytes(dir.File("r.raw"), cut);
  LoadRawImageRows(dir.File("r.raw"), 5, 6, TImageFormat::R8G8B8,
                   {3, 0, 0, 4, 5}, image);
  ASSERT_EQ(image.Width, 5);
  ASSERT_EQ(image.Height, 5);
  auto row = [&](int r) {
    return std::vector<std::uint8_t>(bytes.begin() + r * 15,
                                     bytes.begin() + r * 15 + 15);
  };
  auto expected = row(3);
  for (int r : {0, 0}) {
    const auto v = row(r);
    expected.insert(expected.end(), v.begin(), v.end());
  }
  auto partial = row(4);
  std::fill(partial.begin() + 7, partial.end(), 0);
  expected.insert(expected.end(), partial.begin(), partial.end());
  expected.insert(expected.end(), 15, 0);
  EXPECT_EQ(Pixels(image), expected);
}

TEST_F(RawFile, SavingReplacesALongerFileCompletely) {
  WriteBytes(dir.File("o.raw"), std::vector<std::uint8_t>(100000, 0x55));
  ASSERT_TRUE(AllocateImage(3, 2, TImageFormat::R8G8B8, image));
  image.Bits[0] = 9;
  SaveRawImageFile(dir.File("o.raw"), image);
  auto expected = std::vector<std::uint8_t>(18, 0);
  expected[0] = 9;
  EXPECT_EQ(ReadBytes(dir.File("o.raw")), expected);
}

TEST_F(RawFile, FailuresRaiseAndKeepTheRecord) {
  // Empty names raise before any file is touched.
  EXPECT_THROW(LoadRawImageFile("", 2, 2, TImageFormat::R8G8B8, image),
               TImagingError);
  EXPECT_FALSE(IsImageValid(image));
  ASSERT_TRUE(AllocateImage(2, 2, TImageFormat::R8G8B8, image));
  EXPECT_THROW(SaveRawImageFile("", image), TImagingError);

  // A missing file leaves the record as it was.
  std::uint8_t* const bits = image.Bits;
  EXPECT_THROW(LoadRawImageFile(dir.File("missing.raw"), 5, 5,
                                TImageFormat::R8G8B8, image),
               TImagingError);
  EXPECT_EQ(image.Bits, bits);
  EXPECT_EQ(image.Width, 2);

  // A folder opens but cannot be read.
  try {
    LoadRawImageFile(dir.Path().string(), 2, 2, TImageFormat::R8G8B8, image);
    ADD_FAILURE() << "no error";
  } catch (const TImagingError& e) {
    EXPECT_STREQ(e.what(), "TBufferedStream.ReadBuffer: read failed");
  }

  // Nowhere to create the file.
  EXPECT_THROW(SaveRawImageFile(dir.File("no/such/dir.raw"), image),
               TImagingError);
}

TEST_F(RawFile, AFullDiskEndsInAWriteError) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP();
  ASSERT_TRUE(AllocateImage(100, 100, TImageFormat::R8G8B8, image));
  try {
    SaveRawImageFile("/dev/full", image);
    ADD_FAILURE() << "no error";
  } catch (const TImagingError& e) {
    EXPECT_STREQ(e.what(), "TBufferedStream.WriteBuffer: write failed");
  }
  EXPECT_TRUE(std::filesystem::exists("/dev/full"));
}

// ---------------------------------------------------------------------------
// The buffered stream itself

TEST(BufferedStream, MixedChunksReadBackAsWritten) {
  TempDir dir;
  const auto bytes = Pattern(100000, 3);
  const std::int64_t chunks[] = {7, 16384, 1, 20000, 16377, 32768, 14463};
  {
    TBufferedStream out(dir.File("m.bin"), TBufferedStream::Mode::Create);
    std::int64_t at = 0;
    for (std::int64_t n : chunks) {
      EXPECT_EQ(out.Write(bytes.data() + at, n), n);
      at += n;
    }
    ASSERT_EQ(at, 100000);
    EXPECT_EQ(out.Size(), 100000);
    out.Close();
  }
  EXPECT_EQ(ReadBytes(dir.File("m.bin")), bytes);

  TBufferedStream in(dir.File("m.bin"), TBufferedStream::Mode::Read);
  EXPECT_EQ(in.Size(), 100000);
  std::vector<std::uint8_t> back(100000 + 50);
  std::int64_t at = 0;
  for (std::int64_t n : {3, 40000, 16384, 5000}) {
    EXPECT_EQ(in.Read(back.data() + at, n), n);
    at += n;
  }
  // Past the end: what is left, then nothing.
  EXPECT_EQ(in.Read(back.data() + at, 100000), 100000 - at);
  EXPECT_EQ(in.Read(back.data(), 10), 0);
  back.resize(100000);
  EXPECT_EQ(back, bytes);

  in.Seek(16380);
  std::uint8_t eight[8];
  EXPECT_EQ(in.Read(eight, 8), 8);
  EXPECT_EQ(std::memcmp(eight, bytes.data() + 16380, 8), 0);
}

}  // namespace
}  // namespace trelvi
