#include <gtest/gtest.h>
#include <tiffio.h>

#include "engine/formats/tiff/tiff_access.h"
#include "engine/trelvi.h"
#include "support/fixtures.h"
#include "support/scripted_ui.h"

namespace trelvi {
namespace {

using test::ScriptedUi;
using test::TempDir;
using test::TiffSpec;

constexpr const char* kBits = "The image must be 8 or 16 bits";
constexpr const char* kChannels = "The number of color channels must be 3 or 4";
constexpr const char* kUnsigned = "The image samples must be unsigned integers";
constexpr const char* kRgb = "The image must be RGB";

struct Described {
  TFileInfo Info;
  std::vector<std::string> Messages;
  int DialogCalls = 0;
};

Described Describe(const std::string& path, bool askUser = false) {
  ScriptedUi ui;
  TTrelvi engine(ui);
  engine.InInfo.FileName = path;
  engine.ReadInputInfo(askUser);
  return {engine.InInfo, ui.Texts(), ui.RawDialogCalls};
}

TiffSpec Spec(std::uint32_t w, std::uint32_t h, int bits, int channels) {
  TiffSpec s;
  s.Width = w;
  s.Height = h;
  s.Bits = bits;
  s.Channels = channels;
  return s;
}

// A TIFF set up tag by tag, for headers the shared fixture does not write;
// its rows are zeros.
void WriteTaggedTiff(const std::string& path, std::uint32_t w, std::uint32_t h,
                     int bits, int samples, int photometric /* -1: none */) {
  InstallTiffHandlers();
  TIFF* t = TIFFOpen(path.c_str(), "w");
  ASSERT_NE(t, nullptr);
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, w);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, h);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, bits);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, samples);
  TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 1);
  if (photometric >= 0) TIFFSetField(t, TIFFTAG_PHOTOMETRIC, photometric);
  std::vector<std::uint8_t> row(
      static_cast<std::size_t>(TIFFScanlineSize64(t)));
  for (std::uint32_t y = 0; y < h; ++y)
    ASSERT_EQ(TIFFWriteScanline(t, row.data(), y, 0), 1);
  TIFFClose(t);
}

// --- Dispatch by extension.

TEST(InputInfo, TiffExtensionsInAnyCase) {
  TempDir dir;
  for (const char* name :
       {"IMAGE.Tif", "image.TIFF", "image.tif", "a.b.tiff"}) {
    const std::string path = dir.File(name);
    test::WriteTiff(path, Spec(7, 5, 8, 3));
    const Described d = Describe(path);
    EXPECT_TRUE(d.Info.ImageIsOk) << name;
    EXPECT_EQ(d.Info.ImageType, FileType::TIF) << name;
    EXPECT_EQ(d.Info.ImageTypeDesc, "TIF") << name;
    EXPECT_EQ(d.Info.Width, 7u) << name;
    EXPECT_EQ(d.Info.Height, 5u) << name;
    EXPECT_EQ(d.Info.Bits, 8) << name;
    EXPECT_EQ(d.Info.Channels, 3) << name;
    EXPECT_EQ(d.Info.BytesPerPixel, 3) << name;
    EXPECT_TRUE(d.Info.IsLsb) << name;
    EXPECT_EQ(d.Info.FileSize,
              static_cast<std::int64_t>(std::filesystem::file_size(path)));
    EXPECT_TRUE(d.Messages.empty()) << name;
  }
}

TEST(InputInfo, UnknownExtensionIsNothingAndChangesNothing) {
  TempDir dir;
  for (const char* name : {"image.tiff.bak", "image", "image.tif.", "tif"}) {
    const std::string path = dir.File(name);
    test::WriteTiff(path, Spec(7, 5, 8, 3));
    ScriptedUi ui;
    TTrelvi engine(ui);
    engine.InInfo.FileName = path;
    engine.InInfo.ImageIsOk = true;
    engine.InInfo.Width = 77;
    engine.InInfo.FileSize = 1234;
    engine.InInfo.ImageType = FileType::KRO4;
    engine.ReadInputInfo(true);
    EXPECT_FALSE(engine.InInfo.ImageIsOk) << name;
    EXPECT_EQ(engine.InInfo.Width, 77u) << name;
    EXPECT_EQ(engine.InInfo.FileSize, 1234) << name;
    EXPECT_EQ(engine.InInfo.ImageType, FileType::KRO4) << name;
    EXPECT_TRUE(ui.Messages.empty()) << name;
    EXPECT_EQ(ui.RawDialogCalls, 0) << name;
  }
}

TEST(InputInfo, TheDirectoryPartHasNoExtension) {
  TempDir dir;
  std::filesystem::create_directories(dir.Path() / "set.tif");
  const std::string path = dir.File("set.tif/noext");
  test::WriteTiff(path, Spec(4, 4, 8, 3));
  const Described d = Describe(path);
  EXPECT_FALSE(d.Info.ImageIsOk);
  EXPECT_EQ(d.Info.ImageType, FileType::NV);
}

