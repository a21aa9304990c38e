#include <gtest/gtest.h>
#include <malloc.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "engine/trelvi.h"
#include "operations/ops_fixtures.h"
#include "support/hook_recorder.h"
#include "support/scripted_ui.h"

namespace trelvi {
namespace {

namespace fs = std::filesystem;
using test::HookRecorder;
using test::InputKind;
using test::ScriptedUi;
using test::TempDir;

struct OutputCase {
  FileType type;
  bool lzw;
  const char* ext;
};
const OutputCase kOutputs[] = {{FileType::TIF, false, ".tif"},
                               {FileType::TIF, true, ".tif"},
                               {FileType::RAW, false, ".raw"},
                               {FileType::KRO4, false, ".kro"}};

TEST(CropImage, EveryInputIntoEveryOutputCopiesTheRectangle) {
  for (InputKind kind : {InputKind::Raw, InputKind::Kro, InputKind::Tif})
    for (int bits : {8, 16})
      for (const auto& o : kOutputs) {
        SCOPED_TRACE(testing::Message()
                     << "kind " << static_cast<int>(kind) << " bits " << bits
                     << " -> " << o.ext << (o.lzw ? " lzw" : ""));
        TempDir in, out;
        const auto img = test::MakeInput(in, kind, 23, 17, bits);
        ScriptedUi ui;
        TTrelvi engine(ui);
        HookRecorder hooks(engine);
        test::Describe(engine, img.FileName);
        ASSERT_TRUE(engine.InInfo.ImageIsOk);
        engine.OutInfo.ImageType = o.type;
        engine.UseLzw = o.lzw;
        engine.CropImage(5, 4, 11, 9, out.Dir(), "");
        EXPECT_FALSE(engine.Aborted);
        EXPECT_TRUE(hooks.Errors.empty());
        const std::string expectedName =
            out.Dir() + "pic" + (o.type == FileType::RAW ? "_11X9" : "") +
            o.ext;
        EXPECT_EQ(engine.OutInfo.FileName, expectedName);
        EXPECT_EQ(test::OutputPixels(expectedName, bits),
                  test::Rect(img.Rgb, 23, bits, 5, 4, 11, 9));
        EXPECT_FALSE(engine.InOpen);
        EXPECT_FALSE(engine.OutOpen);
        EXPECT_EQ(hooks.ProgressMax, 4 + 9);
        EXPECT_EQ(hooks.Hides, 1);
      }
}

TEST(CropImage, EveryInputStartsReadingAtTheTopOfTheRectangle) {
  for (InputKind kind : {InputKind::Raw, InputKind::Kro, InputKind::Tif}) {
    SCOPED_TRACE(static_cast<int>(kind));
    TempDir dir;
    const auto img = test::MakeInput(dir, kind, 10, 120, 8);
    TTrelvi engine;
    HookRecorder hooks(engine);
    test::Describe(engine, img.FileName);
    engine.OutInfo.ImageType = FileType::RAW;
    engine.CropImage(0, 101, 10, 5, dir.Dir() + "o_", "Step 4/4");
    ASSERT_FALSE(engine.Aborted);
    EXPECT_EQ(hooks.Descriptions, std::vector<std::string>{"Step 4/4"});
    // No row above the rectangle is read, so none is reported as skipped.
    std::vector<std::string> expected = {""};
    for (int k = 5; k >= 1; --k)
      expected.push_back("Saving lines... (" + std::to_string(k) + ")");
    EXPECT_EQ(hooks.Statuses, expected);
    // Input row indexes that are multiples of 7.
    EXPECT_EQ(hooks.Progress, std::vector<std::int32_t>{105});
  }
}

TEST(CropImage, WholeImageCropIsTheSameFileAsConvert) {
  TempDir dir;
  const auto img = test::MakeInput(dir, InputKind::Kro, 31, 7, 16);
  TTrelvi engine;
  test::Describe(engine, img.FileName);
  engine.OutInfo.ImageType = FileType::TIF;
  engine.CropImage(0, 0, 31, 7, dir.Dir() + "a_", "");
  engine.CropImage(0, 0, 31, 7, dir.Dir() + "b_", "");
  EXPECT_EQ(test::ReadBytes(dir.Dir() + "a_pic.tif"),
            test::ReadBytes(dir.Dir() + "b_pic.tif"));
}

TEST(CropImage, MissingOrRefusedInputIsFileNotFound) {
  TempDir dir;
  const auto img = test::MakeInput(dir, InputKind::Raw, 4, 4, 8);
  for (bool refused : {false, true}) {
    TTrelvi engine;
    HookRecorder hooks(engine);
    test::Describe(engine, img.FileName);
    if (refused)
      engine.InInfo.ImageIsOk = false;
    else
      engine.InInfo.FileName = dir.File("gone_4X4.raw");
    engine.OutInfo.ImageType = FileType::RAW;
    engine.CropImage(0, 0, 4, 4, dir.Dir() + "o_", "");
    EXPECT_TRUE(engine.Aborted);
    EXPECT_EQ(hooks.Errors, std::vector<std::string>{"File not found"});
    EXPECT_EQ(hooks.Statuses, std::vector<std::string>{""});
  }
}

TEST(CropImage, AbortDuringTheCopyLeavesNoOutput) {
  TempDir dir;
  const auto img = test::MakeInput(dir, InputKind::Raw, 8, 200, 8);
  TTrelvi engine;
  HookRecorder hooks(engine);
  hooks.AbortAtProgress = 3;
  test::Describe(engine, img.FileName);
  engine.OutInfo.ImageType = FileType::TIF;
  engine.CropImage(0, 0, 8, 200, dir.Dir() + "o_", "");
  EXPECT_TRUE(engine.Aborted);
  EXPECT_TRUE(hooks.Errors.empty());
  EXPECT_FALSE(fs::exists(dir.Dir() + "o_pic.tif"));
  EXPECT_FALSE(engine.InOpen);
  EXPECT_EQ(test::ReadBytes(img.FileName), img.Rgb);
}

TEST(CropImage, DecliningTheOverwriteEndsQuietly) {
  TempDir dir;
  const auto img = test::MakeInput(dir, InputKind::Raw, 4, 4, 8);
  const std::vector<std::uint8_t> old(99, 0x42);
  test::WriteBytes(dir.File("o_pic.tif"), old);
  ScriptedUi ui;
  ui.AnswerYesNo(MsgResult::No);
  TTrelvi engine(ui);
  HookRecorder hooks(engine);
  test::Describe(engine, img.FileName);
  engine.OutInfo.ImageType = FileType::TIF;
  engine.CropImage(0, 0, 4, 4, dir.Dir() + "o_", "");
  EXPECT_FALSE(engine.Aborted);
  EXPECT_TRUE(hooks.Errors.empty());
  EXPECT_EQ(ui.Texts(),
            std::vector<std::string>{
                "Output file exists. Do you want to overwrite it?"});
  EXPECT_EQ(test::ReadBytes(dir.File("o_pic.tif")), old);
  EXPECT_FALSE(engine.InOpen);
}

TEST(CropImage, TruncatedInputIsAReadErrorAndLeavesNoOutput) {
  for (int keepRows : {0, 3, 50}) {
    SCOPED_TRACE(keepRows);
    TempDir dir;
    auto img = test::MakeInput(dir, InputKind::Raw, 10, 100, 8);
    img.Rgb.resize(static_cast<std::size_t>(keepRows) * 30 + 7);
    test::WriteBytes(img.FileName, img.Rgb);  // name still says 100 rows
    TTrelvi engine;
    HookRecorder hooks(engine);
    engine.InInfo.FileName = img.FileName;
    engine.InInfo.ImageType = FileType::RAW;
    engine.InInfo.Width = 10;
    engine.InInfo.Height = 100;
    engine.InInfo.Bits = 8;
    engine.InInfo.Channels = 3;
    engine.InInfo.BytesPerPixel = 3;
    engine.InInfo.IsLsb = true;
    engine.InInfo.ImageIsOk = true;
    engine.OutInfo.ImageType = FileType::RAW;
    engine.CropImage(0, 20, 10, 60, dir.Dir() + "o_", "");
    EXPECT_TRUE(engine.Aborted);
    EXPECT_EQ(hooks.Errors, std::vector<std::string>{"Read file error"});
    EXPECT_FALSE(fs::exists(dir.Dir() + "o_pic_10X60.raw"));
  }
}

TEST(CropImage, FullDiskIsAWriteErrorAndLeavesNoOutput) {
  for (FileType type : {FileType::RAW, FileType::TIF}) {
    TempDir dir;
    const auto img = test::MakeInput(dir, InputKind::Raw, 3000, 100, 8);
    const pid_t pid = fork();
    if (pid == 0) {
      signal(SIGXFSZ, SIG_IGN);
      rlimit limit{200000, 200000};
      setrlimit(RLIMIT_FSIZE, &limit);
      TTrelvi engine;
      HookRecorder hooks(engine);
      test::Describe(engine, img.FileName);
      engine.OutInfo.ImageType = type;
      engine.CropImage(0, 0, 3000, 100, dir.Dir() + "o_", "");
      const bool ok =
          engine.Aborted &&
          hooks.Errors == std::vector<std::string>{"Write to file error"} &&
          !fs::exists(engine.OutInfo.FileName);
      _exit(ok ? 0 : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(test::ReadBytes(img.FileName), img.Rgb);
  }
}

#if !defined(__SANITIZE_ADDRESS__)
// Memory follows the width: a tall image of tiny rows converts with a heap
// that never grows by more than a small constant.
TEST(CropImage, TallImageStreamsInConstantMemory) {
  TempDir dir;
  const std::uint32_t w = 4, h = 400000;  // 4.8 MB of pixels
  test::WriteBytes(
      dir.File("tall_4X400000.raw"),
      std::vector<std::uint8_t>(static_cast<std::size_t>(w) * h * 3, 9));
  for (FileType type : {FileType::RAW, FileType::KRO4}) {
    TTrelvi engine;
    test::Describe(engine, dir.File("tall_4X400000.raw"));
    engine.OutInfo.ImageType = type;
    const std::size_t before = mallinfo2().uordblks;
    std::size_t peak = before;
    engine.OnUpdateProgress = [&](std::int32_t) {
      peak = std::max(peak, mallinfo2().uordblks);
    };
    engine.CropImage(0, 0, w, h, dir.Dir() + "o_", "");
    ASSERT_FALSE(engine.Aborted);
    EXPECT_LT(peak - before, 1u << 20);
  }
}
#endif

}  // namespace
}  // namespace trelvi
