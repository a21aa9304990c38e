#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "engine/utils.h"
#include "support/fixtures.h"

namespace trelvi {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

struct Result {
  int Code = -1;
  std::string Out;
  std::string Err;
  std::vector<std::string> ErrLines() const {
    std::vector<std::string> lines;
    std::string line;
    for (char c : Err) {
      if (c == '\n') {
        lines.push_back(line);
        line.clear();
      } else {
        line += c;
      }
    }
    if (!line.empty()) lines.push_back(line);
    return lines;
  }
  std::string LastErrLine() const {
    auto lines = ErrLines();
    return lines.empty() ? std::string() : lines.back();
  }
};

// Starts the command line with its standard input from /dev/null and its
// output into files of dir; onStarted may act on the running child.
Result RunCli(const TempDir& dir, std::vector<std::string> args,
              const std::function<void(pid_t)>& onStarted = nullptr) {
  const std::string out = dir.File(".stdout"), err = dir.File(".stderr");
  args.insert(args.begin(), TRELVI_CLI_PATH);
  const pid_t pid = fork();
  if (pid == 0) {
    const int in = open("/dev/null", O_RDONLY);
    const int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(in, 0);
    dup2(o, 1);
    dup2(e, 2);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  if (onStarted) onStarted(pid);
  int status = 0;
  waitpid(pid, &status, 0);
  Result r;
  r.Code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  auto bytes = test::ReadBytes(out);
  r.Out.assign(bytes.begin(), bytes.end());
  bytes = test::ReadBytes(err);
  r.Err.assign(bytes.begin(), bytes.end());
  fs::remove(out);
  fs::remove(err);
  return r;
}

std::string WriteRaw(const TempDir& dir, const std::string& name,
                     std::uint32_t w, std::uint32_t h) {
  test::WriteBytes(dir.File(name), test::MakePixels(w, h, 3, 8));
  return dir.File(name);
}

TEST(Cli, VersionAndUsageErrors) {
  TempDir dir;
  const std::string raw = WriteRaw(dir, "p_300X300.raw", 300, 300);
  auto r = RunCli(dir, {"--version"});
  EXPECT_EQ(r.Code, 0);
  EXPECT_EQ(r.Out, "trelvi 2.1.0\n");

  const std::vector<std::vector<std::string>> usage = {
      {},
      {"explode", raw},
      {"convert", raw, "--bogus"},
      {"convert", raw, "-f", "png"},
      {"convert"},
      {"crop", raw, "--x", "1", "--y", "1", "--width", "5"},
      {"crop", raw, "--x", "-1", "--y", "1", "--width", "5", "--height", "5"},
      {"split", raw, "--tile", "255x300"},
      {"split", raw, "--tile", "30001x300"},
      {"split", raw, "--tile", "abc"},
      {"info", raw, "--raw-size", "10x"},
      {"info", raw, "--raw-size", "10x10"},
      {"info", raw, "--bits", "12"},
  };
  for (const auto& args : usage) {
    r = RunCli(dir, args);
    EXPECT_EQ(r.Code, 2) << testing::PrintToString(args) << "\n" << r.Err;
  }
  EXPECT_EQ(fs::directory_iterator(dir.Path())->path(), raw)
      << "nothing was written";
}

TEST(Cli, InfoPrintsTheInfoBox) {
  TempDir dir;
  // A sparse file: the size is what matters, not the pixels.
  const std::string name = dir.File("pano_40000X30000.raw");
  { std::ofstream f(name, std::ios::binary); }
  fs::resize_file(name, 3600000000ull);
  const auto r = RunCli(dir, {"info", name});
  EXPECT_EQ(r.Code, 0) << r.Err;
  EXPECT_EQ(r.Out,
            "Type: RAW\nFile size: 3.600.000.000\nWidth: 40.000\n"
            "Height: 30.000\nBits: 8\nChannels: 3\nImage: 1.20 Gigapixels\n");
}

TEST(Cli, ConvertWritesTheFileAndSaysSo) {
  TempDir dir, out;
  const std::string raw = WriteRaw(dir, "p_40X30.raw", 40, 30);
  auto r = RunCli(dir, {"convert", raw, "-f", "tif-lzw", "-o", out.Dir()});
  EXPECT_EQ(r.Code, 0) << r.Err;
  EXPECT_EQ(r.LastErrLine(), "Operation completed successfully");
  EXPECT_EQ(test::ReadTiff(out.File("p.tif")).Pixels, test::ReadBytes(raw));
  EXPECT_EQ(r.Out, "");

  r = RunCli(dir, {"convert", raw, "-f", "kro", "-q"});
  EXPECT_EQ(r.Code, 0);
  EXPECT_EQ(r.Err, "") << "quiet success says nothing";
  EXPECT_TRUE(fs::exists(dir.File("p.kro")));
}

TEST(Cli, SyncWritesTheSameFileAndLeavesNoPartial) {
  TempDir dir, plain, synced;
  const std::string raw = WriteRaw(dir, "p_40X30.raw", 40, 30);
  for (const char* f : {"tif", "tif-lzw", "raw", "kro"}) {
    SCOPED_TRACE(f);
    auto r = RunCli(dir, {"convert", raw, "-f", f, "-y", "-o", plain.Dir()});
    ASSERT_EQ(r.Code, 0) << r.Err;
    r = RunCli(dir,
               {"convert", raw, "-f", f, "-y", "--sync", "-o", synced.Dir()});
    ASSERT_EQ(r.Code, 0) << r.Err;
  }
  for (const auto& e : fs::directory_iterator(plain.Path()))
    EXPECT_EQ(test::ReadBytes(synced.File(e.path().filename().string())),
              test::ReadBytes(e.path().string()))
        << e.path();
  EXPECT_EQ(std::distance(fs::directory_iterator(synced.Path()),
                          fs::directory_iterator()),
            3);  // p.tif twice, p_40X30.raw, p.kro
}

TEST(Cli, ExistingOutputIsKeptUnlessOverwriteIsGiven) {
  TempDir dir;
  const std::string raw = WriteRaw(dir, "p_4X3.raw", 4, 3);
  test::WriteBytes(dir.File("p.tif"), {1, 2, 3});
  auto r = RunCli(dir, {"convert", raw});
  EXPECT_EQ(r.Code, 1);
  EXPECT_EQ(r.ErrLines(),
            (std::vector<std::string>{
                "Output file exists. Do you want to overwrite it?",
                "Operation aborted"}));
  EXPECT_EQ(test::ReadBytes(dir.File("p.tif")),
            (std::vector<std::uint8_t>{1, 2, 3}));

  r = RunCli(dir, {"convert", raw, "--overwrite"});
  EXPECT_EQ(r.Code, 0) << r.Err;
  EXPECT_EQ(test::ReadTiff(dir.File("p.tif")).Pixels, test::ReadBytes(raw));
}

TEST(Cli, RefusalsShowTheWindowsMessagesAndWriteNothing) {
  TempDir dir;
  const std::string raw = WriteRaw(dir, "p_40X30.raw", 40, 30);
  test::WriteBytes(dir.File("notes.txt"), {1});
  test::WriteBytes(dir.File("photo.raw"),
                   std::vector<std::uint8_t>(1200 * 3, 5));
  const struct {
    std::vector<std::string> args;
    std::vector<std::string> messages;
  } cases[] = {
      {{"convert", dir.File("notes.txt")}, {"Then file type is invalid"}},
      {{"convert", raw, "-o", dir.File("nowhere")},
       {"Output directory doesn't exists"}},
      {{"crop", raw, "--x", "40", "--y", "0", "--width", "1", "--height", "1"},
       {"X must >= 0 and < 40"}},
      {{"crop", raw, "--x", "0", "--y", "30", "--width", "1", "--height", "1"},
       {"Y must >= 0 and < 30"}},
      {{"crop", raw, "--x", "30", "--y", "0", "--width", "11", "--height", "1"},
       {"Width must > 0 and <= 10"}},
      {{"crop", raw, "--x", "0", "--y", "5", "--width", "1", "--height", "26"},
       {"Height must > 0 and <= 25"}},
      {{"convert", dir.File("photo.raw")}, {"Invalid width, height or bits"}},
      {{"convert", dir.File("photo.raw"), "--raw-size", "30x30", "--bits", "8"},
       {"Invalid width, height or bits"}},
      {{"merge", raw, dir.File("notes.txt")}, {"Then file type is invalid"}},
      {{"merge", dir.File("a_x1y1.raw"), dir.File("a_x2y2.raw")},
       {"The number of selected files must be : 4"}},
      {{"merge", raw}, {"Can't merge the selected files"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    const auto before = std::distance(fs::directory_iterator(dir.Path()),
                                      fs::directory_iterator());
    const auto r = RunCli(dir, c.args);
    EXPECT_EQ(r.Code, 1);
    auto expected = c.messages;
    expected.push_back("Operation aborted");
    EXPECT_EQ(r.ErrLines(), expected);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()),
                            fs::directory_iterator()),
              before);
  }
}

TEST(Cli, RawSizeTakesThePlaceOfTheDialog) {
  TempDir dir;
  const auto pixels = test::MakePixels(30, 40, 3, 8);
  test::WriteBytes(dir.File("photo.raw"), pixels);
  const auto r = RunCli(dir, {"convert", dir.File("photo.raw"), "--raw-size",
                              "30x40", "--bits", "8", "-f", "raw"});
  EXPECT_EQ(r.Code, 0) << r.Err;
  EXPECT_EQ(test::ReadBytes(dir.File("photo_30X40.raw")), pixels);
}

TEST(Cli, SplitAndMergeRoundTrip) {
  TempDir dir, tiles, merged;
  const auto pixels = test::MakePixels(700, 300, 3, 16);
  test::WriteBytes(dir.File("big_700X300.raw"), pixels);
  auto r = RunCli(dir, {"split", dir.File("big_700X300.raw"), "--tile",
                        "256x256", "-o", tiles.Dir(), "-f", "tif"});
  ASSERT_EQ(r.Code, 0) << r.Err;
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(tiles.Path()))
    names.push_back(e.path().string());
  ASSERT_EQ(names.size(), 6u);
  std::vector<std::string> args = {"merge"};
  args.insert(args.end(), names.begin(), names.end());
  args.insert(args.end(), {"-o", merged.Dir(), "-f", "raw"});
  r = RunCli(dir, args);
  ASSERT_EQ(r.Code, 0) << r.Err;
  EXPECT_EQ(r.LastErrLine(), "Operation completed successfully");
  EXPECT_EQ(test::ReadBytes(merged.File("big_700X300.raw")), pixels);
}

