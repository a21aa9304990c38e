#include "operations/pyramid_op.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "engine/naming.h"
#include "engine/trelvi.h"
#include "operations/pyramid/dzi_layout.h"
#include "operations/pyramid/pyramid_builder.h"
#include "operations/pyramid/viewer_page.h"
#include "ops_fixtures.h"
#include "support/fixtures.h"
#include "support/hook_recorder.h"
#include "support/metadata_fixture.h"
#include "support/scripted_ui.h"

namespace trelvi::test {
namespace {

namespace fs = std::filesystem;
using pyramid::TileFormat;
using Bytes = std::vector<std::uint8_t>;

std::string ReadText(const std::string& fileName) {
  const Bytes bytes = ReadBytes(fileName);
  return std::string(bytes.begin(), bytes.end());
}

// Every file under a folder, by its path relative to it.
std::map<std::string, Bytes> Tree(const fs::path& root) {
  std::map<std::string, Bytes> files;
  for (const auto& entry : fs::recursive_directory_iterator(root))
    if (entry.is_regular_file())
      files[fs::relative(entry.path(), root).string()] =
          ReadBytes(entry.path().string());
  return files;
}

std::vector<std::string> Names(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// The input's pixels as the tiles must hold them: 8 bits (16-bit samples,
// least significant byte first, to v / 257 rounded), `channels` kept.
Bytes Expected8(const Bytes& pixels, int inChannels, int bits, int channels) {
  const std::size_t count = pixels.size() / (bits / 8) / inChannels;
  Bytes out(count * channels);
  for (std::size_t p = 0; p < count; ++p)
    for (int c = 0; c < channels; ++c) {
      const std::size_t i = p * inChannels + c;
      if (bits == 8) {
        out[p * channels + c] = pixels[i];
      } else {
        const std::uint16_t v = static_cast<std::uint16_t>(
            pixels[2 * i] | (pixels[2 * i + 1] << 8));
        pyramid::Convert16To8(&v, &out[p * channels + c], 1);
      }
    }
  return out;
}

// The tiles the builder itself makes of those pixels.
std::map<std::string, Bytes> ReferenceTiles(const TempDir& dir,
                                            const Bytes& pixels,
                                            std::uint32_t w, std::uint32_t h,
                                            int channels,
                                            const PyramidRequest& r) {
  pyramid::PyramidOptions o;
  o.Width = w;
  o.Height = h;
  o.Channels = channels;
  o.TileSize = r.TileSize;
  o.Overlap = r.Overlap;
  o.Encoding.Format = r.Format;
  o.Encoding.Quality = r.Quality;
  o.TilesDir = dir.File("reference_files");
  pyramid::PyramidBuilder builder(o);
  EXPECT_TRUE(builder.Start());
  const std::size_t row = static_cast<std::size_t>(w) * channels;
  for (std::uint32_t y = 0; y < h; ++y)
    EXPECT_TRUE(builder.PushRow(pixels.data() + y * row));
  EXPECT_TRUE(builder.Finish().Ok);
  return Tree(o.TilesDir);
}

struct Case {
  InputKind Kind;
  int Bits;
  TileFormat Format;
  int TileChannels;  // RGBA inputs keep alpha in PNG tiles only
};

TEST(PyramidImage, TilesEqualTheBuilderFedTheInputPixels) {
  const Case cases[] = {
      {InputKind::Raw, 8, TileFormat::Png, 3},
      {InputKind::Raw, 16, TileFormat::Png, 3},
      {InputKind::Tif, 8, TileFormat::Png, 4},
      {InputKind::Tif, 16, TileFormat::Png, 4},
      {InputKind::Kro, 16, TileFormat::Jpeg, 3},
      {InputKind::Tif, 8, TileFormat::Jpeg, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << "kind " << static_cast<int>(c.Kind) << " bits " << c.Bits
                 << " format " << static_cast<int>(c.Format));
    TempDir dir;
    const std::uint32_t w = 150, h = 97;
    const auto img = MakeInput(dir, c.Kind, w, h, c.Bits);
    const int inChannels = c.Kind == InputKind::Raw ? 3 : 4;
    const Bytes source = MakePixels(w, h, inChannels, c.Bits);

    TTrelvi engine;
    HookRecorder hooks(engine);
    Describe(engine, img.FileName);
    PyramidRequest r;
    r.OutDir = dir.File("out");
    fs::create_directory(r.OutDir);
    r.TileSize = 64;
    r.Overlap = 2;
    r.Format = c.Format;
    ASSERT_TRUE(PyramidImage(engine, r))
        << testing::PrintToString(hooks.Errors);
    EXPECT_FALSE(engine.Aborted);
    EXPECT_TRUE(hooks.Errors.empty());
    EXPECT_FALSE(engine.InOpen);
    EXPECT_EQ(hooks.ProgressMax, static_cast<std::int32_t>(h));
    ASSERT_FALSE(hooks.Progress.empty());
    EXPECT_EQ(hooks.Progress.back(), static_cast<std::int32_t>(h));
    EXPECT_EQ(hooks.Statuses.front(), "Saving lines... (91)");
    ASSERT_GE(hooks.Statuses.size(), 2u);
    EXPECT_EQ(hooks.Statuses[hooks.Statuses.size() - 2], "Saving lines... (1)");
    // No viewer script was given: the pyramid is written, the page is not.
    EXPECT_EQ(hooks.Statuses.back(),
              "Viewer script not found: the pyramid was written without its "
              "page");

    const std::string ext = c.Format == TileFormat::Png ? "png" : "jpg";
    const std::string base = GetBaseName(img.FileName);
    EXPECT_EQ(Names(r.OutDir),
              (std::vector<std::string>{base + ".dzi", base + "_files"}));
    EXPECT_EQ(ReadText(dir.File("out/" + base + ".dzi")),
              pyramid::Descriptor(ext, 2, 64, w, h));
    const auto tiles = Tree(dir.File("out/" + base + "_files"));
    // Levels 0..8 (256 > 150 > 128); the top has 3 x 2 tiles.
    EXPECT_EQ(tiles.count("8/2_1." + ext), 1u);
    EXPECT_EQ(tiles.count("0/0_0." + ext), 1u);
    EXPECT_EQ(tiles.count("9/0_0." + ext), 0u);
    EXPECT_EQ(tiles,
              ReferenceTiles(
                  dir, Expected8(source, inChannels, c.Bits, c.TileChannels), w,
                  h, c.TileChannels, r));
  }
}

TEST(PyramidImage, OnePixelAndOnePixelWideImages) {
  const std::pair<std::uint32_t, std::uint32_t> sizes[] = {
      {1, 1}, {1, 37}, {37, 1}};
  for (const auto& [w, h] : sizes) {
    SCOPED_TRACE(testing::Message() << w << " x " << h);
    TempDir dir;
    const auto img = MakeInput(dir, InputKind::Raw, w, h, 8);
    TTrelvi engine;
    HookRecorder hooks(engine);
    Describe(engine, img.FileName);
    PyramidRequest r;
    r.OutDir = dir.File("out");
    fs::create_directory(r.OutDir);
    r.TileSize = 64;
    r.Format = TileFormat::Png;
    ASSERT_TRUE(PyramidImage(engine, r))
        << testing::PrintToString(hooks.Errors);
    const auto tiles =
        Tree(dir.File("out/" + GetBaseName(img.FileName) + "_files"));
    EXPECT_EQ(tiles.size(),
              static_cast<std::size_t>(pyramid::LevelCount(w, h)));
    EXPECT_EQ(tiles, ReferenceTiles(dir, MakePixels(w, h, 3, 8), w, h, 3, r));
  }
}

TEST(PyramidImage, AbortLeavesNothingBehind) {
  TempDir dir;
  const auto img = MakeInput(dir, InputKind::Raw, 300, 200, 8);
  TTrelvi engine;
  HookRecorder hooks(engine);
  hooks.AbortAtProgress = 20;  // row 140 of 200: tiles are already written
  Describe(engine, img.FileName);
  PyramidRequest r;
  r.OutDir = dir.File("out");
  fs::create_directory(r.OutDir);
  r.TileSize = 64;
  EXPECT_FALSE(PyramidImage(engine, r));
  EXPECT_TRUE(engine.Aborted);
  EXPECT_FALSE(engine.InOpen);
  EXPECT_EQ(hooks.Hides, 1);
  EXPECT_TRUE(Names(r.OutDir).empty());
}

TEST(PyramidImage, ExistingPyramidIsReplacedOnlyWhenTheUserSaysYes) {
  for (const MsgResult answer : {MsgResult::No, MsgResult::Yes}) {
    TempDir dir;
    const auto img = MakeInput(dir, InputKind::Raw, 40, 30, 8);
    const std::string base = GetBaseName(img.FileName);
    WriteBytes(dir.File(base + ".dzi"), Bytes{'o', 'l', 'd'});
    fs::create_directories(dir.File(base + "_files/0"));
    WriteBytes(dir.File(base + "_files/0/stale.jpg"), Bytes{1});

    ScriptedUi ui;
    ui.AnswerYesNo(answer);
    TTrelvi engine(ui);
    HookRecorder hooks(engine);
    Describe(engine, img.FileName);
    PyramidRequest r;  // into the input's folder
    EXPECT_EQ(PyramidImage(engine, r), answer == MsgResult::Yes);
    ASSERT_EQ(ui.Messages.size(), 1u);
    EXPECT_EQ(ui.Messages[0].Text,
              "Output file exists. Do you want to overwrite it?");
    const bool kept = answer == MsgResult::No;
    EXPECT_EQ(ReadText(dir.File(base + ".dzi")) == "old", kept);
    EXPECT_EQ(fs::exists(dir.File(base + "_files/0/stale.jpg")), kept);
    EXPECT_EQ(fs::exists(dir.File(base + "_files/6/0_0.jpg")), !kept);
    for (const auto& name : Names(dir.Path()))
      EXPECT_EQ(name.find(".partial"), std::string::npos) << name;
    EXPECT_FALSE(fs::exists(dir.File(base + "_files.replaced")));
  }
}

TEST(PyramidImage, WritesThePageAndTheScriptBesideIt) {
  TempDir dir;
  const auto img = MakeInput(dir, InputKind::Raw, 40, 30, 8);
  const std::string base = GetBaseName(img.FileName);
  const std::string script = dir.File("osd.js");
  WriteBytes(script, Bytes{'/', '/', 'x'});
  TTrelvi engine;
  HookRecorder hooks(engine);
  Describe(engine, img.FileName);
  PyramidRequest r;
  r.OutDir = dir.File("out");
  fs::create_directory(r.OutDir);
  r.ViewerScript = script;
  ASSERT_TRUE(PyramidImage(engine, r));
  EXPECT_EQ(ReadText(dir.File("out/" + base + ".html")),
            pyramid::ViewerPage(base, "jpg", 1, 254, 40, 30));
  EXPECT_EQ(ReadText(dir.File("out/openseadragon.min.js")), "//x");
}

// The input's colour profile goes into every tile of every level, and a
// tile of an input without one carries none.
TEST(PyramidImage, TilesCarryTheInputsColourProfile) {
  for (const bool withProfile : {true, false})
    for (const TileFormat format : {TileFormat::Jpeg, TileFormat::Png}) {
      SCOPED_TRACE(testing::Message()
                   << withProfile << " " << pyramid::FormatExtension(format));
      TempDir dir;
      MetadataSpec spec;
      spec.Width = 150;
      spec.Height = 70;
      if (!withProfile) spec.Icc.clear();
      const std::string input = dir.File("photo.tif");
      WriteMetadataTiff(input, spec);
      TTrelvi engine;
      HookRecorder hooks(engine);
      Describe(engine, input);
      PyramidRequest r;
      r.OutDir = dir.File("out");
      fs::create_directory(r.OutDir);
      r.TileSize = 64;
      r.Format = format;
      ASSERT_TRUE(PyramidImage(engine, r))
          << testing::PrintToString(hooks.Errors);
      // PNG's iCCP chunk; JPEG's APP2 segments.
      const std::string marker =
          format == TileFormat::Png ? "iCCP" : "ICC_PROFILE";
      const auto tiles = Tree(dir.File("out/photo_files"));
      ASSERT_GT(tiles.size(), 8u);
      for (const auto& [name, bytes] : tiles) {
        const bool found =
            std::search(bytes.begin(), bytes.end(), marker.begin(),
                        marker.end()) != bytes.end();
        EXPECT_EQ(found, withProfile) << name;
      }
    }
}

}  // namespace
}  // namespace trelvi::test
