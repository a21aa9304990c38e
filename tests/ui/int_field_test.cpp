#include "ui/int_field.h"

#include <gtest/gtest.h>

namespace trelvi {
namespace {

TEST(IntField, TypingKeepsTheValueUnclamped) {
  IntField f(256, 30000, 1000);
  EXPECT_EQ(f.Text(), "1000");
  // A value below the minimum and one above the maximum are both seen as
  // typed; only leaving the field brings them into range.
  EXPECT_TRUE(f.Type("2"));
  EXPECT_EQ(f.Value(), 2);
  EXPECT_TRUE(f.Type("50000"));
  EXPECT_EQ(f.Value(), 50000);
  EXPECT_TRUE(f.Type(""));
  EXPECT_EQ(f.Value(), 0);
}

TEST(IntField, TypingTakesDigitsOnly) {
  IntField f(0, 9999999, 0);
  for (const char* bad : {"-1", "+1", "1a", " 1", "1.5", "1,5", "１"}) {
    EXPECT_FALSE(f.Type(bad)) << bad;
    EXPECT_EQ(f.Text(), "0") << bad;
  }
  EXPECT_TRUE(f.Type("0042"));
  EXPECT_EQ(f.Value(), 42);
}

TEST(IntField, LeavingAndPastingClampAndTellWhetherTheTextChanged) {
  const struct {
    const char* typed;
    const char* shown;
    bool changed;
  } cases[] = {
      {"50000", "30000", true},  // above the maximum
      {"2", "256", true},        // below the minimum
      {"", "256", true},         // empty is 0
      {"0300", "300", true},     // leading zeros go
      {"300", "300", false},     // in range: nothing to raise
      {"30000", "30000", false},
  };
  for (const auto& c : cases) {
    IntField f(256, 30000, 1000);
    ASSERT_TRUE(f.Type(c.typed));
    EXPECT_EQ(f.Normalize(), c.changed) << c.typed;
    EXPECT_EQ(f.Text(), c.shown) << c.typed;
  }
}

TEST(IntField, ProgramSetClampsAndRaisesOnlyOnAChangedText) {
  IntField f(0, 999999, 0);
  EXPECT_FALSE(f.SetValue(0));
  EXPECT_TRUE(f.SetValue(750));
  EXPECT_EQ(f.Text(), "750");
  EXPECT_FALSE(f.SetValue(750));
  EXPECT_TRUE(f.SetValue(5'000'000'000ll));
  EXPECT_EQ(f.Text(), "999999");
  EXPECT_FALSE(f.SetValue(1'000'000));  // clamps to the text already shown
  EXPECT_TRUE(f.SetValue(-5));
  EXPECT_EQ(f.Text(), "0");
}

TEST(IntField, RangeAndDigits) {
  IntField f(256, 9999999, 1000);
  EXPECT_EQ(f.MaxDigits(), 7);
  f.SetRange(256, 30000);
  EXPECT_EQ(f.MaxDigits(), 5);
  EXPECT_EQ(f.Text(), "1000");  // the range alone does not touch the text
  ASSERT_TRUE(f.Type("99999"));
  EXPECT_TRUE(f.Normalize());
  EXPECT_EQ(f.Text(), "30000");
  // A long run of digits saturates rather than wrapping into a small value.
  ASSERT_TRUE(f.Type("99999999999999999999999"));
  EXPECT_EQ(f.Value(), INT64_MAX);
  EXPECT_TRUE(f.Normalize());
  EXPECT_EQ(f.Text(), "30000");
  // The initial value is held to the range too.
  EXPECT_EQ(IntField(512, 999999, 1).Text(), "512");
}

}  // namespace
}  // namespace trelvi
