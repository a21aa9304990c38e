// Faults during a whole resize run, for every output format: the disk
// filling up at its start, half-way and at the last row; the input cut
// short after it was chosen; an abort at a random progress report; and an
// output folder that is the input's own under another spelling. Afterwards
// the message is one the pipeline reports, the input is untouched, no
// output and no temporary folder remain, and the engine describes the
// user's input again.

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <set>

#include "engine/trelvi.h"
#include "engine/utils.h"
#include "resize/resize_pipeline.h"
#include "support/fault_injection.h"
#include "support/fixtures.h"
#include "support/hook_recorder.h"
#include "support/scripted_ui.h"

namespace trelvi {
namespace {

namespace fs = std::filesystem;
using rules::OutputChoice;
using test::HookRecorder;
using test::Outcome;
using test::ScriptedUi;
using test::TempDir;

// Two tiles across, resized by 10, merged, then written: every step of a
// pass runs, on a picture small enough for the sanitizer build.
constexpr std::uint32_t kW = 20500, kH = 20;
constexpr std::int32_t kNewW = 2000;
const char* const kInput = "pano_20500X20.raw";

const struct {
  OutputChoice Choice;
  const char* Name;
} kOutputs[] = {{OutputChoice::Raw, "raw"},
                {OutputChoice::Kro, "kro"},
                {OutputChoice::Tif, "tif"},
                {OutputChoice::TifLzw, "tif lzw"}};

// Messages a failing run may give, whichever step the fault reaches.
bool IsPipelineMessage(const std::string& m) {
  static const std::set<std::string> exact = {
      "Write to file error", "Error resizing the image",
      "Input file read error", "Read file error"};
  return exact.count(m) || m.rfind("Cant't create file ", 0) == 0 ||
         m.rfind("Cannot create the file ", 0) == 0 ||
         (m.rfind("Tile X=", 0) == 0 &&
          (m.find(" is not valid") != std::string::npos ||
           m.find(" read error") != std::string::npos));
}

struct ResizeRunCase {
  TempDir In, Out;
  std::string Input;
  OutputChoice Output;

  explicit ResizeRunCase(OutputChoice output) : Output(output) {
    Input = In.File(kInput);
    test::WriteBytes(Input, test::MakePixels(kW, kH, 3, 8));
  }

  TResizeParams Params() const {
    TResizeParams p;
    p.NewW = kNewW;
    p.NewH = 2;
    p.FastMethod = true;
    p.OutputFolder = Out.Dir();
    p.Output = Output;
    p.NumOfCores = 1;
    p.Scale.Threads = 1;
    return p;
  }

  // Describes the input, lets arm prepare the fault, runs the pipeline.
  Outcome Go(const std::function<void(TTrelvi&, HookRecorder&)>& arm) const {
    ScriptedUi ui;
    TTrelvi engine(ui);
    engine.InitEngine();
    HookRecorder hooks(engine);
    engine.InInfo.FileName = Input;
    engine.ReadInputInfo(false);
    if (!engine.InInfo.ImageIsOk) return {};
    arm(engine, hooks);
    TResizePipeline pipeline(engine);
    pipeline.PollInterval = std::chrono::milliseconds(1);
    pipeline.DoResize(Params());
    Outcome o;
    o.Ran = true;
    o.Aborted = engine.Aborted;
    o.InOpen = engine.InOpen;
    o.OutOpen = engine.OutOpen;
    o.Errors = hooks.Errors;
    o.Shown = ui.Texts();
    o.Note = engine.InInfo.FileName == Input && engine.InInfo.ImageIsOk
                 ? "input described"
                 : "described: " + engine.InInfo.FileName;
    o.ArmedAt = static_cast<std::int32_t>(hooks.Progress.size());
    return o;
  }

