#include <gtest/gtest.h>

#include <filesystem>

#include "engine/trelvi.h"
#include "support/fixtures.h"
#include "support/raw_dialog_driver.h"
#include "support/scripted_ui.h"

namespace trelvi {
namespace {

using test::DialogDrivingUi;
using test::ScriptedUi;
using test::TempDir;
using test::TypeInto;
using Field = RawInfoModel::Field;

constexpr const char* kInvalid = "Invalid width, height or bits";

// A file of the given size; its bytes do not matter to the description.
std::string SizedFile(const TempDir& dir, const std::string& name,
                      std::uintmax_t size) {
  const std::string path = dir.File(name);
  test::WriteBytes(path, {});
  std::filesystem::resize_file(path, size);
  return path;
}

void Describe(TTrelvi& engine, const std::string& path, bool askUser) {
  engine.InInfo.FileName = path;
  engine.ReadRawInfo(askUser);
}

TEST(RawInfo, NamedSizeFittingEightBits) {
  TempDir dir;
  ScriptedUi ui;
  TTrelvi engine(ui);
  Describe(engine, SizedFile(dir, "photo_1000X2000.raw", 6000000), true);
  const TFileInfo& info = engine.InInfo;
  EXPECT_TRUE(info.ImageIsOk);
  EXPECT_EQ(info.Width, 1000u);
  EXPECT_EQ(info.Height, 2000u);
  EXPECT_EQ(info.Bits, 8);
  EXPECT_EQ(info.Channels, 3);
  EXPECT_EQ(info.BytesPerPixel, 3);
  EXPECT_TRUE(info.IsLsb);
  EXPECT_EQ(info.FileSize, 6000000);
  EXPECT_EQ(info.ImageType, FileType::RAW);
  EXPECT_EQ(info.ImageTypeDesc, "RAW");
  EXPECT_EQ(ui.RawDialogCalls, 0);
  EXPECT_TRUE(ui.Messages.empty());
}

TEST(RawInfo, NamedSizeFittingSixteenBits) {
  TempDir dir;
  ScriptedUi ui;
  TTrelvi engine(ui);
  Describe(engine, SizedFile(dir, "photo_1000X2000.raw", 12000000), true);
  EXPECT_TRUE(engine.InInfo.ImageIsOk);
  EXPECT_EQ(engine.InInfo.Width, 1000u);
  EXPECT_EQ(engine.InInfo.Height, 2000u);
  EXPECT_EQ(engine.InInfo.Bits, 16);
  EXPECT_EQ(engine.InInfo.BytesPerPixel, 6);
  EXPECT_EQ(ui.RawDialogCalls, 0);
  EXPECT_TRUE(ui.Messages.empty());
}

TEST(RawInfo, UnnamedSizeThroughTheDialogAtEightBits) {
  TempDir dir;
  DialogDrivingUi ui;
  ui.Person = [](RawInfoModel& dialog) {
    TypeInto(dialog, Field::Width, "1000");
    EXPECT_EQ(dialog.HeightText(), "2000");
    dialog.SpeedButton1Click();
  };
  TTrelvi engine(ui);
  Describe(engine, SizedFile(dir, "photo.raw", 6000000), true);
  EXPECT_EQ(ui.RawDialogCalls, 1);
  EXPECT_EQ(ui.RawDialogFileSize, 6000000);
  ASSERT_EQ(ui.ShownSizes.size(), 1u);
  EXPECT_EQ(ui.ShownSizes[0], "6.000.000");
  EXPECT_TRUE(ui.Messages.empty());
  EXPECT_TRUE(engine.InInfo.ImageIsOk);
  EXPECT_EQ(engine.InInfo.Width, 1000u);
  EXPECT_EQ(engine.InInfo.Height, 2000u);
  EXPECT_EQ(engine.InInfo.Bits, 8);
  EXPECT_EQ(engine.InInfo.BytesPerPixel, 3);
}

TEST(RawInfo, UnnamedSizeThroughTheDialogAtSixteenBits) {
  TempDir dir;
  DialogDrivingUi ui;
  ui.Person = [](RawInfoModel& dialog) {
    TypeInto(dialog, Field::Width, "1000");
    dialog.Set8Bit(false);
    EXPECT_EQ(dialog.HeightText(), "1000");
    dialog.SpeedButton1Click();
  };
  TTrelvi engine(ui);
  Describe(engine, SizedFile(dir, "photo.raw", 6000000), true);
  EXPECT_TRUE(engine.InInfo.ImageIsOk);
  EXPECT_EQ(engine.InInfo.Width, 1000u);
  EXPECT_EQ(engine.InInfo.Height, 1000u);
  EXPECT_EQ(engine.InInfo.Bits, 16);
  EXPECT_EQ(engine.InInfo.BytesPerPixel, 6);
  EXPECT_TRUE(ui.Messages.empty());
}

TEST(RawInfo, TheDialogRemembersTheWidthForTheNextFile) {
  TempDir dir;
  DialogDrivingUi ui;
  TTrelvi engine(ui);
  ui.Person = [](RawInfoModel& dialog) {
    TypeInto(dialog, Field::Width, "1000");
    dialog.SpeedButton1Click();
  };
  Describe(engine, SizedFile(dir, "a.raw", 6000000), true);
  ASSERT_TRUE(engine.InInfo.ImageIsOk);
  // Second file: the person only presses OK on what the dialog proposes.
  ui.Person = [](RawInfoModel& dialog) { dialog.SpeedButton1Click(); };
  Describe(engine, SizedFile(dir, "b.raw", 1500000), true);
  EXPECT_TRUE(engine.InInfo.ImageIsOk);
  EXPECT_EQ(engine.InInfo.Width, 1000u);
  EXPECT_EQ(engine.InInfo.Height, 500u);
  EXPECT_EQ(ui.RawDialogCalls, 2);
}

TEST(RawInfo, ANameThatDoesNotFitProposesItsWidth) {
  TempDir dir;
  DialogDrivingUi ui;
  ui.Person = [](RawInfoModel& dialog) {
    EXPECT_EQ(dialog.WidthText(), "1000");
    EXPECT_EQ(dialog.HeightText(), "2000");
    dialog.SpeedButton1Click();
  };
  TTrelvi engine(ui);
  Describe(engine, SizedFile(dir, "photo_1000X3000.raw", 6000000), true);
  EXPECT_TRUE(engine.InInfo.ImageIsOk);
  EXPECT_EQ(engine.InInfo.Height, 2000u);
}

TEST(RawInfo, CancelRefusesWithoutAMessage) {
  TempDir dir;
  DialogDrivingUi ui;
  ui.Person = [](RawInfoModel& dialog) {
    TypeInto(dialog, Field::Width, "1000");
    dialog.SpeedButton2Click();
  };
  TTrelvi engine(ui);
  Describe(engine, SizedFile(dir, "photo.raw", 6000000), true);
  EXPECT_EQ(ui.RawDialogCalls, 1);
  EXPECT_FALSE(engine.InInfo.ImageIsOk);
  EXPECT_TRUE(ui.Messages.empty());
  EXPECT_EQ(engine.InInfo.ImageType, FileType::RAW);
  EXPECT_EQ(engine.InInfo.FileSize, 6000000);
}

TEST(RawInfo, TheCloseBoxCountsAsCancel) {
  TempDir dir;
  DialogDrivingUi ui;  // no person: the dialog is closed at once
  TTrelvi engine(ui);
  Describe(engine, SizedFile(dir, "photo.raw", 6000000), true);
  EXPECT_EQ(ui.RawDialogCalls, 1);
  EXPECT_FALSE(engine.InInfo.ImageIsOk);
  EXPECT_TRUE(ui.Messages.empty());
}

TEST(RawInfo, EmptyFileIsRefusedWithoutTheDialog) {
  // 0 × 0 × 3 is the size of an empty file: the depth is found, the size
  // is not, and the dialog never shows.
  TempDir dir;
  ScriptedUi ui;
  TTrelvi engine(ui);
  Describe(engine, SizedFile(dir, "photo.raw", 0), true);
  EXPECT_EQ(ui.RawDialogCalls, 0);
  EXPECT_EQ(ui.Texts(), std::vector<std::string>{kInvalid});
  EXPECT_FALSE(engine.InInfo.ImageIsOk);
  EXPECT_EQ(engine.InInfo.FileSize, 0);
}

TEST(RawInfo, WithoutAskingTheUserAnUnfittingFileIsRefused) {
  TempDir dir;
  ScriptedUi ui;
  ui.AnswerRawDialog({true, 1000, 2000, 8});  // must not be asked
  TTrelvi engine(ui);
  Describe(engine, SizedFile(dir, "photo.raw", 6000000), false);
  EXPECT_EQ(ui.RawDialogCalls, 0);
  EXPECT_EQ(ui.Texts(), std::vector<std::string>{kInvalid});
  EXPECT_FALSE(engine.InInfo.ImageIsOk);

  ui.Messages.clear();
  Describe(engine, SizedFile(dir, "tile_1000X2001.raw", 6000000), false);
  EXPECT_EQ(ui.RawDialogCalls, 0);
  EXPECT_EQ(ui.Texts(), std::vector<std::string>{kInvalid});
}

TEST(RawInfo, ADialogAnswerWithoutSizeOrDepthIsInvalid) {
  TempDir dir;
  ScriptedUi ui;
  ui.AnswerRawDialog({true, 0, 2000, 8});
  ui.AnswerRawDialog({true, 1000, 2000, 12});
  TTrelvi engine(ui);
  const std::string path = SizedFile(dir, "photo.raw", 6000000);
  Describe(engine, path, true);
  EXPECT_FALSE(engine.InInfo.ImageIsOk);
  Describe(engine, path, true);
  EXPECT_FALSE(engine.InInfo.ImageIsOk);
  EXPECT_EQ(ui.Texts(), (std::vector<std::string>{kInvalid, kInvalid}));
}

TEST(RawInfo, HugeNamedSizesNeverWrapIntoAMatch) {
  TempDir dir;
  ScriptedUi ui;
  TTrelvi engine(ui);
  // 4294967295² × 6 does not fit 64 bits: the comparison must not wrap.
  Describe(engine, SizedFile(dir, "p_4294967295X4294967295.raw", 3), false);
  EXPECT_FALSE(engine.InInfo.ImageIsOk);
  EXPECT_EQ(ui.Texts(), std::vector<std::string>{kInvalid});
}

TEST(RawInfo, AMissingFileIsRefused) {
  TempDir dir;
  ScriptedUi ui;
  TTrelvi engine(ui);
  Describe(engine, dir.File("gone_10X10.raw"), false);
  EXPECT_FALSE(engine.InInfo.ImageIsOk);
  EXPECT_EQ(engine.InInfo.FileSize, -1);
  EXPECT_EQ(ui.Texts(), std::vector<std::string>{kInvalid});
}

TEST(RawInfo, RowsReadBackAsWritten) {
  TempDir dir;
  for (int bits : {8, 16}) {
    const auto pixels = test::MakePixels(5, 4, 3, bits);
    const std::string path = dir.File("img_5X4.raw");
    test::WriteBytes(path, pixels);
    ScriptedUi ui;
    TTrelvi engine(ui);
    Describe(engine, path, false);
    ASSERT_TRUE(engine.InInfo.ImageIsOk);
    ASSERT_EQ(engine.InInfo.Bits, bits);
    ASSERT_TRUE(engine.OpenInFile(path));
    const std::size_t rowBytes = engine.InInfo.ScanLineSize;
    for (std::uint32_t y = 0; y < 4; ++y) {
      ASSERT_EQ(engine.ReadLine(y), static_cast<std::int32_t>(rowBytes));
      EXPECT_TRUE(std::equal(engine.InInfo.ScanLine,
                             engine.InInfo.ScanLine + rowBytes,
                             pixels.begin() + y * rowBytes));
    }
    engine.CloseInFile();
  }
}

}  // namespace
}  // namespace trelvi