TEST(InputInfo, TheContentNeverDecidesTheFormat) {
  // A TIFF named .raw is read as RAW: its size fits no named size.
  TempDir dir;
  const std::string path = dir.File("image.raw");
  test::WriteTiff(path, Spec(4, 4, 8, 3));
  const Described d = Describe(path);
  EXPECT_EQ(d.Info.ImageType, FileType::RAW);
  EXPECT_FALSE(d.Info.ImageIsOk);
  EXPECT_EQ(d.Messages,
            std::vector<std::string>{"Invalid width, height or bits"});
}

TEST(InputInfo, RawAndRgbExtensionsGoToTheRawReader) {
  TempDir dir;
  for (const char* name : {"p_4X2.raw", "p_4X2.RGB", "p_4X2.Raw"}) {
    const std::string path = dir.File(name);
    test::WriteBytes(path, std::vector<std::uint8_t>(4 * 2 * 3));
    const Described d = Describe(path);
    EXPECT_TRUE(d.Info.ImageIsOk) << name;
    EXPECT_EQ(d.Info.ImageType, FileType::RAW) << name;
    EXPECT_EQ(d.Info.Width, 4u) << name;
  }
}

TEST(InputInfo, AskUserReachesTheRawDialog) {
  TempDir dir;
  const std::string path = dir.File("photo.raw");
  test::WriteBytes(path, std::vector<std::uint8_t>(300));
  EXPECT_EQ(Describe(path, true).DialogCalls, 1);
  EXPECT_EQ(Describe(path, false).DialogCalls, 0);
}

TEST(InputInfo, KroFilesFromTheEngine) {
  TempDir dir;
  for (int bits : {8, 16}) {
    TTrelvi writer;
    writer.InInfo.Bits = static_cast<std::uint8_t>(bits);
    writer.OutInfo.ImageType = FileType::KRO4;
    writer.OutInfo.Width = 6;
    writer.OutInfo.Height = 3;
    const std::string base = dir.File("k" + std::to_string(bits));
    ASSERT_TRUE(writer.CreateOutFile(base));
    for (std::uint32_t y = 0; y < 3; ++y) ASSERT_GT(writer.WriteLine(y), 0);
    ASSERT_TRUE(writer.CloseOutFile());

    const Described d = Describe(base + ".kro");
    EXPECT_TRUE(d.Info.ImageIsOk);
    EXPECT_EQ(d.Info.ImageType, FileType::KRO4);
    EXPECT_EQ(d.Info.ImageTypeDesc, "KRO");
    EXPECT_EQ(d.Info.Width, 6u);
    EXPECT_EQ(d.Info.Height, 3u);
    EXPECT_EQ(d.Info.Bits, bits);
    EXPECT_EQ(d.Info.Channels, 4);
    EXPECT_FALSE(d.Info.IsLsb);
    EXPECT_EQ(d.Info.FileSize, 20 + 6 * 3 * 4 * bits / 8);
    EXPECT_TRUE(d.Messages.empty());
  }
}

// --- The TIFF header check.

TEST(TiffInfo, SixteenBitRgba) {
  TempDir dir;
  const std::string path = dir.File("rgba.tif");
  test::WriteTiff(path, Spec(9, 4, 16, 4));
  const Described d = Describe(path);
  EXPECT_TRUE(d.Info.ImageIsOk);
  EXPECT_EQ(d.Info.Bits, 16);
  EXPECT_EQ(d.Info.Channels, 4);
  EXPECT_EQ(d.Info.BytesPerPixel, 8);
  EXPECT_TRUE(d.Info.IsLsb);
  EXPECT_TRUE(d.Messages.empty());
}

TEST(TiffInfo, CompressedAndBigTiffInputsAreDescribed) {
  TempDir dir;
  TiffSpec lzw = Spec(9, 4, 8, 3);
  lzw.Compression = COMPRESSION_LZW;
  test::WriteTiff(dir.File("lzw.tif"), lzw);
  TiffSpec big = Spec(9, 4, 16, 3);
  big.BigTiff = true;
  test::WriteTiff(dir.File("big.tif"), big);
  for (const char* name : {"lzw.tif", "big.tif"}) {
    const Described d = Describe(dir.File(name));
    EXPECT_TRUE(d.Info.ImageIsOk) << name;
    EXPECT_TRUE(d.Messages.empty()) << name;
  }
}

TEST(TiffInfo, OneAndThirtyTwoBitsAreRefused) {
  TempDir dir;
  for (int bits : {1, 32}) {
    const std::string path = dir.File("b" + std::to_string(bits) + ".tif");
    if (bits == 1)  // packed rows of the fixture's own; no pixels needed
      test::WriteTiff(path, Spec(16, 4, 1, 1), {});
    else
      test::WriteTiff(path, Spec(16, 4, bits, 3));
    const Described d = Describe(path);
    EXPECT_FALSE(d.Info.ImageIsOk) << bits;
    EXPECT_EQ(d.Messages, std::vector<std::string>{kBits}) << bits;
    EXPECT_EQ(d.Info.Width, 16u);  // stored before the failing check
    EXPECT_EQ(d.Info.ImageType, FileType::TIF);
  }
}

