// Inputs whose headers lie: sizes up to 2^32 − 1, tile sets whose widths do
// not fit 32 bits, TIFF strips shorter than they claim. Each is refused or
// fails with the message the program already has, nothing reads or writes
// past a buffer (the sanitizer build watches), no absurd buffer is asked
// for, and no output is left behind.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "engine/trelvi.h"
#include "engine/utils.h"
#include "support/fixtures.h"
#include "support/hand_tiff.h"
#include "support/hook_recorder.h"
#include "support/scripted_ui.h"
#include "ui/window_rules.h"

namespace trelvi {
namespace {

namespace fs = std::filesystem;
using test::HandTiff;
using test::HookRecorder;
using test::ScriptedUi;
using test::TempDir;
using test::TiffBytes;

constexpr std::uint32_t kMax32 = 0xFFFFFFFFu;

// A KRO header with any numbers in it, followed by some pixel bytes.
std::vector<std::uint8_t> KroBytes(std::uint32_t w, std::uint32_t h,
                                   std::uint32_t bits, std::size_t pixelBytes) {
  std::vector<std::uint8_t> b = {'K', 'R', 'O', 1};
  for (std::uint32_t v : {w, h, bits, 4u}) {
    const std::uint32_t be = SwapBytes32(v);
    const auto* p = reinterpret_cast<const std::uint8_t*>(&be);
    b.insert(b.end(), p, p + 4);
  }
  b.resize(b.size() + pixelBytes, 0x5A);
  return b;
}

// A file of the given size that takes no room on disk.
void SparseFile(const std::string& name, std::uint64_t size) {
  { std::ofstream f(name, std::ios::binary); }
  fs::resize_file(name, size);
}

bool Describe(TTrelvi& engine, const std::string& name) {
  engine.InInfo = TFileInfo{};
  engine.InInfo.FileName = name;
  engine.ReadInputInfo(false);
  return engine.InInfo.ImageIsOk;
}

// Every regular file of a folder but the given ones.
std::vector<std::string> OtherFiles(const TempDir& dir,
                                    const std::vector<std::string>& keep) {
  std::vector<std::string> found;
  for (const auto& e : fs::directory_iterator(dir.Path())) {
    const std::string name = e.path().string();
    if (std::find(keep.begin(), keep.end(), name) == keep.end())
      found.push_back(name);
  }
  return found;
}

// ---------------------------------------------------------------------------
// Huge sizes

struct HugeCase {
  const char* Name;
  std::uint32_t W, H;
};
const HugeCase kHuge[] = {
    {"both sides 2^32-1", kMax32, kMax32},
    {"width 2^32-1", kMax32, 1},
    {"height 2^32-1", 1, kMax32},
    {"a row past 2^31 bytes", 0x20000000u, 2},
    {"just past the window's limit", 150001, 1},
};

// Whatever the header claims, a description never opens or allocates a row;
// the window's limits refuse every size past 150000 with their message.
TEST(HostileInput, HugeSizesAreDescribedWithoutAllocatingAndRefusedByLimits) {
  for (const HugeCase& c : kHuge)
    for (const char* ext : {".kro", ".tif"}) {
      SCOPED_TRACE(std::string(c.Name) + ext);
      TempDir dir;
      const std::string name = dir.File(std::string("huge") + ext);
      if (std::string(ext) == ".kro") {
        test::WriteBytes(name, KroBytes(c.W, c.H, 16, 8));
      } else {
        HandTiff t;
        t.Width = c.W;
        t.Height = c.H;
        t.RowsPerStrip = kMax32;
        t.Data.assign(12, 0x11);
        t.DeclaredBytes = {12};
        test::WriteBytes(name, TiffBytes(t));
      }
      ScriptedUi ui;
      TTrelvi engine(ui);
      // libtiff may already refuse such a directory; when it does not, the
      // sizes are taken as they stand.
      if (!Describe(engine, name)) continue;
      EXPECT_EQ(engine.InInfo.Width, c.W);
      EXPECT_EQ(engine.InInfo.Height, c.H);
      EXPECT_EQ(engine.InInfo.ScanLine, nullptr);
      EXPECT_TRUE(ui.Messages.empty());
      TFileInfo limited = engine.InInfo;
      EXPECT_EQ(rules::CheckInputLimits(limited),
                std::vector<std::string>{
                    "Image dimensions exceed the internal limits of this "
                    "version"});
      EXPECT_FALSE(limited.ImageIsOk);
    }
}

// The engine does not rely on the window's limits: a row that cannot be
// held is refused before any buffer is asked for, and nothing is written.
TEST(HostileInput, RowsTooLargeToHoldAreRefusedByEveryOperation) {
  for (const HugeCase& c : kHuge) {
    const std::uint64_t row = static_cast<std::uint64_t>(c.W) * 8;
    if (row <= kMaxRowBytes) continue;  // a row that fits: see below
    SCOPED_TRACE(c.Name);
    TempDir dir, out;
    const std::string name = dir.File("huge.kro");
    test::WriteBytes(name, KroBytes(c.W, c.H, 16, 64));
    const auto before = test::ReadBytes(name);

    for (int op = 0; op < 2; ++op) {
      ScriptedUi ui;
      TTrelvi engine(ui);
      HookRecorder hooks(engine);
      ASSERT_TRUE(Describe(engine, name));
      engine.OutInfo.ImageType = FileType::RAW;
      std::vector<std::string> list;
      if (op == 0) {
        engine.CropImage(0, 0, 1, 1, out.Dir(), "");
        EXPECT_EQ(hooks.Errors,
                  std::vector<std::string>{"Error opening input file"});
      } else {
        engine.SplitImage(256, 256, list, out.Dir(), "");
        EXPECT_EQ(hooks.Errors,
                  std::vector<std::string>{"Error opening input file"});
        EXPECT_TRUE(list.empty());
      }
      EXPECT_TRUE(engine.Aborted);
      EXPECT_EQ(ui.Texts(), std::vector<std::string>{
                                "Trelvi.OpenInFile : Not enough memory"});
      EXPECT_FALSE(engine.InOpen);
      EXPECT_EQ(engine.InInfo.ScanLine, nullptr);
      EXPECT_TRUE(fs::is_empty(out.Path()));
    }
    EXPECT_EQ(test::ReadBytes(name), before);
  }
}

// A header whose rows fit but whose file holds almost nothing: every
// operation fails at the first row it cannot read and keeps no output.
TEST(HostileInput, TallHeadersOverShortFilesFailAtTheFirstMissingRow) {
  TempDir dir, out;
  const std::string name = dir.File("tall.kro");
  // Two whole rows of 3 pixels (8 bits, 4 channels), then nothing.
  test::WriteBytes(name, KroBytes(3, kMax32, 8, 2 * 12));
  {
    ScriptedUi ui;
    TTrelvi engine(ui);
    HookRecorder hooks(engine);
    ASSERT_TRUE(Describe(engine, name));
    engine.OutInfo.ImageType = FileType::TIF;
    std::vector<std::string> list;
    engine.SplitImage(3, 5, list, out.Dir(), "");
    EXPECT_TRUE(engine.Aborted);
    EXPECT_EQ(hooks.Errors, std::vector<std::string>{"Input file read error"});
    EXPECT_FALSE(engine.InOpen);
    // The tile it had begun is not whole: neither it nor its partial file
    // stays.
    EXPECT_TRUE(list.empty());
    EXPECT_TRUE(fs::is_empty(out.Path()));
  }
  {
    // A crop inside the claimed height, below the rows the file holds.
    ScriptedUi ui;
    TTrelvi engine(ui);
    HookRecorder hooks(engine);
    ASSERT_TRUE(Describe(engine, name));
    engine.OutInfo.ImageType = FileType::KRO4;
    engine.CropImage(0, 1, 3, 100, out.Dir(), "");
    EXPECT_TRUE(engine.Aborted);
    EXPECT_EQ(hooks.Errors, std::vector<std::string>{"Read file error"});
    EXPECT_TRUE(fs::is_empty(out.Path()));
  }
}

// A file shorter than its header says: a last row that is only partly there
// still converts (a short row passes), and what the file lacks is black,
// not the row before it or memory nobody wrote.
TEST(HostileInput, WhatAShortRowLacksReadsAsBlack) {
  TempDir dir, out;
  const std::string name = dir.File("short.kro");
  auto bytes = KroBytes(3, 3, 8, 0);
  for (int i = 0; i < 2 * 12 + 5; ++i)
    bytes.push_back(static_cast<std::uint8_t>(10 + i));
  test::WriteBytes(name, bytes);
  TTrelvi engine;
  HookRecorder hooks(engine);
  ASSERT_TRUE(Describe(engine, name));
  engine.OutInfo.ImageType = FileType::RAW;
  engine.CropImage(0, 0, 3, 3, out.Dir(), "");
  ASSERT_FALSE(engine.Aborted) << ::testing::PrintToString(hooks.Errors);
  std::vector<std::uint8_t> expected;
  for (int i = 0; i < 3 * 12; ++i) {
    const std::uint8_t v =
        i < 2 * 12 + 5 ? static_cast<std::uint8_t>(10 + i) : 0;
    if (i % 4 != 3) expected.push_back(v);  // alpha is dropped
  }
  EXPECT_EQ(test::ReadBytes(out.File("short_3X3.raw")), expected);
}

// A RAW file named with a huge size that its length really matches (a
// sparse file): described as named, refused by the limits, and no row is
// ever allocated.
TEST(HostileInput, HugeSizeNamedRawIsRefusedBeforeAnyRowIsHeld) {
  TempDir dir, out;
  const std::string name = dir.File("pano_4294967295X1.raw");
  SparseFile(name, 3ull * kMax32);
  ScriptedUi ui;
  TTrelvi engine(ui);
  HookRecorder hooks(engine);
  ASSERT_TRUE(Describe(engine, name));
  EXPECT_EQ(engine.InInfo.Width, kMax32);
  TFileInfo limited = engine.InInfo;
  EXPECT_EQ(rules::CheckInputLimits(limited).size(), 1u);
  engine.OutInfo.ImageType = FileType::TIF;
  engine.CropImage(0, 0, 1, 1, out.Dir(), "");
  EXPECT_TRUE(engine.Aborted);
  EXPECT_EQ(hooks.Errors, std::vector<std::string>{"Error opening input file"});
  EXPECT_TRUE(fs::is_empty(out.Path()));
}

// Output creation sizes the file in 64 bits; a product that would wrap is
// held at its ceiling, so a size no disk holds is never taken for a small
// one.
TEST(HostileInput, OutputSizesThatWrapSixtyFourBitsAreNeverSmall) {
  TempDir dir;
  SetFreeSpaceQuery([](const std::string&) { return 1ull << 40; });
  for (FileType type : {FileType::KRO4, FileType::TIF, FileType::RAW}) {
    SCOPED_TRACE(static_cast<int>(type));
    ScriptedUi ui;
    TTrelvi engine(ui);
    HookRecorder hooks(engine);
    engine.InInfo.FileName = dir.File("in.raw");
    engine.InInfo.Bits = 8;
    engine.OutInfo.ImageType = type;
    // 2^31 × 2^31 × 4 is 2^64: a wrapped product would read 0 bytes.
    engine.OutInfo.Width = 0x80000000u;
    engine.OutInfo.Height = 0x80000000u;
    EXPECT_FALSE(engine.CreateOutFile(dir.File("out")));
    EXPECT_EQ(hooks.Errors,
              std::vector<std::string>{
                  "There is not enough space on the destination directory"});
    EXPECT_TRUE(ui.Messages.empty());
    EXPECT_FALSE(engine.OutOpen);
    engine.CloseOutFile();
  }
  SetFreeSpaceQuery(nullptr);
  EXPECT_TRUE(fs::is_empty(dir.Path()));
}

// ---------------------------------------------------------------------------
// Tile sets

// Tiles that each fit, but whose widths add up past 32 bits (or whose
// heights add up past what the progress can count), are refused before the
// output exists.
TEST(HostileInput, TileSetsWhoseSumsOverflowAreRefusedBeforeAnyOutput) {
  struct Case {
    const char* Name;
    std::uint32_t Cols, Rows, W, H;
  } cases[] = {
      {"widths past 2^32", 2, 1, 0x80000001u, 1},
      {"widths exactly 2^32", 4, 1, 0x40000000u, 1},
      {"heights past 2^31", 1, 2, 1, 0x40000001u},
      {"both", 3, 3, kMax32, kMax32},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    TempDir dir;
    std::vector<std::string> files;
    for (std::uint32_t r = 1; r <= c.Rows; ++r)
      for (std::uint32_t k = 1; k <= c.Cols; ++k) {
        files.push_back(dir.File("set_x" + std::to_string(k) + "y" +
                                 std::to_string(r) + ".kro"));
        test::WriteBytes(files.back(), KroBytes(c.W, c.H, 8, 4));
      }
    ScriptedUi ui;
    TTrelvi engine(ui);
    HookRecorder hooks(engine);
    engine.OutInfo.ImageType = FileType::KRO4;
    engine.MergeTiles(c.Cols, c.Rows, files, dir.Dir() + "m_", "");
    EXPECT_TRUE(engine.Aborted);
    EXPECT_TRUE(hooks.Errors.empty());
    EXPECT_EQ(ui.Texts(),
              std::vector<std::string>{"Found error in tile dimensions"});
    EXPECT_TRUE(OtherFiles(dir, files).empty());
  }
}

// One tile whose row cannot be held: the output cannot be created and the
// merge reports it; nothing is left.
TEST(HostileInput, ATileTooWideToHoldIsRefusedWithoutOutput) {
  TempDir dir;
  const std::string tile = dir.File("w_x1y1.kro");
  test::WriteBytes(tile, KroBytes(kMax32, 1, 8, 16));
  ScriptedUi ui;
  TTrelvi engine(ui);
  HookRecorder hooks(engine);
  engine.OutInfo.ImageType = FileType::TIF;
  SetFreeSpaceQuery([](const std::string&) { return ~0ull; });
  engine.MergeTiles(1, 1, {tile}, dir.Dir() + "m_", "");
  SetFreeSpaceQuery(nullptr);
  EXPECT_TRUE(engine.Aborted);
  EXPECT_EQ(ui.Texts(), std::vector<std::string>{"Not enough memory"});
  ASSERT_EQ(hooks.Errors.size(), 1u);
  EXPECT_EQ(hooks.Errors[0].rfind("Cannot create the file ", 0), 0u);
  EXPECT_TRUE(OtherFiles(dir, {tile}).empty());
}

// ---------------------------------------------------------------------------
// TIFF strips shorter than declared

struct StripCase {
  const char* Name;
  HandTiff Tiff;
};

std::vector<StripCase> ShortStrips() {
  const std::vector<std::uint8_t> whole(8 * 4 * 3, 0x37);
  std::vector<StripCase> cases;
  HandTiff t;
  t.DeclaredBytes = {96};
  t.Data.assign(whole.begin(), whole.begin() + 40);
  cases.push_back({"strip cut in its second row", t});
  t.Data.clear();
  cases.push_back({"strip missing entirely", t});
  // libtiff mends the byte count of a lone strip that cannot be right, so
  // these lies only fail where the bytes really are missing.
  t.Data.assign(whole.begin(), whole.begin() + 40);
  t.DeclaredBytes = {kMax32};
  cases.push_back({"byte count of 2^32-1", t});
  t.Data = whole;
  t.DeclaredBytes = {96};
  t.FirstStripOffset = 0x7FFFFFF0u;
  cases.push_back({"strip offset past the end", t});
  t.FirstStripOffset = 0;
  t.Data.assign(whole.begin(), whole.begin() + 48);
  t.DeclaredBytes = {48};
  cases.push_back({"byte count of half the rows", t});
  t.RowsPerStrip = 1;
  t.DeclaredBytes = {};
  t.Data.assign(whole.begin(), whole.begin() + 24 * 2 + 10);
  cases.push_back({"one row per strip, cut in the third", t});
  t.RowsPerStrip = 4;
  // LZW: a valid compressed strip would need an encoder; a few bytes of a
  // code stream that stops short are enough to starve the decoder.
  t.Compression = 5;
  t.DeclaredBytes = {96};
  t.Data = {0x80, 0x0D, 0x86};
  cases.push_back({"LZW strip that stops short", t});
  t.Data.assign(96, 0xFF);
  cases.push_back({"LZW strip of garbage", t});
  return cases;
}

// Each such TIFF is refused when described, or fails with the operation's
// read message at the first row it cannot deliver; no output remains.
TEST(HostileInput, TiffStripsShorterThanDeclaredFailWithTheReadMessage) {
  for (const StripCase& c : ShortStrips()) {
    SCOPED_TRACE(c.Name);
    TempDir dir, out;
    const std::string name = dir.File("short.tif");
    test::WriteBytes(name, TiffBytes(c.Tiff));
    const auto before = test::ReadBytes(name);

    for (int op = 0; op < 3; ++op) {
      SCOPED_TRACE(op);
      ScriptedUi ui;
      TTrelvi engine(ui);
      HookRecorder hooks(engine);
      engine.OutInfo.ImageType = FileType::RAW;
      if (op == 2) {
        // The file as the only tile of a merge.
        const std::string tile = dir.File("short_x1y1.tif");
        fs::copy_file(name, tile, fs::copy_options::overwrite_existing);
        engine.MergeTiles(1, 1, {tile}, out.Dir(), "");
        EXPECT_TRUE(engine.Aborted);
        ASSERT_EQ(hooks.Errors.size(), 1u);
        EXPECT_TRUE(hooks.Errors[0] == "Tile X=1 Y=1 read error" ||
                    hooks.Errors[0] == "Tile X=1 Y=1 is not valid")
            << hooks.Errors[0];
        fs::remove(tile);
        EXPECT_TRUE(fs::is_empty(out.Path()));
        continue;
      }
      if (!Describe(engine, name)) continue;  // refused: nothing to run
      std::vector<std::string> list;
      if (op == 0) {
        engine.CropImage(0, 0, 8, 4, out.Dir(), "");
        EXPECT_EQ(hooks.Errors, std::vector<std::string>{"Read file error"});
        EXPECT_TRUE(fs::is_empty(out.Path()));
      } else {
        engine.SplitImage(4, 2, list, out.Dir(), "");
        EXPECT_EQ(hooks.Errors,
                  std::vector<std::string>{"Input file read error"});
        for (const auto& f : list) fs::remove(f);
      }
      EXPECT_TRUE(engine.Aborted);
      EXPECT_FALSE(engine.InOpen);
      EXPECT_FALSE(engine.InReaderOpen());
    }
    EXPECT_EQ(test::ReadBytes(name), before);
  }
}

// The file as built, with its strip whole, is a good input: the failures
// above come from the lies alone.
TEST(HostileInput, TheHandBuiltTiffReadsWhenItsStripIsWhole) {
  TempDir dir, out;
  HandTiff t;
  t.Data = test::MakePixels(8, 4, 3, 8);
  const std::string name = dir.File("whole.tif");
  test::WriteBytes(name, TiffBytes(t));
  TTrelvi engine;
  HookRecorder hooks(engine);
  ASSERT_TRUE(Describe(engine, name));
  engine.OutInfo.ImageType = FileType::RAW;
  engine.CropImage(0, 0, 8, 4, out.Dir(), "");
  ASSERT_FALSE(engine.Aborted) << ::testing::PrintToString(hooks.Errors);
  EXPECT_EQ(test::ReadBytes(out.File("whole_8X4.raw")), t.Data);
}

}  // namespace
}  // namespace trelvi
