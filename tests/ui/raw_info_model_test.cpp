#include "ui/raw_info_model.h"

#include <gtest/gtest.h>

#include "support/raw_dialog_driver.h"

namespace trelvi {
namespace {

using test::KeyOf;
using test::PressKey;
using test::TypeInto;
using Field = RawInfoModel::Field;
using State = RawInfoModel::State;

TEST(StrToIntOrZero, ReadsDecimalIntegersOnly) {
  EXPECT_EQ(StrToIntOrZero("1000"), 1000);
  EXPECT_EQ(StrToIntOrZero("007"), 7);
  EXPECT_EQ(StrToIntOrZero("-12"), -12);
  EXPECT_EQ(StrToIntOrZero("+12"), 12);
  EXPECT_EQ(StrToIntOrZero("2147483647"), 2147483647);
  EXPECT_EQ(StrToIntOrZero("-2147483648"), -2147483647 - 1);
  EXPECT_EQ(StrToIntOrZero("2147483648"), 0);
  EXPECT_EQ(StrToIntOrZero("99999999999999999999"), 0);
  EXPECT_EQ(StrToIntOrZero(""), 0);
  EXPECT_EQ(StrToIntOrZero("-"), 0);
  EXPECT_EQ(StrToIntOrZero("12a"), 0);
  EXPECT_EQ(StrToIntOrZero(" 12"), 0);
  EXPECT_EQ(StrToIntOrZero("1e3"), 0);
}

TEST(RawInfoModel, StartsWithZeroesAndEightBits) {
  RawInfoModel dialog;
  EXPECT_EQ(dialog.WidthText(), "0");
  EXPECT_EQ(dialog.HeightText(), "0");
  EXPECT_TRUE(dialog.Is8Bit());
  EXPECT_EQ(dialog.Bits(), 8);
}

TEST(RawInfoModel, PrepareShowsTheGroupedSizeAndCountsPixels) {
  RawInfoModel dialog;
  dialog.Prepare(6000000, 0, 0, 0);
  EXPECT_EQ(dialog.SizeText(), "6.000.000");
  EXPECT_EQ(dialog.ImgFileSize, 6000000);
  EXPECT_EQ(dialog.NumPixel, 2000000);
  EXPECT_EQ(dialog.GetNumPixel(), 2000000);
  EXPECT_EQ(dialog.WidthText(), "0");
  EXPECT_EQ(dialog.HeightText(), "0");
  EXPECT_EQ(dialog.GetState(), State::Open);
}

TEST(RawInfoModel, PixelCountDropsTheRemainder) {
  RawInfoModel dialog;
  dialog.Prepare(6000005, 0, 0, 0);
  EXPECT_EQ(dialog.NumPixel, 2000001);
  dialog.Set8Bit(false);
  EXPECT_EQ(dialog.NumPixel, 1000000);
}

TEST(RawInfoModel, TypingAWidthProposesTheHeight) {
  RawInfoModel dialog;
  dialog.Prepare(6000000, 0, 0, 0);
  TypeInto(dialog, Field::Width, "1000");
  EXPECT_EQ(dialog.WidthText(), "1000");
  EXPECT_EQ(dialog.HeightText(), "2000");
  ASSERT_TRUE(dialog.SpeedButton1Click());
  EXPECT_EQ(dialog.GetState(), State::Accepted);
  EXPECT_EQ(dialog.ImgWidth, 1000u);
  EXPECT_EQ(dialog.ImgHeight, 2000u);
  const RawDialogResult result = dialog.Result();
  EXPECT_TRUE(result.Ok);
  EXPECT_EQ(result.Width, 1000u);
  EXPECT_EQ(result.Height, 2000u);
  EXPECT_EQ(result.Bits, 8);
}

TEST(RawInfoModel, EachTypedDigitProposesAsItGoes) {
  RawInfoModel dialog;
  dialog.Prepare(6000000, 0, 0, 0);
  dialog.edWidthEnter();
  PressKey(dialog, Field::Width, KeyOf('1'));
  PressKey(dialog, Field::Width, KeyOf('0'));
  EXPECT_EQ(dialog.HeightText(), "0");  // 10 is below 100: no proposal
  PressKey(dialog, Field::Width, KeyOf('0'));
  EXPECT_EQ(dialog.HeightText(), "20000");
  PressKey(dialog, Field::Width, KeyOf('0'));
  EXPECT_EQ(dialog.WidthText(), "1000");
  EXPECT_EQ(dialog.HeightText(), "2000");
}

TEST(RawInfoModel, SixteenBitsProposeHalfThePixels) {
  RawInfoModel dialog;
  dialog.Prepare(6000000, 0, 0, 0);
  TypeInto(dialog, Field::Width, "1000");
  dialog.Set8Bit(false);
  EXPECT_EQ(dialog.NumPixel, 1000000);
  EXPECT_EQ(dialog.HeightText(), "1000");
  ASSERT_TRUE(dialog.SpeedButton1Click());
  const RawDialogResult result = dialog.Result();
  EXPECT_EQ(result.Width, 1000u);
  EXPECT_EQ(result.Height, 1000u);
  EXPECT_EQ(result.Bits, 16);
}

TEST(RawInfoModel, HeightProposesTheWidthToo) {
  RawInfoModel dialog;
  dialog.Prepare(6000000, 0, 0, 0);
  TypeInto(dialog, Field::Height, "500");
  EXPECT_EQ(dialog.WidthText(), "4000");
  EXPECT_EQ(dialog.HeightText(), "500");
}

TEST(RawInfoModel, NothingBelowOneHundredProposes) {
  RawInfoModel dialog;
  dialog.Prepare(3 * 9900, 0, 0, 0);  // 9900 = 99 × 100
  dialog.SetWidthText("99");
  EXPECT_EQ(dialog.HeightText(), "0");
  dialog.SetWidthText("100");
  EXPECT_EQ(dialog.HeightText(), "99");
  EXPECT_EQ(dialog.WidthText(), "100");  // 99 proposes nothing back
}

TEST(RawInfoModel, NoProposalWhenTheWidthDoesNotDivide) {
  RawInfoModel dialog;
  dialog.Prepare(6000000, 0, 0, 0);
  dialog.SetWidthText("999");
  EXPECT_EQ(dialog.HeightText(), "0");
}

TEST(RawInfoModel, WidthsAbove150000AreClamped) {
  RawInfoModel dialog;
  dialog.Prepare(3 * 150000 * 2, 0, 0, 0);
  dialog.SetWidthText("999999");
  EXPECT_EQ(dialog.WidthText(), "150000");
  EXPECT_EQ(dialog.HeightText(), "2");
  dialog.SetHeightText("150001");
  EXPECT_EQ(dialog.HeightText(), "150000");
}

TEST(RawInfoModel, ProposalsStayBelow150000) {
  RawInfoModel dialog;
  dialog.Prepare(3LL * 150000 * 100, 0, 0, 0);
  dialog.SetWidthText("100");
  EXPECT_EQ(dialog.HeightText(), "0");  // 150000 is not proposed
  dialog.SetWidthText("101");
  dialog.SetWidthText("200");
  EXPECT_EQ(dialog.HeightText(), "75000");
}

TEST(RawInfoModel, HandlersRunOnlyWhenTheTextReallyChanges) {
  RawInfoModel dialog;
  dialog.Prepare(6000000, 0, 0, 0);
  dialog.SetWidthText("1000");
  dialog.SetHeightText("7");  // 7 proposes nothing
  dialog.SetWidthText("1000");
  EXPECT_EQ(dialog.HeightText(), "7");
  // Leaving the field runs its handler whatever the text.
  dialog.LeaveField(Field::Width);
  EXPECT_EQ(dialog.HeightText(), "2000");
  // The radio button's handler runs on a change of state only.
  dialog.SetHeightText("7");
  dialog.Set8Bit(true);
  EXPECT_EQ(dialog.HeightText(), "7");
  dialog.RB8bitChange();
  EXPECT_EQ(dialog.HeightText(), "2000");
}

TEST(RawInfoModel, KeyFilterKeepsDigitsAndEditingKeys) {
  RawInfoModel dialog;
  for (int key :
       {vk::Back, vk::Tab, vk::End, vk::Home, vk::Left, vk::Right, vk::Delete})
    EXPECT_TRUE(dialog.edWidthKeyDown(Field::Width, key)) << key;
  for (int key = 48; key <= 57; ++key)
    EXPECT_TRUE(dialog.edWidthKeyDown(Field::Height, key)) << key;
  for (int key = 96; key <= 105; ++key)
    EXPECT_TRUE(dialog.edWidthKeyDown(Field::Width, key)) << key;
  for (int key : {vk::Up, vk::Down, 13, 27, 32, 65, 86, 109, 110, 189, 190})
    EXPECT_FALSE(dialog.edWidthKeyDown(Field::Width, key)) << key;
}

TEST(RawInfoModel, SixDigitsAtMostUnlessASelectionIsOverwritten) {
  RawInfoModel dialog;
  dialog.Prepare(3 * 1000003, 0, 0, 0);  // a prime: nothing is proposed
  TypeInto(dialog, Field::Width, "1234567");
  EXPECT_EQ(dialog.WidthText(), "123456");

  dialog.SetSelection(Field::Height, 0, 0);
  dialog.SetHeightText("143210");
  dialog.SetSelection(Field::Height, 6, 0);
  EXPECT_FALSE(PressKey(dialog, Field::Height, KeyOf('7')));
  EXPECT_FALSE(dialog.edWidthKeyDown(Field::Height, vk::Numpad0 + 7));
  EXPECT_TRUE(PressKey(dialog, Field::Height, vk::Back));
  EXPECT_EQ(dialog.HeightText(), "14321");

  // Part of the text selected: a digit may replace it.
  dialog.SetSelection(Field::Width, 2, 1);
  EXPECT_TRUE(PressKey(dialog, Field::Width, KeyOf('9')));
  EXPECT_EQ(dialog.WidthText(), "129456");
}

TEST(RawInfoModel, EnteringTheWidthSelectsItsText) {
  RawInfoModel dialog;
  dialog.SetWidthText("1234");
  dialog.edWidthEnter();
  EXPECT_EQ(dialog.SelStart(Field::Width), 0u);
  EXPECT_EQ(dialog.SelLength(Field::Width), 4u);
}

TEST(RawInfoModel, OkStaysOpenWhenTheSizeDoesNotFit) {
  RawInfoModel dialog;
  dialog.Prepare(6000000, 0, 0, 0);
  dialog.SetWidthText("1000");
  dialog.SetHeightText("1999");
  EXPECT_FALSE(dialog.SpeedButton1Click());
  EXPECT_EQ(dialog.GetState(), State::Open);
  EXPECT_FALSE(dialog.Result().Ok);
}

TEST(RawInfoModel, OkComparesIn64Bits) {
  RawInfoModel dialog;
  const std::int64_t pixels = 150000LL * 150000LL;
  dialog.Prepare(pixels * 3, 0, 0, 0);
  dialog.SetWidthText("150000");
  EXPECT_EQ(dialog.HeightText(), "0");  // 150000 is not proposed
  dialog.SetHeightText("150000");
  ASSERT_TRUE(dialog.SpeedButton1Click());
  EXPECT_EQ(dialog.ImgWidth, 150000u);
  EXPECT_EQ(dialog.ImgHeight, 150000u);

  // 65537 × 65537 wraps to 131073 in 32 bits; it must not pass for a file
  // of 131073 pixels.
  dialog.Prepare(3 * 131073, 0, 0, 0);
  dialog.SetWidthText("65537");
  dialog.SetHeightText("65537");
  EXPECT_EQ(dialog.WidthText(), "65537");
  EXPECT_FALSE(dialog.SpeedButton1Click());
}

TEST(RawInfoModel, NegativeSidesAreNeverConfirmed) {
  RawInfoModel dialog;
  dialog.Prepare(6000000, 0, 0, 0);
  dialog.SetWidthText("-1000");
  dialog.SetHeightText("-2000");
  EXPECT_FALSE(dialog.SpeedButton1Click());
  EXPECT_EQ(dialog.GetState(), State::Open);
}

TEST(RawInfoModel, CancelZeroesTheResult) {
  RawInfoModel dialog;
  dialog.Prepare(6000000, 1000, 500, 0);
  EXPECT_EQ(dialog.ImgWidth, 1000u);
  dialog.SpeedButton2Click();
  EXPECT_EQ(dialog.GetState(), State::Cancelled);
  EXPECT_EQ(dialog.ImgWidth, 0u);
  EXPECT_EQ(dialog.ImgHeight, 0u);
  const RawDialogResult result = dialog.Result();
  EXPECT_FALSE(result.Ok);
  EXPECT_EQ(result.Width, 0u);
  EXPECT_EQ(result.Height, 0u);
}

TEST(RawInfoModel, TheNamedWidthIsShownAndItsHeightProposed) {
  RawInfoModel dialog;
  // photo_1000X3000.raw holding only 1000 × 2000 pixels.
  dialog.Prepare(6000000, 1000, 3000, 0);
  EXPECT_EQ(dialog.WidthText(), "1000");
  EXPECT_EQ(dialog.HeightText(), "2000");
  EXPECT_EQ(dialog.ImgWidth, 1000u);
  EXPECT_EQ(dialog.ImgHeight, 0u);
}

TEST(RawInfoModel, FieldsAndDepthPersistBetweenUses) {
  RawInfoModel dialog;
  dialog.Prepare(6000000, 0, 0, 0);
  TypeInto(dialog, Field::Width, "1000");
  dialog.Set8Bit(false);
  ASSERT_TRUE(dialog.SpeedButton1Click());

  // The next file names no size: the width stays, the height is proposed
  // anew for the new file at the depth left checked.
  dialog.Prepare(12000000, 0, 0, 0);
  EXPECT_EQ(dialog.GetState(), State::Open);
  EXPECT_FALSE(dialog.Is8Bit());
  EXPECT_EQ(dialog.NumPixel, 2000000);
  EXPECT_EQ(dialog.WidthText(), "1000");
  EXPECT_EQ(dialog.HeightText(), "2000");
  // Bits passed to Prepare leave the radio buttons alone.
  dialog.Prepare(12000000, 0, 0, 8);
  EXPECT_FALSE(dialog.Is8Bit());
}

}  // namespace
}  // namespace trelvi