TEST(TiffInfo, DepthsBeyondOneByteAreNotTruncated) {
  // 264 bits per sample would read as 8 in the one-byte field.
  TempDir dir;
  const std::string path = dir.File("b264.tif");
  WriteTaggedTiff(path, 2, 2, 264, 3, PHOTOMETRIC_RGB);
  const Described d = Describe(path);
  EXPECT_FALSE(d.Info.ImageIsOk);
  EXPECT_EQ(d.Messages, std::vector<std::string>{kBits});
}

TEST(TiffInfo, GreyIsRefused) {
  TempDir dir;
  for (int bits : {8, 16}) {
    const std::string path = dir.File("grey" + std::to_string(bits) + ".tif");
    test::WriteTiff(path, Spec(8, 8, bits, 1));
    const Described d = Describe(path);
    EXPECT_FALSE(d.Info.ImageIsOk);
    EXPECT_EQ(d.Messages, std::vector<std::string>{kChannels});
    EXPECT_EQ(d.Info.Bits, bits);
  }
  const std::string two = dir.File("grey_alpha.tif");
  test::WriteTiff(two, Spec(8, 8, 8, 2));
  EXPECT_EQ(Describe(two).Messages, std::vector<std::string>{kChannels});
}

TEST(TiffInfo, NotATiffIsRefusedWithoutAMessage) {
  TempDir dir;
  const std::string path = dir.File("notes.tif");
  const std::string text = "These are notes, not an image.\n";
  test::WriteBytes(path, std::vector<std::uint8_t>(text.begin(), text.end()));
  const Described d = Describe(path);
  EXPECT_FALSE(d.Info.ImageIsOk);
  EXPECT_TRUE(d.Messages.empty());
  EXPECT_EQ(d.Info.ImageType, FileType::TIF);
  EXPECT_EQ(d.Info.FileSize, static_cast<std::int64_t>(text.size()));

  const Described missing = Describe(dir.File("missing.tif"));
  EXPECT_FALSE(missing.Info.ImageIsOk);
  EXPECT_TRUE(missing.Messages.empty());
  EXPECT_EQ(missing.Info.FileSize, -1);
}

TEST(TiffInfo, SamplesMustBeUnsignedIntegers) {
  TempDir dir;
  const struct {
    int bits, format;
  } cases[] = {{16, SAMPLEFORMAT_INT},
               {8, SAMPLEFORMAT_INT},
               {16, SAMPLEFORMAT_IEEEFP},
               {8, SAMPLEFORMAT_VOID}};
  for (const auto& c : cases) {
    TiffSpec s = Spec(4, 4, c.bits, 3);
    s.SampleFormat = c.format;
    const std::string path = dir.File("f.tif");
    test::WriteTiff(path, s);
    const Described d = Describe(path);
    EXPECT_FALSE(d.Info.ImageIsOk) << c.bits << " " << c.format;
    EXPECT_EQ(d.Messages, std::vector<std::string>{kUnsigned});
  }
  TiffSpec u = Spec(4, 4, 16, 4);
  u.SampleFormat = SAMPLEFORMAT_UINT;
  test::WriteTiff(dir.File("u.tif"), u);
  EXPECT_TRUE(Describe(dir.File("u.tif")).Info.ImageIsOk);
}

TEST(TiffInfo, ColoursMustBeRgb) {
  TempDir dir;
  const struct {
    int channels, photometric;
  } cases[] = {{4, PHOTOMETRIC_SEPARATED},  // CMYK
               {3, PHOTOMETRIC_YCBCR},      // uncompressed YCbCr
               {3, PHOTOMETRIC_MINISBLACK},
               {3, PHOTOMETRIC_CIELAB}};
  for (const auto& c : cases) {
    TiffSpec s = Spec(8, 4, 8, c.channels);
    s.Photometric = c.photometric;
    const std::string path = dir.File("p.tif");
    test::WriteTiff(path, s);
    const Described d = Describe(path);
    EXPECT_FALSE(d.Info.ImageIsOk) << c.photometric;
    EXPECT_EQ(d.Messages, std::vector<std::string>{kRgb}) << c.photometric;
  }
}

TEST(TiffInfo, AFileThatNamesNoColourSpaceIsNotRgb) {
  TempDir dir;
  const std::string path = dir.File("nophoto.tif");
  WriteTaggedTiff(path, 4, 2, 8, 3, -1);
  const Described d = Describe(path);
  EXPECT_FALSE(d.Info.ImageIsOk);
  EXPECT_EQ(d.Messages, std::vector<std::string>{kRgb});
}

TEST(TiffInfo, TheFirstFailingCheckIsTheOnlyMessage) {
  // Signed grey 32-bit: the depth is what is reported.
  TempDir dir;
  TiffSpec s = Spec(4, 4, 32, 1);
  s.SampleFormat = SAMPLEFORMAT_INT;
  const std::string path = dir.File("many.tif");
  test::WriteTiff(path, s);
  EXPECT_EQ(Describe(path).Messages, std::vector<std::string>{kBits});
}

}  // namespace
}  // namespace trelvi
