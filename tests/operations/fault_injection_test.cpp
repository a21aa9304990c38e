// Faults in the middle of every streaming operation (convert, crop, split,
// merge) and every output format: the disk filling up at the output's
// creation, before the first row, half-way and at the last row; the input
// cut short in the middle of a row; an abort at a random row. Afterwards the
// message is the operation's own, the input is byte for byte what it was,
// nothing is open, a convert, crop or merge leaves no partial output, and a
// split leaves exactly the tiles it reported, those of finished tile rows
// whole.
//
// Write failures are made in a child process whose file-size limit drops to
// zero at the chosen moment, as a full disk would.

#include "support/fault_injection.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "engine/naming.h"
#include "engine/trelvi.h"
#include "engine/utils.h"
#include "operations/ops_fixtures.h"
#include "support/hand_tiff.h"
#include "support/hook_recorder.h"
#include "support/scripted_ui.h"

namespace trelvi {
namespace {

namespace fs = std::filesystem;
using test::HookRecorder;
using test::InputKind;
using test::Outcome;
using test::ScriptedUi;
using test::TempDir;

// 43 rows: the last row, 42, is a multiple of 7, so the last progress report
// of a convert or merge comes with the last row.
constexpr std::uint32_t kW = 24, kH = 43;
constexpr std::uint32_t kTileW = 10, kTileH = 15;  // 3 × 3 tiles
constexpr std::uint32_t kCols = 3, kRows = 3;

enum class Op { Convert, Crop, Split, Merge };
const char* Name(Op op) {
  switch (op) {
    case Op::Convert:
      return "convert";
    case Op::Crop:
      return "crop";
    case Op::Split:
      return "split";
    case Op::Merge:
      return "merge";
  }
  return "";
}

struct Format {
  FileType Type;
  bool Lzw;
  const char* Name;
};
const Format kFormats[] = {{FileType::RAW, false, "raw"},
                           {FileType::KRO4, false, "kro"},
                           {FileType::TIF, false, "tif"},
                           {FileType::TIF, true, "tif lzw"}};

// One operation on its own input: a picture of its own kind and depth, or
// for the merge the tiles of such a picture.
struct Scenario {
  Op Operation;
  Format Output;
  TempDir In, Out;
  std::string Input;               // the picture (not for the merge)
  std::vector<std::string> Tiles;  // the merge's tiles
  int Bits = 8;

  Scenario(Op op, const Format& out) : Operation(op), Output(out) {
    switch (op) {
      case Op::Convert:
        Bits = 16;
        Input = test::MakeInput(In, InputKind::Tif, kW, kH, 16).FileName;
        break;
      case Op::Crop:
        Input = test::MakeInput(In, InputKind::Kro, kW, kH, 8).FileName;
        break;
      case Op::Split:
        Input = test::MakeInput(In, InputKind::Raw, kW, kH, 8).FileName;
        break;
      case Op::Merge: {
        Bits = 16;
        TempDir source;
        const auto img = test::MakeInput(source, InputKind::Raw, kW, kH, 16);
        TTrelvi splitter;
        test::Describe(splitter, img.FileName);
        splitter.OutInfo.ImageType = FileType::KRO4;
        splitter.SplitImage(kTileW, kTileH, Tiles, In.Dir(), "");
        break;
      }
    }
  }

