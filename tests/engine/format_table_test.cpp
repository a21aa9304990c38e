#include "engine/format_table.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "engine/naming.h"
#include "engine/trelvi.h"
#include "support/fixtures.h"
#include "support/scripted_ui.h"

namespace trelvi {
namespace {

// What the program reads: by extension alone, whatever the case.
TEST(FormatTable, EveryExtensionIsDetectedAsItsFormat) {
  const struct {
    const char* name;
    FileType type;
    const char* desc;
  } cases[] = {
      {"/in/a.kro", FileType::KRO4, "KRO"},
      {"a.KrO", FileType::KRO4, "KRO"},
      {"/in/a.tif", FileType::TIF, "TIF"},
      {"a.TIF", FileType::TIF, "TIF"},
      {"a.tiff", FileType::TIF, "TIF"},
      {"D:\\x\\a.TiFf", FileType::TIF, "TIF"},
      {"a_4X3.raw", FileType::RAW, "RAW"},
      {"a.RAW", FileType::RAW, "RAW"},
      {"a.rgb", FileType::RAW, "RAW"},
      {"a.tif.RGB", FileType::RAW, "RAW"},
      // Detected by content: these names get a file that starts as a PSD
      // and ends before its header does.
      {"a.psd", FileType::PSD, "PSD"},
      {"a.PSB", FileType::PSD, "PSD"},
      {"a.pSd", FileType::PSD, "PSD"},
  };
  std::set<std::string> seen;
  test::TempDir dir;
  for (const auto& c : cases) {
    std::string name = c.name;
    if (c.type == FileType::PSD) {
      name = dir.File(c.name);
      test::WriteBytes(name, {'8', 'B', 'P', 'S', 0, 1, 0, 0});
    }
    const FormatUnit* unit = DetectFormat(name);
    ASSERT_NE(unit, nullptr) << c.name;
    EXPECT_EQ(unit->Type, c.type) << c.name;
    EXPECT_TRUE(IsSupportedExtension(UpperExtension(c.name))) << c.name;
    seen.insert(UpperExtension(c.name));

    // The engine's detection is the table's: the format's describer runs
    // (here on a file that does not exist, so it refuses it).
    test::ScriptedUi ui;
    TTrelvi engine(ui);
    engine.InInfo.FileName = name;
    engine.ReadInputInfo(false);
    EXPECT_EQ(engine.InInfo.ImageType, c.type) << c.name;
    EXPECT_EQ(engine.InInfo.ImageTypeDesc, c.desc) << c.name;
    EXPECT_FALSE(engine.InInfo.ImageIsOk) << c.name;
  }
  // Every extension of the table was among the cases, and nothing else.
  std::set<std::string> table;
  for (const FormatUnit& unit : Formats())
    table.insert(unit.Extensions.begin(), unit.Extensions.end());
  EXPECT_EQ(seen, table);
}

TEST(FormatTable, OtherNamesAreNoInputAndLeaveTheDescriptorAlone) {
  for (const char* name : {"a.png", "a.tif.bak", "a", "tif", "a.ti", "a.tiff2",
                           "dir.tif/a", "a."}) {
    EXPECT_EQ(DetectFormat(name), nullptr) << name;
    EXPECT_FALSE(IsSupportedExtension(UpperExtension(name))) << name;
    test::ScriptedUi ui;
    TTrelvi engine(ui);
    engine.InInfo.FileName = name;
    engine.InInfo.ImageType = FileType::KRO4;
    engine.InInfo.ImageIsOk = true;
    engine.ReadInputInfo(false);
    EXPECT_EQ(engine.InInfo.ImageType, FileType::KRO4) << name;
    EXPECT_FALSE(engine.InInfo.ImageIsOk) << name;
    EXPECT_TRUE(ui.Messages.empty()) << name;
  }
  // Only the upper-cased form with its dot is an extension.
  EXPECT_FALSE(IsSupportedExtension("TIF"));
  EXPECT_FALSE(IsSupportedExtension(".tif"));
}

TEST(FormatTable, OutputChoicesInWindowOrderWithTheirNames) {
  const struct {
    OutputChoice choice;
    const char* caption;
    const char* cli;
    FileType type;
    Compression codec;
    int minLevel = 0, maxLevel = 0, defaultLevel = 0;
  } expected[] = {
      {OutputChoice::Tif, "TIFF", "tif", FileType::TIF, Compression::None},
      {OutputChoice::TifLzw, "TIFF (LZW)", "tif-lzw", FileType::TIF,
       Compression::Lzw},
      {OutputChoice::Raw, "RAW", "raw", FileType::RAW, Compression::None},
      {OutputChoice::Kro, "KRO", "kro", FileType::KRO4, Compression::None},
      {OutputChoice::TifDeflate, "TIFF (Deflate)", "tif-deflate", FileType::TIF,
       Compression::Deflate, 1, 12, 6},
      {OutputChoice::TifZstd, "TIFF (ZSTD)", "tif-zstd", FileType::TIF,
       Compression::Zstd, 1, 19, 9},
      {OutputChoice::Psd, "PSD", "psd", FileType::PSD, Compression::None},
  };
  const auto rows = OutputChoices();
  ASSERT_EQ(rows.size(), std::size(expected));
  std::vector<std::string> cliNames;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const auto& e = expected[i];
    EXPECT_EQ(rows[i].Choice, e.choice) << i;
    EXPECT_STREQ(rows[i].Caption, e.caption) << i;
    EXPECT_STREQ(rows[i].CliName, e.cli) << i;
    EXPECT_EQ(rows[i].Codec, e.codec) << i;
    EXPECT_EQ(rows[i].MinLevel, e.minLevel) << i;
    EXPECT_EQ(rows[i].MaxLevel, e.maxLevel) << i;
    EXPECT_EQ(rows[i].DefaultLevel, e.defaultLevel) << i;
    const bool lzw = e.codec == Compression::Lzw;
    cliNames.push_back(e.cli);

    // -f name to choice and back, and the choice as the engine takes it.
    const OutputChoiceRow* found = FindOutputChoice(e.cli);
    ASSERT_NE(found, nullptr) << e.cli;
    EXPECT_EQ(found->Choice, e.choice);
    EXPECT_STREQ(OutputChoiceOf(e.choice).CliName, e.cli);
    TTrelvi engine;
    engine.UseLzw = !lzw;
    engine.OutCodec = Compression::Zstd;
    engine.CompressionLevel = 3;
    SetOutputType(engine, e.choice);
    EXPECT_EQ(engine.OutInfo.ImageType, e.type) << e.cli;
    EXPECT_EQ(engine.UseLzw, lzw) << e.cli;
    EXPECT_EQ(engine.OutCodec, lzw ? Compression::None : e.codec) << e.cli;
    EXPECT_EQ(engine.CompressionLevel, 3) << "the user's level stays";
    // Every output type has a writer.
    EXPECT_NE(FindFormat(e.type), nullptr) << e.cli;
  }
  EXPECT_EQ(OutputCliNames(), cliNames);
  for (const char* name : {"TIF", "tiff", "lzw", "", "tif-LZW", "kro "})
    EXPECT_EQ(FindOutputChoice(name), nullptr) << '"' << name << '"';
}

TEST(FormatTable, OutputNamesAndTheBigTiffThresholds) {
  const std::uint64_t limit = 4000000000ull;
  const std::uint64_t lzwLimit = limit / 3 * 2;  // 2666666666
  const struct {
    FileType type;
    std::uint64_t bytes;
    Compression codec;
    bool force;
    const char* name;
    bool large;
  } cases[] = {
      {FileType::TIF, 0, Compression::None, false, "out.tif", false},
      {FileType::TIF, limit, Compression::None, false, "out.tif", false},
      {FileType::TIF, limit + 1, Compression::None, false, "out.big.tif", true},
      {FileType::TIF, lzwLimit + 1, Compression::None, false, "out.tif", false},
      {FileType::TIF, lzwLimit, Compression::Lzw, false, "out.tif", false},
      {FileType::TIF, lzwLimit + 1, Compression::Lzw, false, "out.big.tif",
       true},
      // Deflate and ZSTD sizes are unknown up front too: the LZW rule.
      {FileType::TIF, lzwLimit, Compression::Deflate, false, "out.tif", false},
      {FileType::TIF, lzwLimit + 1, Compression::Deflate, false, "out.big.tif",
       true},
      {FileType::TIF, lzwLimit, Compression::Zstd, false, "out.tif", false},
      {FileType::TIF, lzwLimit + 1, Compression::Zstd, false, "out.big.tif",
       true},
      {FileType::TIF, 12, Compression::None, true, "out.big.tif", true},
      {FileType::TIF, 12, Compression::Zstd, true, "out.big.tif", true},
      {FileType::TIF, UINT64_MAX, Compression::None, false, "out.big.tif",
       true},
      // RAW and KRO have no size limit and no larger flavour.
      {FileType::RAW, UINT64_MAX, Compression::Lzw, true, "out.raw", false},
      {FileType::KRO4, UINT64_MAX, Compression::Deflate, true, "out.kro",
       false},
  };
  for (const auto& c : cases) {
    OutputRequest request;
    request.BaseName = "/o/out";
    request.PixelBytes = c.bytes;
    request.Codec = c.codec;
    request.ForceLarge = c.force;
    const OutputName got = FindFormat(c.type)->NameOutput(request);
    EXPECT_EQ(got.FileName, std::string("/o/") + c.name) << c.bytes;
    EXPECT_EQ(got.Large, c.large) << c.bytes;
  }
  EXPECT_EQ(FindFormat(FileType::NV), nullptr);
}

// The metadata is written as it is beside the pixels: its bytes count in
// full against the limit, and are not grown by LZW's half again.
TEST(FormatTable, MetadataBytesCountTowardsTheBigTiffThreshold) {
  const std::uint64_t limit = 4000000000ull;
  const struct {
    std::uint64_t pixels, metadata;
    bool lzw, large;
  } cases[] = {
      {limit - 1000, 1000, false, false},
      {limit - 1000, 1001, false, true},
      {limit / 3 * 2 - 1000, 1000, true, false},
      {limit / 3 * 2 - 1000, 3000, true, true},
      {0, limit, false, false},
      {0, UINT64_MAX, false, true},
      {UINT64_MAX, UINT64_MAX, true, true},
  };
  for (const auto& c : cases) {
    OutputRequest request;
    request.BaseName = "out";
    request.PixelBytes = c.pixels;
    request.MetadataBytes = c.metadata;
    request.Codec = c.lzw ? Compression::Lzw : Compression::None;
    EXPECT_EQ(FindFormat(FileType::TIF)->NameOutput(request).Large, c.large)
        << c.pixels << " + " << c.metadata;
  }
}

}  // namespace
}  // namespace trelvi
