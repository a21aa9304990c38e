// How a run ends when it does not get to write: the file the user would not
// replace stays as it was, and a run left by an exception leaves no partial
// output and nothing open.

#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>

#include "engine/trelvi.h"
#include "operations/ops_fixtures.h"
#include "support/fault_injection.h"
#include "support/hook_recorder.h"
#include "support/scripted_ui.h"

namespace trelvi {
namespace {

namespace fs = std::filesystem;
using test::HookRecorder;
using test::InputKind;
using test::ScriptedUi;
using test::TempDir;

enum class Op { Crop, Split, Merge };

// A 24 × 43 RAW picture and its 10 × 15 RAW tiles, made by the split.
struct Picture {
  TempDir In, Tiles;
  test::SampleImage Image;
  std::vector<std::string> TileFiles;

  Picture() {
    Image = test::MakeInput(In, InputKind::Raw, 24, 43, 8);
    TTrelvi engine;
    test::Describe(engine, Image.FileName);
    engine.OutInfo.ImageType = FileType::RAW;
    engine.SplitImage(10, 15, TileFiles, Tiles.Dir(), "");
    EXPECT_FALSE(engine.Aborted);
  }
};

void RunOp(Op op, TTrelvi& engine, const Picture& p,
           const std::string& outDir) {
  std::vector<std::string> list;
  switch (op) {
    case Op::Crop:
      test::Describe(engine, p.Image.FileName);
      engine.CropImage(2, 7, 19, 36, outDir, "");
      break;
    case Op::Split:
      test::Describe(engine, p.Image.FileName);
      engine.SplitImage(10, 15, list, outDir, "");
      break;
    case Op::Merge:
      engine.MergeTiles(3, 3, p.TileFiles, outDir, "");
      break;
  }
}

TEST(RunEnd, DeclinedReplacementKeepsTheFileAndReportsAsBefore) {
  const Picture p;
  struct Case {
    Op Operation;
    const char* Existing;  // the output's first file
    const char* Error;     // "" for none; followed by the file's path
    const char* Named;     // as the message names it: without extension
    bool Aborted;
  };
  const Case cases[] = {
      {Op::Crop, "pic.tif", "", "", false},
      {Op::Split, "pic_10X15_x1y1.tif", "Cant't create file ", "pic_10X15_x1y1",
       true},
      {Op::Merge, "pic.tif", "Cannot create the file ", "pic", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Existing);
    TempDir out;
    const std::vector<std::uint8_t> old(99, 0x42);
    test::WriteBytes(out.File(c.Existing), old);
    ScriptedUi ui;
    ui.AnswerYesNo(MsgResult::No);
    TTrelvi engine(ui);
    HookRecorder hooks(engine);
    engine.OutInfo.ImageType = FileType::TIF;
    RunOp(c.Operation, engine, p, out.Dir());
    EXPECT_EQ(engine.Aborted, c.Aborted);
    if (*c.Error)
      EXPECT_EQ(hooks.Errors,
                std::vector<std::string>{c.Error + out.File(c.Named)});
    else
      EXPECT_TRUE(hooks.Errors.empty());
    EXPECT_EQ(ui.Texts(),
              std::vector<std::string>{
                  "Output file exists. Do you want to overwrite it?"});
    EXPECT_EQ(test::ReadBytes(out.File(c.Existing)), old);
    EXPECT_EQ(test::Listing(out.Path()), std::vector<std::string>{c.Existing});
    EXPECT_FALSE(engine.InOpen);
    EXPECT_FALSE(engine.OutOpen);
  }
}

TEST(RunEnd, HookThatThrowsLeavesNoPartialOutputAndNothingOpen) {
  const Picture p;
  for (Op op : {Op::Crop, Op::Merge})
    for (FileType type : {FileType::RAW, FileType::TIF}) {
      SCOPED_TRACE(testing::Message() << "op " << static_cast<int>(op)
                                      << " type " << static_cast<int>(type));
      TempDir out;
      TTrelvi engine;
      HookRecorder hooks(engine);
      hooks.OnProgress = [](std::int32_t) {
        throw std::runtime_error("the window went away");
      };
      engine.OutInfo.ImageType = type;
      EXPECT_THROW(RunOp(op, engine, p, out.Dir()), std::runtime_error);
      EXPECT_TRUE(engine.Aborted);
      EXPECT_EQ(hooks.Hides, 1);
      EXPECT_TRUE(fs::is_empty(out.Path())) << "partial output left";
      EXPECT_FALSE(engine.InOpen);
      EXPECT_FALSE(engine.OutOpen);
    }
}

}  // namespace
}  // namespace trelvi
