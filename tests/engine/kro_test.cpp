#include <gtest/gtest.h>

#include "engine/trelvi.h"
#include "engine/utils.h"
#include "support/fixtures.h"
#include "support/scripted_ui.h"

namespace trelvi {
namespace {

using test::ScriptedUi;
using test::TempDir;

std::vector<std::uint8_t> Header(const char magic[3], std::uint8_t version,
                                 std::uint32_t w, std::uint32_t h,
                                 std::uint32_t bits, std::uint32_t channels) {
  std::vector<std::uint8_t> out(magic, magic + 3);
  out.push_back(version);
  for (std::uint32_t v : {w, h, bits, channels}) {
    out.push_back(static_cast<std::uint8_t>(v >> 24));
    out.push_back(static_cast<std::uint8_t>(v >> 16));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
    out.push_back(static_cast<std::uint8_t>(v));
  }
  return out;
}

TEST(SwapBytes32, ReversesTheFourBytes) {
  EXPECT_EQ(SwapBytes32(0x12345678u), 0x78563412u);
  EXPECT_EQ(SwapBytes32(SwapBytes32(0xA1B2C3D4u)), 0xA1B2C3D4u);
}

TEST(ReadKroInfo, HeaderErrorsShowTheirMessageAndRefuse) {
  const struct {
    const char* what;
    std::vector<std::uint8_t> bytes;
    const char* message;
  } cases[] = {
      {"lower-case magic", Header("kro", 1, 10, 10, 8, 4), "KRO Header error"},
      {"version 2", Header("KRO", 2, 10, 10, 8, 4), "KRO Header error"},
      {"19 bytes",
       [] {
         auto h = Header("KRO", 1, 10, 10, 8, 4);
         h.pop_back();
         return h;
       }(),
       "KRO Header error"},
      {"bits 12", Header("KRO", 1, 10, 10, 12, 4),
       "The image must be 8 or 16 bits"},
      {"channels 3", Header("KRO", 1, 10, 10, 8, 3),
       "The number of color channels must be 4"},
      {"width 0", Header("KRO", 1, 0, 10, 16, 4), "Height or Width = 0"},
      {"height 0", Header("KRO", 1, 10, 0, 8, 4), "Height or Width = 0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    test::WriteBytes(dir.File("x.kro"), c.bytes);
    ScriptedUi ui;
    TTrelvi engine(ui);
    engine.InInfo.FileName = dir.File("x.kro");
    engine.ReadKroInfo();
    EXPECT_FALSE(engine.InInfo.ImageIsOk);
    EXPECT_EQ(ui.Texts(), std::vector<std::string>{c.message});
    EXPECT_EQ(engine.InInfo.ImageType, FileType::KRO4);
    EXPECT_EQ(engine.InInfo.ImageTypeDesc, "KRO");
    EXPECT_EQ(engine.InInfo.FileSize,
              static_cast<std::int64_t>(c.bytes.size()));
  }
}

TEST(ReadKroInfo, MissingFileIsAHeaderError) {
  ScriptedUi ui;
  TTrelvi engine(ui);
  engine.InInfo.FileName = "/nonexistent/x.kro";
  engine.ReadKroInfo();
  EXPECT_FALSE(engine.InInfo.ImageIsOk);
  EXPECT_EQ(engine.InInfo.FileSize, -1);
  EXPECT_EQ(ui.Texts(), std::vector<std::string>{"KRO Header error"});
}

// Writes a KRO through the engine from an RGB RAW input and reads it back.
TEST(Kro, WriteAndReadBackAt8And16Bits) {
  for (int bits : {8, 16}) {
    SCOPED_TRACE(bits);
    TempDir dir;
    const std::uint32_t w = 1000, h = 5;
    const auto rgb = test::MakePixels(w, h, 3, bits);
    test::WriteBytes(dir.File("in.raw"), rgb);

    ScriptedUi ui;
    TTrelvi engine(ui);
    engine.InInfo.FileName = dir.File("in.raw");
    engine.InInfo.ImageType = FileType::RAW;
    engine.InInfo.Width = w;
    engine.InInfo.Height = h;
    engine.InInfo.Bits = static_cast<std::uint8_t>(bits);
    engine.InInfo.Channels = 3;
    engine.InInfo.BytesPerPixel = static_cast<std::uint8_t>(3 * bits / 8);
    engine.InInfo.IsLsb = true;
    ASSERT_TRUE(engine.OpenInFile(engine.InInfo.FileName));
    engine.OutInfo.ImageType = FileType::KRO4;
    engine.OutInfo.Width = w;
    engine.OutInfo.Height = h;
    ASSERT_TRUE(engine.CreateOutFile(dir.File("out")));
    EXPECT_EQ(engine.OutInfo.Channels, 4);
    EXPECT_EQ(engine.OutInfo.BytesPerPixel, bits == 8 ? 4 : 8);
    EXPECT_FALSE(engine.OutInfo.IsLsb);
    for (std::uint32_t y = 0; y < h; ++y) {
      ASSERT_GT(engine.ReadLine(y), 0);
      engine.ConvertLine(engine.InInfo, 0, engine.OutInfo, 0, w);
      ASSERT_EQ(engine.WriteLine(y),
                static_cast<std::int32_t>(engine.OutInfo.ScanLineSize));
    }
    ASSERT_TRUE(engine.CloseOutFile());
    engine.CloseInFile();

    const std::string kro = dir.File("out.kro");
    EXPECT_EQ(FileSizeByName(kro),
              20 + static_cast<std::int64_t>(w) * h * 4 * bits / 8);
    // Expected file: alpha at full scale, 16-bit samples big-endian.
    std::vector<std::uint8_t> rgba;
    const int bps = bits / 8;
    for (std::size_t i = 0; i < rgb.size(); i += 3 * bps) {
      rgba.insert(rgba.end(), rgb.begin() + i, rgb.begin() + i + 3 * bps);
      for (int b = 0; b < bps; ++b) rgba.push_back(0xFF);
    }
    EXPECT_EQ(test::ReadBytes(kro), test::MakeKro(w, h, bits, rgba));

    TTrelvi reader(ui);
    reader.InInfo.FileName = kro;
    reader.ReadKroInfo();
    ASSERT_TRUE(reader.InInfo.ImageIsOk);
    EXPECT_EQ(reader.InInfo.Width, w);
    EXPECT_EQ(reader.InInfo.Height, h);
    EXPECT_EQ(reader.InInfo.Bits, bits);
    EXPECT_EQ(reader.InInfo.Channels, 4);
    EXPECT_EQ(reader.InInfo.BytesPerPixel, 4 * bps);
    EXPECT_FALSE(reader.InInfo.IsLsb);
    EXPECT_TRUE(ui.Messages.empty());
  }
}

}  // namespace
}  // namespace trelvi
