#include "ui/drop_routing.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/fixtures.h"

namespace trelvi {
namespace {

// The window's bands: input 80-232, output 443-588.
const BandExtent kInput{80, 153};
const BandExtent kOutput{443, 146};

TEST(DropRouting, OnlyTheVerticalCoordinateDecides) {
  const struct {
    int y;
    DropBand band;
  } cases[] = {
      {0, DropBand::None},     {79, DropBand::None},    // mode buttons
      {80, DropBand::Input},   {232, DropBand::Input},  // input band edges
      {233, DropBand::None},   {442, DropBand::None},   // mode panel
      {443, DropBand::Output}, {588, DropBand::Output},
      {589, DropBand::None},   {607, DropBand::None},  // status line
      {-5, DropBand::None},    {5000, DropBand::None},
  };
  for (const auto& c : cases)
    EXPECT_EQ(RouteDrop(c.y, kInput, kOutput), c.band) << c.y;
}

class DropPlanTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::WriteBytes(a, {1});
    test::WriteBytes(b, {2});
    std::filesystem::create_directory(folder);
  }
  test::TempDir dir;
  std::string a = dir.File("a_x1y1.kro");
  std::string b = dir.File("a_x2y1.kro");
  std::string folder = dir.File("out");
  std::string missing = dir.File("gone.tif");
};

TEST_F(DropPlanTest, InputBandTakesExistingFilesInDropOrder) {
  auto plan = PlanDrop({b, folder, missing, a}, true, 100, kInput, kOutput);
  EXPECT_EQ(plan.Band, DropBand::Input);
  EXPECT_EQ(plan.InputFiles, (std::vector<std::string>{b, a}));
  EXPECT_TRUE(plan.OutputFolder.empty());
}

TEST_F(DropPlanTest, SingleSelectionConsidersTheFirstItemOnly) {
  EXPECT_EQ(PlanDrop({a, b}, false, 100, kInput, kOutput).InputFiles,
            (std::vector<std::string>{a}));
  // A folder first: nothing, even though a file follows.
  EXPECT_TRUE(
      PlanDrop({folder, a}, false, 100, kInput, kOutput).InputFiles.empty());
}

TEST_F(DropPlanTest, OutputBandTakesTheFirstExistingFolder) {
  const std::string second = dir.File("second");
  std::filesystem::create_directory(second);
  auto plan = PlanDrop({a, folder, second}, true, 500, kInput, kOutput);
  EXPECT_EQ(plan.Band, DropBand::Output);
  EXPECT_EQ(plan.OutputFolder, folder);
  EXPECT_TRUE(plan.InputFiles.empty());
  // Files dropped there do nothing; in single selection only the first item
  // counts.
  EXPECT_TRUE(PlanDrop({a}, true, 500, kInput, kOutput).OutputFolder.empty());
  EXPECT_TRUE(
      PlanDrop({a, folder}, false, 500, kInput, kOutput).OutputFolder.empty());
}

TEST_F(DropPlanTest, ElsewhereNothingIsTaken) {
  auto plan = PlanDrop({a, folder}, true, 300, kInput, kOutput);
  EXPECT_EQ(plan.Band, DropBand::None);
  EXPECT_TRUE(plan.InputFiles.empty());
  EXPECT_TRUE(plan.OutputFolder.empty());
  EXPECT_TRUE(PlanDrop({}, true, 100, kInput, kOutput).InputFiles.empty());
}

TEST_F(DropPlanTest, EventsAreServicedBeforeEveryTenthItem) {
  const struct {
    std::size_t items;
    bool multiple;
    int y;
    int turns;
  } cases[] = {
      {1, true, 100, 1},
      {10, true, 100, 1},
      {11, true, 100, 2},
      {25, true, 100, 3},
      {1000, true, 100, 100},
      {25, false, 100, 1},  // single selection looks at one item
      {25, true, 300, 3},   // every item is looked at, even off the bands
  };
  for (const auto& c : cases) {
    const std::vector<std::string> items(c.items, missing);
    int turns = 0;
    PlanDrop(items, c.multiple, c.y, kInput, kOutput, [&] { ++turns; });
    EXPECT_EQ(turns, c.turns) << c.items << " " << c.multiple << " " << c.y;
  }
  // The output band stops at the first folder.
  std::vector<std::string> items(30, folder);
  int turns = 0;
  PlanDrop(items, true, 500, kInput, kOutput, [&] { ++turns; });
  EXPECT_EQ(turns, 1);
}

}  // namespace
}  // namespace trelvi