TEST(Cli, ResizeScalesToTheWidthAndRefusesSmallImages) {
  TempDir dir, out;
  const std::string raw = WriteRaw(dir, "wide_10000X200.raw", 10000, 200);
  auto r = RunCli(dir, {"resize", raw, "--width", "1000", "--fast", "-f", "raw",
                        "-o", out.Dir()});
  EXPECT_EQ(r.Code, 0) << r.Err;
  EXPECT_EQ(r.LastErrLine(), "Operation completed successfully");
  EXPECT_EQ(FileSizeByName(out.File("wide_1000X20.raw")), 1000 * 20 * 3);
  EXPECT_FALSE(fs::exists(out.File("$$$TEMP$$$RESIZER$$$")));
  // Beside the input, in the input's own format, the output could replace
  // it: refused.
  r = RunCli(dir, {"resize", raw, "--width", "1000", "-f", "raw"});
  EXPECT_EQ(r.Code, 1);
  EXPECT_EQ(r.ErrLines(),
            (std::vector<std::string>{"Cannot overwrite input file",
                                      "Operation aborted"}));

  const std::string small = WriteRaw(dir, "small_900X30.raw", 900, 30);
  r = RunCli(dir, {"resize", small, "--width", "600"});
  EXPECT_EQ(r.Code, 1);
  EXPECT_EQ(r.ErrLines(),
            (std::vector<std::string>{
                "Width and height of the input file must be > 10000",
                "Operation aborted"}));
  EXPECT_EQ(RunCli(dir, {"resize", raw, "--width", "511"}).Code, 2);
}

TEST(Cli, InterruptAbortsAndCleansUp) {
  TempDir dir;
  // A sparse 1.2 GB input: large enough to be interrupted mid-copy.
  const std::string input = dir.File("huge_20000X20000.raw");
  { std::ofstream f(input, std::ios::binary); }
  fs::resize_file(input, 20000ull * 20000 * 3);
  const std::string output = dir.File("huge.kro");
  const auto r = RunCli(dir, {"convert", input, "-f", "kro"}, [&](pid_t pid) {
    // Wait for the output (under its partial name until it is whole) to
    // appear and grow, then press Ctrl-C.
    for (int i = 0; i < 2000 && FileSizeByName(output + ".partial") < (1 << 20);
         ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    kill(pid, SIGINT);
  });
  EXPECT_EQ(r.Code, 1) << r.Err;
  EXPECT_EQ(r.LastErrLine(), "Operation aborted");
  EXPECT_FALSE(fs::exists(output));
  EXPECT_FALSE(fs::exists(output + ".partial"));
  EXPECT_EQ(FileSizeByName(input), 20000ll * 20000 * 3);
}

}  // namespace
}  // namespace trelvi
