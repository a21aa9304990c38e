#include "ui/pyramid_fields.h"

#include <gtest/gtest.h>

namespace trelvi::rules {
namespace {

TEST(PyramidFields, TheRequestTakesTheFieldsWithinTheirLimits) {
  const struct {
    std::int64_t tile, overlap;
    std::uint32_t wantTile, wantOverlap;
  } cases[] = {
      {254, 1, 254, 1},        // the defaults
      {64, 0, 64, 0},          // the lowest of each
      {4096, 16, 4096, 16},    // the highest of each
      {63, 17, 64, 16},        // one past each end
      {0, 0, 64, 0},           // an emptied field reads 0
      {5, 3, 64, 3},           // still being typed
      {4097, 99, 4096, 16},    // typed past the top
      {9999999, -1, 4096, 0},  // far out, and a value below any field's
      {std::int64_t{1} << 40, 1, 4096, 1},  // does not wrap at 32 bits
  };
  for (const auto& c : cases) {
    PyramidFields fields;
    fields.TileSize = c.tile;
    fields.Overlap = c.overlap;
    const PyramidRequest r = PyramidRequestFrom(fields, "/out/", "/v.js");
    EXPECT_EQ(r.TileSize, c.wantTile) << c.tile;
    EXPECT_EQ(r.Overlap, c.wantOverlap) << c.overlap;
  }
}

TEST(PyramidFields, FolderFormatAndScriptGoIntoTheRequestTheRestStaysDefault) {
  const PyramidFields defaults;
  EXPECT_EQ(defaults.TileSize, 254);
  EXPECT_EQ(defaults.Overlap, 1);
  EXPECT_FALSE(defaults.Png);

  PyramidFields png;
  png.Png = true;
  const PyramidRequest fromPng = PyramidRequestFrom(png, "/out/", "/v.js");
  EXPECT_EQ(fromPng.OutDir, "/out/");
  EXPECT_EQ(fromPng.ViewerScript, "/v.js");
  EXPECT_EQ(fromPng.Format, pyramid::TileFormat::Png);
  const PyramidRequest plain;
  EXPECT_EQ(fromPng.Quality, plain.Quality);
  EXPECT_EQ(fromPng.Quality, 90);
  EXPECT_EQ(fromPng.Threads, plain.Threads);
  EXPECT_EQ(fromPng.Desc, plain.Desc);

  const PyramidRequest fromJpeg = PyramidRequestFrom(defaults, "", "");
  EXPECT_EQ(fromJpeg.Format, pyramid::TileFormat::Jpeg);
  EXPECT_EQ(fromJpeg.OutDir, "");
  EXPECT_EQ(fromJpeg.ViewerScript, "");
}

TEST(PyramidFields, WhichControlsApply) {
  const struct {
    bool splitShown, pyramid;
    bool tiles, pyramidFields, format;
  } cases[] = {
      {true, false, true, false, true},
      {true, true, false, true, false},
      // Another mode writes its output format even with the box ticked.
      {false, true, false, true, true},
      {false, false, true, false, true},
  };
  for (const auto& c : cases) {
    const SplitPanelControls s = SplitControls(c.splitShown, c.pyramid);
    EXPECT_EQ(s.TileFields, c.tiles) << c.splitShown << c.pyramid;
    EXPECT_EQ(s.PyramidFields, c.pyramidFields) << c.splitShown << c.pyramid;
    EXPECT_EQ(s.OutputFormat, c.format) << c.splitShown << c.pyramid;
  }
}

}  // namespace
}  // namespace trelvi::rules