  // Runs the operation on engine; the outcome without the child's parts.
  Outcome Run(TTrelvi& engine, const ScriptedUi& ui,
              const HookRecorder& hooks) const {
    engine.OutInfo.ImageType = Output.Type;
    engine.UseLzw = Output.Lzw;
    Outcome o;
    if (Operation != Op::Merge) test::Describe(engine, Input);
    std::vector<std::string> list;
    switch (Operation) {
      case Op::Convert:
        engine.CropImage(0, 0, kW, kH, Out.Dir(), "");
        list.push_back(engine.OutInfo.FileName);
        break;
      case Op::Crop:
        engine.CropImage(2, 7, 19, 36, Out.Dir(), "");
        list.push_back(engine.OutInfo.FileName);
        break;
      case Op::Split:
        engine.SplitImage(kTileW, kTileH, list, Out.Dir(), "");
        break;
      case Op::Merge:
        engine.MergeTiles(kCols, kRows, Tiles, Out.Dir(), "");
        list.push_back(engine.OutInfo.FileName);
        break;
    }
    o.Ran = true;
    o.Aborted = engine.Aborted;
    o.InOpen = engine.InOpen;
    o.OutOpen = engine.OutOpen;
    o.Errors = hooks.Errors;
    o.Shown = ui.Texts();
    o.Written = list;
    return o;
  }
};

// A run without faults: how many progress reports it makes, and what it
// writes, to compare the tiles a failed split keeps.
struct Reference {
  std::size_t Reports = 0;
  std::map<std::string, std::vector<std::uint8_t>> Files;
};

Reference RunClean(const Scenario& s) {
  ScriptedUi ui;
  TTrelvi engine(ui);
  HookRecorder hooks(engine);
  Outcome o = s.Run(engine, ui, hooks);
  EXPECT_FALSE(o.Aborted) << ::testing::PrintToString(o.Errors);
  Reference r;
  r.Reports = hooks.Progress.size();
  r.Files = test::Snapshot(s.Out.Path());
  for (const auto& e : fs::directory_iterator(s.Out.Path()))
    fs::remove(e.path());
  return r;
}

// Checks that hold after every fault.
void ExpectCleanFailure(
    const Scenario& s, const Outcome& o,
    const std::map<std::string, std::vector<std::uint8_t>>& inputBefore,
    const Reference& ref) {
  ASSERT_TRUE(o.Ran) << "the child process died";
  EXPECT_FALSE(o.InOpen);
  EXPECT_FALSE(o.OutOpen);
  EXPECT_EQ(test::Snapshot(s.In.Path()), inputBefore) << "input changed";
  if (s.Operation != Op::Split) {
    EXPECT_EQ(test::Listing(s.Out.Path()), std::vector<std::string>{})
        << "partial output left";
    return;
  }
  // The split keeps what it wrote, and reports all of it.
  std::vector<std::string> reported;
  for (const auto& f : o.Written)
    reported.push_back(fs::path(f).filename().string());
  std::sort(reported.begin(), reported.end());
  EXPECT_EQ(test::Listing(s.Out.Path()), reported);
  // Tile rows that ended before the fault are whole.
  const auto now = test::Snapshot(s.Out.Path());
  for (const auto& [name, bytes] : now) {
    std::uint32_t col = 0, row = 0;
    GetTilePosFromName(name, col, row);
    if (o.ArmedAt >= 0 && static_cast<std::int64_t>(row) * kTileH < o.ArmedAt) {
      ASSERT_TRUE(ref.Files.count(name)) << name;
      EXPECT_EQ(bytes, ref.Files.at(name)) << name << " is not whole";
    }
  }
}

std::vector<Op> AllOps() {
  return {Op::Convert, Op::Crop, Op::Split, Op::Merge};
}

// ---------------------------------------------------------------------------

enum class WritePoint { AtCreation, FirstRow, Middle, LastRow };
const char* Name(WritePoint p) {
  switch (p) {
    case WritePoint::AtCreation:
      return "at creation";
    case WritePoint::FirstRow:
      return "first row";
    case WritePoint::Middle:
      return "middle";
    case WritePoint::LastRow:
      return "last row";
  }
  return "";
}

TEST(FaultInjection, FullDiskAtEveryPointOfEveryOperationAndFormat) {
  for (Op op : AllOps())
    for (const Format& format : kFormats)
      for (WritePoint point : {WritePoint::AtCreation, WritePoint::FirstRow,
                               WritePoint::Middle, WritePoint::LastRow}) {
        SCOPED_TRACE(std::string(Name(op)) + " to " + format.Name + ", " +
                     Name(point));
        Scenario s(op, format);
        const Reference ref = RunClean(s);
        ASSERT_GT(ref.Reports, 2u);
        const auto before = test::Snapshot(s.In.Path());

        const Outcome o = test::InChild([&] {
          ScriptedUi ui;
          TTrelvi engine(ui);
          HookRecorder hooks(engine);
          std::int32_t armedAt = -1;
          if (point == WritePoint::AtCreation) {
            test::FailWritesFromNowOn();
            armedAt = 0;
          } else if (point == WritePoint::FirstRow) {
            // The output exists (a split creates its tiles only after this)
            // and no row is written yet.
            const auto show = engine.OnShowProgress;
            engine.OnShowProgress = [&, show](std::int32_t m,
                                              const std::string& d) {
              show(m, d);
              test::FailWritesFromNowOn();
              armedAt = 0;
            };
          } else {
            const std::size_t at =
                point == WritePoint::Middle ? ref.Reports / 2 : ref.Reports;
            hooks.OnProgress = [&, at](std::int32_t current) {
              if (hooks.Progress.size() == at) {
                test::FailWritesFromNowOn();
                armedAt = current;
              }
            };
          }
          Outcome out = s.Run(engine, ui, hooks);
          out.ArmedAt = armedAt;
          return out;
        });
        ASSERT_TRUE(o.Ran);

        // A TIFF cannot even be created on a full disk; the other formats
        // are created empty and fail at their first bytes.
        const bool creationFails =
            format.Type == FileType::TIF &&
            (point == WritePoint::AtCreation ||
             (op == Op::Split && point == WritePoint::FirstRow));
        if (!creationFails) {
          EXPECT_TRUE(o.Aborted);
          EXPECT_EQ(o.Errors, std::vector<std::string>{"Write to file error"});
          EXPECT_EQ(o.Shown, std::vector<std::string>{});
        } else {
          EXPECT_EQ(o.Shown, std::vector<std::string>{"Write to file error"});
          ASSERT_EQ(o.Errors.size(),
                    op == Op::Convert || op == Op::Crop ? 0u : 1u);
          if (op == Op::Split) {
            EXPECT_EQ(o.Errors[0], "Cant't create file " + s.Out.Dir() +
                                       "pic_10X15_x1y1.tif");
          }
          if (op == Op::Merge) {
            EXPECT_EQ(o.Errors[0],
                      "Cannot create the file " + s.Out.Dir() + "pic.tif");
          }
          // A crop whose output cannot be created ends without a failure of
          // its own; the others fail.
          EXPECT_EQ(o.Aborted, op == Op::Split || op == Op::Merge);
        }
        ExpectCleanFailure(s, o, before, ref);
      }
}

// ---------------------------------------------------------------------------

// Cuts the input in the middle of row 20 after it was described, as a file
// that changes under the program would be. Returns the message expected.
std::string TruncateInput(Scenario& s) {
  switch (s.Operation) {
    case Op::Convert: {
      // A TIFF whose directory comes first, one row per strip, so that
      // cutting it loses rows, not the directory.
      test::HandTiff t;
      t.Width = kW;
      t.Height = kH;
      t.Bits = 16;
      t.Samples = 4;
      t.RowsPerStrip = 1;
      t.Data = test::MakePixels(kW, kH, 4, 16);
      auto bytes = test::TiffBytes(t);
      const std::size_t row = kW * 8;
      bytes.resize(bytes.size() - t.Data.size() + 20 * row + row / 2);
      test::WriteBytes(s.Input, bytes);
      return "Read file error";
    }
    case Op::Crop:
      fs::resize_file(s.Input, 20 + 20 * kW * 4 + 30);
      return "Read file error";
    case Op::Split:
      fs::resize_file(s.Input, 20 * kW * 3 + 30);
      return "Input file read error";
    case Op::Merge: {
      // Tile (2, 2) loses its last rows, after the first rows were merged.
      const std::string tile = FindTileFile(s.Tiles, "kro", 2, 2);
      fs::resize_file(tile, 20 + 5 * kTileW * 8 + 12);
      return "Tile X=2 Y=2 read error";
    }
  }
  return "";
}

TEST(FaultInjection, InputCutInTheMiddleOfARowIsAReadError) {
  for (Op op : AllOps())
    for (const Format& format : kFormats) {
      SCOPED_TRACE(std::string(Name(op)) + " to " + format.Name);
      Scenario s(op, format);
      const Reference ref = RunClean(s);
      // The input is described whole, then cut.
      ScriptedUi ui;
      TTrelvi engine(ui);
      HookRecorder hooks(engine);
      engine.OutInfo.ImageType = format.Type;
      engine.UseLzw = format.Lzw;
      std::string expected;
      std::vector<std::string> list;
      std::map<std::string, std::vector<std::uint8_t>> before;
      if (op == Op::Merge) {
        expected = TruncateInput(s);
        before = test::Snapshot(s.In.Path());
        engine.MergeTiles(kCols, kRows, s.Tiles, s.Out.Dir(), "");
        list.push_back(engine.OutInfo.FileName);
      } else {
        test::Describe(engine, s.Input);
        ASSERT_TRUE(engine.InInfo.ImageIsOk);
        expected = TruncateInput(s);
        before = test::Snapshot(s.In.Path());
        if (op == Op::Split)
          engine.SplitImage(kTileW, kTileH, list, s.Out.Dir(), "");
        else if (op == Op::Convert)
          engine.CropImage(0, 0, kW, kH, s.Out.Dir(), "");
        else
          engine.CropImage(2, 7, 19, 36, s.Out.Dir(), "");
      }
      Outcome o;
      o.Ran = true;
      o.Aborted = engine.Aborted;
      o.InOpen = engine.InOpen;
      o.OutOpen = engine.OutOpen;
      o.Errors = hooks.Errors;
      o.Written = list;
      // Row 20 is in tile row 2: tile row 1 ended whole.
      o.ArmedAt = 20;
      EXPECT_TRUE(o.Aborted);
      EXPECT_EQ(o.Errors, std::vector<std::string>{expected});
      EXPECT_TRUE(ui.Messages.empty()) << ui.LastText();
      ExpectCleanFailure(s, o, before, ref);
    }
}

// ---------------------------------------------------------------------------

TEST(FaultInjection, AbortAtARandomRowLeavesNothingButASplitsTiles) {
  std::mt19937 random(20240508);
  for (Op op : AllOps())
    for (const Format& format : kFormats) {
      Scenario s(op, format);
      const Reference ref = RunClean(s);
      const std::size_t at =
          std::uniform_int_distribution<std::size_t>(1, ref.Reports)(random);
      SCOPED_TRACE(std::string(Name(op)) + " to " + format.Name +
                   ", abort at report " + std::to_string(at));
      const auto before = test::Snapshot(s.In.Path());
      ScriptedUi ui;
      TTrelvi engine(ui);
      HookRecorder hooks(engine);
      hooks.AbortAtProgress = at;
      Outcome o = s.Run(engine, ui, hooks);
      o.ArmedAt = hooks.Progress[at - 1];
      EXPECT_TRUE(o.Aborted);
      EXPECT_EQ(o.Errors, std::vector<std::string>{});
      EXPECT_EQ(o.Shown, std::vector<std::string>{});
      ExpectCleanFailure(s, o, before, ref);
    }
}

// ---------------------------------------------------------------------------
// The input under another spelling of its path is still the input.

struct Spelling {
  const char* Name;
  // The input's path and the output folder, as the user gave them.
  std::function<std::pair<std::string, std::string>(const TempDir&,
                                                    const std::string&)>
      Make;
};

std::vector<Spelling> Spellings() {
  return {
      {"relative path",
       [](const TempDir& dir, const std::string& file) {
         fs::current_path(dir.Path());
         return std::pair{file, std::string("./")};
       }},
      {"..",
       [](const TempDir& dir, const std::string& file) {
         fs::create_directories(dir.Path() / "sub");
         return std::pair{dir.Dir() + "sub/../" + file, dir.Dir() + "sub/../"};
       }},
      {"symbolic link to the folder",
       [](const TempDir& dir, const std::string& file) {
         fs::create_directory_symlink(dir.Path(), dir.Path() / "alias");
         return std::pair{dir.File(file), dir.Dir() + "alias/"};
       }},
      {"symbolic link to the file",
       [](const TempDir& dir, const std::string& file) {
         // Chosen through a link elsewhere; the output folder is the one
         // that holds the file itself.
         fs::create_directories(dir.Path() / "links");
         fs::create_symlink(dir.File(file), dir.Path() / "links" / file);
         return std::pair{dir.Dir() + "links/" + file, dir.Dir()};
       }},
  };
}

TEST(FaultInjection, TheInputIsNeverOverwrittenWhateverItsSpelling) {
  const fs::path home = fs::current_path();
  for (const Spelling& spelling : Spellings())
    for (Op op : {Op::Convert, Op::Split}) {
      SCOPED_TRACE(std::string(spelling.Name) + ", " + Name(op));
      TempDir dir;
      // A convert to its own format and a split into one tile of its own
      // size both name their output after the input.
      const std::string file =
          op == Op::Convert ? "pic_24X43.raw" : "pic_24X43_x1y1.raw";
      test::WriteBytes(dir.File(file), test::MakePixels(kW, kH, 3, 8));
      const auto [input, outDir] = spelling.Make(dir, file);
      const auto before = test::Snapshot(dir.Path());

      ScriptedUi ui;
      ui.AnswerYesNo(MsgResult::Yes);  // must never be asked
      TTrelvi engine(ui);
      HookRecorder hooks(engine);
      test::Describe(engine, input);
      ASSERT_TRUE(engine.InInfo.ImageIsOk);
      engine.OutInfo.ImageType = FileType::RAW;
      std::vector<std::string> list;
      if (op == Op::Convert) {
        engine.CropImage(0, 0, kW, kH, outDir, "");
        EXPECT_FALSE(engine.Aborted);  // a refused creation ends quietly
        EXPECT_TRUE(hooks.Errors.empty());
      } else {
        engine.SplitImage(kW, kH, list, outDir, "");
        EXPECT_TRUE(engine.Aborted);
        EXPECT_EQ(hooks.Errors,
                  std::vector<std::string>{"Cant't create file " + outDir +
                                           "pic_24X43_x1y1"});
        EXPECT_TRUE(list.empty());
      }
      EXPECT_EQ(ui.Texts(),
                std::vector<std::string>{"Cannot overwrite input file"});
      EXPECT_FALSE(engine.InOpen);
      fs::current_path(home);
      EXPECT_EQ(test::Snapshot(dir.Path()), before);
    }
}

}  // namespace
}  // namespace trelvi