  void ExpectCleanFailure(
      const Outcome& o,
      const std::map<std::string, std::vector<std::uint8_t>>& before) const {
    ASSERT_TRUE(o.Ran) << "the run died";
    EXPECT_TRUE(o.Aborted);
    EXPECT_FALSE(o.InOpen);
    EXPECT_FALSE(o.OutOpen);
    EXPECT_EQ(o.Note, "input described");
    EXPECT_EQ(test::Snapshot(In.Path()), before) << "input folder changed";
    EXPECT_EQ(test::Listing(Out.Path()), std::vector<std::string>{})
        << "output or temporary files left";
  }
};

std::size_t CleanReports() {
  ResizeRunCase run(OutputChoice::Raw);
  std::size_t reports = 0;
  const Outcome o = run.Go([&](TTrelvi&, HookRecorder& hooks) {
    hooks.OnProgress = [&](std::int32_t) { ++reports; };
  });
  EXPECT_TRUE(o.Ran);
  EXPECT_FALSE(o.Aborted) << ::testing::PrintToString(o.Errors);
  EXPECT_EQ(test::Listing(run.Out.Path()),
            std::vector<std::string>{"pano_2050X2.raw"});
  return reports;
}

TEST(ResizeFaultInjection, FullDiskAtTheStartMiddleAndEndOfARun) {
  const std::size_t reports = CleanReports();
  ASSERT_GT(reports, 4u);
  enum Point { Start, Middle, Last };
  for (const auto& output : kOutputs)
    for (Point point : {Start, Middle, Last}) {
      SCOPED_TRACE(std::string(output.Name) + " at point " +
                   std::to_string(point));
      ResizeRunCase run(output.Choice);
      const auto before = test::Snapshot(run.In.Path());
      const Outcome o = test::InChild([&] {
        return run.Go([&](TTrelvi&, HookRecorder& hooks) {
          if (point == Start) {
            test::FailWritesFromNowOn();
            return;
          }
          const std::size_t at = point == Middle ? reports / 2 : reports;
          hooks.OnProgress = [&hooks, at](std::int32_t) {
            if (hooks.Progress.size() == at) test::FailWritesFromNowOn();
          };
        });
      });
      run.ExpectCleanFailure(o, before);
      ASSERT_FALSE(o.Errors.empty() && o.Shown.empty()) << "no message";
      for (const auto& m : o.Errors) EXPECT_TRUE(IsPipelineMessage(m)) << m;
    }
}

TEST(ResizeFaultInjection, InputCutAfterItWasChosenIsAReadError) {
  for (const auto& output : kOutputs) {
    SCOPED_TRACE(output.Name);
    ResizeRunCase run(output.Choice);
    std::map<std::string, std::vector<std::uint8_t>> before;
    const Outcome o = run.Go([&](TTrelvi&, HookRecorder&) {
      // Row 12 ends in the middle of its first tile's part.
      fs::resize_file(run.Input, 12ull * kW * 3 + 5000);
      before = test::Snapshot(run.In.Path());
    });
    run.ExpectCleanFailure(o, before);
    EXPECT_EQ(o.Errors, std::vector<std::string>{"Input file read error"});
  }
}

TEST(ResizeFaultInjection, AbortAtARandomReportCleansUpEverything) {
  const std::size_t reports = CleanReports();
  std::mt19937 random(8);
  for (const auto& output : kOutputs) {
    const std::size_t at =
        std::uniform_int_distribution<std::size_t>(1, reports)(random);
    SCOPED_TRACE(std::string(output.Name) + ", abort at report " +
                 std::to_string(at));
    ResizeRunCase run(output.Choice);
    const auto before = test::Snapshot(run.In.Path());
    const Outcome o = run.Go(
        [&](TTrelvi&, HookRecorder& hooks) { hooks.AbortAtProgress = at; });
    run.ExpectCleanFailure(o, before);
    EXPECT_EQ(o.Errors, std::vector<std::string>{});
  }
}

// The output folder is the input's own, spelled so that the pipeline's
// check of the folder's name does not see it: the run goes through, and
// writing its result over the input is still refused.
TEST(ResizeFaultInjection, TheInputIsNeverOverwrittenWhateverItsSpelling) {
  const fs::path home = fs::current_path();
  for (const char* spelling : {"relative path", "..", "symbolic link"}) {
    SCOPED_TRACE(spelling);
    TempDir dir;
    const std::string name = "pano.tif";
    test::TiffSpec spec;
    spec.Width = kW;
    spec.Height = kH;
    test::WriteTiff(dir.File(name), spec);
    std::string input = dir.File(name), folder;
    if (std::string(spelling) == "relative path") {
      fs::current_path(dir.Path());
      input = name;
      folder = dir.Dir();
    } else if (std::string(spelling) == "..") {
      fs::create_directories(dir.Path() / "sub");
      folder = dir.Dir() + "sub/../";
    } else {
      fs::create_directory_symlink(dir.Path(), dir.Path() / "alias");
      folder = dir.Dir() + "alias/";
    }
    const auto before = test::Snapshot(dir.Path());

    ScriptedUi ui;
    ui.AnswerYesNo(MsgResult::Yes);  // must never be asked
    TTrelvi engine(ui);
    engine.InitEngine();
    HookRecorder hooks(engine);
    engine.InInfo.FileName = input;
    engine.ReadInputInfo(false);
    ASSERT_TRUE(engine.InInfo.ImageIsOk);
    TResizeParams p;
    p.NewW = kNewW;
    p.NewH = 2;
    p.FastMethod = true;
    p.OutputFolder = folder;
    p.Output = OutputChoice::Tif;
    p.Scale.Threads = 1;
    TResizePipeline pipeline(engine);
    pipeline.PollInterval = std::chrono::milliseconds(1);
    pipeline.DoResize(p);
    EXPECT_TRUE(engine.Aborted);
    EXPECT_EQ(ui.Texts(),
              std::vector<std::string>{"Cannot overwrite input file"});
    EXPECT_EQ(engine.InInfo.FileName, input);
    fs::current_path(home);
    EXPECT_EQ(test::Snapshot(dir.Path()), before);
    EXPECT_FALSE(fs::exists(dir.Path() / TResizePipeline::kTempDirName));
  }
}

}  // namespace
}  // namespace trelvi
