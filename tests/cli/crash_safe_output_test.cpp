// Outputs are whole or absent, whatever happens to the process writing
// them: killed at any moment, a disk that fills, a user who stops the run,
// a second run for the same output.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <map>
#include <random>
#include <thread>

#include "engine/partial_output.h"
#include "engine/utils.h"
#include "support/fixtures.h"

// Runs under the sanitizers are several times slower; fewer moments keep
// them within reason.
#ifndef TRELVI_KILL_MOMENTS
#if defined(__SANITIZE_ADDRESS__)
#define TRELVI_KILL_MOMENTS 8
#else
#define TRELVI_KILL_MOMENTS 20
#endif
#endif

namespace trelvi {
namespace {

namespace fs = std::filesystem;
using test::TempDir;
using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

constexpr const char* kTempDir = "$$$TEMP$$$RESIZER$$$";

struct Child {
  pid_t Pid = -1;
  std::string Err;
};

// Starts the command line, its standard input from /dev/null and its
// messages into errFile. A file size limit makes every write past it fail,
// as on a full disk.
pid_t StartCli(std::vector<std::string> args, const std::string& errFile,
               rlim_t fileLimit = RLIM_INFINITY) {
  args.insert(args.begin(), TRELVI_CLI_PATH);
  args.push_back("-q");
  const pid_t pid = fork();
  if (pid == 0) {
    const int in = open("/dev/null", O_RDONLY);
    const int e = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(in, 0);
    dup2(in, 1);
    dup2(e, 2);
    if (fileLimit != RLIM_INFINITY) {
      signal(SIGXFSZ, SIG_IGN);
      const rlimit limit{fileLimit, fileLimit};
      setrlimit(RLIMIT_FSIZE, &limit);
    }
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}

int Wait(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string Text(const std::string& file) {
  const Bytes b = test::ReadBytes(file);
  return std::string(b.begin(), b.end());
}

// Every regular file under folder (the resize's temporary folder
// included), by name relative to it.
std::map<std::string, Bytes> Files(const fs::path& folder) {
  std::map<std::string, Bytes> files;
  for (const auto& e : fs::recursive_directory_iterator(folder))
    if (e.is_regular_file())
      files[fs::relative(e.path(), folder).string()] =
          test::ReadBytes(e.path().string());
  return files;
}

bool IsPartial(const std::string& name) {
  return name.size() > 8 && name.compare(name.size() - 8, 8, ".partial") == 0;
}

// One operation as the command line runs it, its outputs in out.
struct Operation {
  std::string Name;
  std::vector<std::string> Args;  // without the output folder
  std::string Out;                // folder of the outputs
  std::vector<std::string> Args_() const {
    auto a = Args;
    a.insert(a.end(), {"-o", Out, "-y"});
    return a;
  }
};

class CrashSafeOutput : public testing::Test {
 protected:
  void SetUp() override {
    // RAW inputs: large enough that a run lasts a good fraction of a
    // second, so that kills land from the output's creation to its last
    // row.
    input_ = in_.File("pano_1600X1200.raw");
    test::WriteBytes(input_, test::MakePixels(1600, 1200, 3, 8));
    wide_ = in_.File("wide_10200X600.raw");
    test::WriteBytes(wide_, test::MakePixels(10200, 600, 3, 8));
    // Tiles for the merge, made by a split of the input.
    const std::string err = in_.File(".err");
    ASSERT_EQ(Wait(StartCli({"split", input_, "--tile", "800x600", "-f", "raw",
                             "-o", tiles_.Dir()},
                            err)),
              0)
        << Text(err);
    for (const auto& e : fs::directory_iterator(tiles_.Path()))
      tileNames_.push_back(e.path().string());
    std::sort(tileNames_.begin(), tileNames_.end());
    ASSERT_EQ(tileNames_.size(), 4u);
  }

  std::vector<Operation> Operations(const std::string& out) const {
    std::vector<Operation> ops;
    for (const char* f :
         {"tif", "tif-lzw", "tif-deflate", "tif-zstd", "raw", "kro", "psd"})
      ops.push_back(
          {std::string("convert ") + f, {"convert", input_, "-f", f}, out});
    ops.push_back({"crop",
                   {"crop", input_, "--x", "100", "--y", "50", "--width",
                    "1400", "--height", "1100", "-f", "tif"},
                   out});
    ops.push_back(
        {"split", {"split", input_, "--tile", "768x512", "-f", "tif"}, out});
    std::vector<std::string> merge = {"merge"};
    merge.insert(merge.end(), tileNames_.begin(), tileNames_.end());
    merge.insert(merge.end(), {"-f", "tif"});
    ops.push_back({"merge", merge, out});
    ops.push_back({"resize",
                   {"resize", wide_, "--width", "5000", "--fast", "-f", "tif"},
                   out});
    return ops;
  }

  TempDir in_, tiles_;
  std::string input_, wide_;
  std::vector<std::string> tileNames_;
};

// Killed at moments spread from the start to past the end of a run: the
// final names hold nothing, the previous file or the finished one; at most
// the one partial file of each output remains; the next run succeeds and
// leaves no partial file and no temporary folder.
class SigkillAtAnyMoment : public CrashSafeOutput,
                           public testing::WithParamInterface<const char*> {};

TEST_P(SigkillAtAnyMoment, LeavesWholeFilesOrNone) {
  std::mt19937 random(16);
  int caught = 0;  // moments at which the run was still writing
  for (const Operation& base : Operations("")) {
    if (base.Name != GetParam()) continue;
    SCOPED_TRACE(base.Name);
    TempDir out;
    Operation op = base;
    op.Out = out.Dir();
    const std::string err = in_.File(".err");

    // A run to the end gives the finished outputs and the run's length.
    // The shortest of a few runs: the first ones may wait for the disk.
    auto length = Clock::duration::max();
    for (int run = 0; run < 3; ++run) {
      const auto start = Clock::now();
      ASSERT_EQ(Wait(StartCli(op.Args_(), err)), 0) << Text(err);
      length = std::min(length, Clock::now() - start);
    }
    const std::map<std::string, Bytes> finished = Files(out.Path());
    ASSERT_FALSE(finished.empty());
    for (const auto& [name, bytes] : finished) ASSERT_FALSE(IsPartial(name));

    const Bytes previous = {'o', 'l', 'd'};
    for (int moment = 0; moment < TRELVI_KILL_MOMENTS; ++moment) {
      SCOPED_TRACE("moment " + std::to_string(moment));
      // Every other run finds a previous file under each final name.
      fs::remove_all(out.Path());
      fs::create_directory(out.Path());
      const bool withPrevious = moment % 2 == 0;
      if (withPrevious)
        for (const auto& [name, bytes] : finished)
          test::WriteBytes(out.File(name), previous);

      // Spread over the whole run, each at a random point of its slice.
      std::uniform_real_distribution<double> within(0.0, 1.0);
      const auto at = std::chrono::duration_cast<Clock::duration>(
          length * 1.1 * (moment + within(random)) / TRELVI_KILL_MOMENTS);
      const auto begun = Clock::now();
      const pid_t pid = StartCli(op.Args_(), err);
      std::this_thread::sleep_until(begun + at);
      kill(pid, SIGKILL);
      Wait(pid);

      std::map<std::string, int> partials;
      const auto left = Files(out.Path());
      if (left != finished) ++caught;
      for (const auto& [name, bytes] : left) {
        // A killed resize leaves its temporary folder to the next run.
        if (name.rfind(kTempDir, 0) == 0) continue;
        if (IsPartial(name)) {
          const std::string final = name.substr(0, name.size() - 8);
          EXPECT_TRUE(finished.count(final)) << name;
          EXPECT_EQ(++partials[final], 1) << name;
          continue;
        }
        ASSERT_TRUE(finished.count(name)) << "unexpected " << name;
        const bool whole = bytes == finished.at(name);
        const bool kept = withPrevious && bytes == previous;
        EXPECT_TRUE(whole || kept)
            << name << " holds " << bytes.size() << " bytes";
      }

      ASSERT_EQ(Wait(StartCli(op.Args_(), err)), 0) << Text(err);
      EXPECT_EQ(Files(out.Path()), finished);
      EXPECT_FALSE(fs::exists(out.File(kTempDir)));
    }
  }
  // Many moments fall inside the run, not after it (a loaded machine
  // makes runs longer, never shorter).
  EXPECT_GE(caught, TRELVI_KILL_MOMENTS / 4);
}

INSTANTIATE_TEST_SUITE_P(EveryOperation, SigkillAtAnyMoment,
                         testing::Values("convert tif", "convert tif-lzw",
                                         "convert tif-deflate",
                                         "convert tif-zstd", "convert raw",
                                         "convert kro", "convert psd", "crop",
                                         "split", "merge", "resize"),
                         [](const testing::TestParamInfo<const char*>& info) {
                           std::string name = info.param;
                           for (char& c : name)
                             if (!std::isalnum(static_cast<unsigned char>(c)))
                               c = '_';
                           return name;
                         });

// A disk that fills up and a user who stops the run: the previous file is
// left as it was and no partial file remains.
TEST_F(CrashSafeOutput, FailedAndStoppedRunsKeepThePreviousFile) {
  for (const Operation& base : Operations("")) {
    if (base.Name == "split") continue;  // no previous file to keep
    SCOPED_TRACE(base.Name);
    TempDir out;
    Operation op = base;
    op.Out = out.Dir();
    const std::string err = in_.File(".err");
    ASSERT_EQ(Wait(StartCli(op.Args_(), err)), 0) << Text(err);
    const std::map<std::string, Bytes> finished = Files(out.Path());
    ASSERT_EQ(finished.size(), 1u);
    const std::string final = out.File(finished.begin()->first);
    const Bytes previous = {'o', 'l', 'd'};
    // A resize's steps write the temporary files far larger than this.
    const rlim_t limit = finished.begin()->second.size() / 2;

    test::WriteBytes(final, previous);
    const int code = Wait(StartCli(op.Args_(), err, limit));
    EXPECT_EQ(code, 1) << Text(err);
    EXPECT_EQ(
        Files(out.Path()),
        (std::map<std::string, Bytes>{{finished.begin()->first, previous}}))
        << Text(err);

    // Stopped while its partial file grows.
    const pid_t pid = StartCli(op.Args_(), err);
    const std::string partial = final + ".partial";
    for (int i = 0; i < 4000 && FileSizeByName(partial) < 4096; ++i)
      std::this_thread::sleep_for(std::chrono::microseconds(250));
    kill(pid, SIGINT);
    EXPECT_EQ(Wait(pid), 1) << Text(err);
    EXPECT_EQ(
        Files(out.Path()),
        (std::map<std::string, Bytes>{{finished.begin()->first, previous}}));
  }
}

// A second run for an output that is being written is refused; the first
// one finishes unharmed.
TEST_F(CrashSafeOutput, SecondRunForTheSameOutputIsRefused) {
  TempDir out, reference;
  const std::vector<std::string> args = {"convert", input_, "-f", "tif-lzw",
                                         "-y"};
  const std::string err1 = in_.File(".err1"), err2 = in_.File(".err2");
  auto withOut = [&](const TempDir& dir) {
    auto a = args;
    a.insert(a.end(), {"-o", dir.Dir()});
    return a;
  };
  ASSERT_EQ(Wait(StartCli(withOut(reference), err1)), 0) << Text(err1);

  const pid_t first = StartCli(withOut(out), err1);
  const std::string partial = out.File("pano.tif.partial");
  for (int i = 0; i < 8000 && FileSizeByName(partial) <= 0; ++i)
    std::this_thread::sleep_for(std::chrono::microseconds(250));
  ASSERT_GT(FileSizeByName(partial), 0) << "the first run started writing";
  // Held still while the second one runs, so that it cannot finish first
  // however slowly the second starts (sanitizer builds, a busy machine).
  kill(first, SIGSTOP);
  const int second = Wait(StartCli(withOut(out), err2));
  kill(first, SIGCONT);
  EXPECT_EQ(second, 1);
  EXPECT_EQ(Text(err2),
            "Output file is being written by another program\n"
            "Operation aborted\n");
  EXPECT_EQ(Wait(first), 0) << Text(err1);
  EXPECT_EQ(Files(out.Path()), Files(reference.Path()));
}

// A temporary folder left by a resize that did not survive is cleared; one
// that another resize holds is not touched.
TEST_F(CrashSafeOutput, ResizeTakesOverAStaleTemporaryFolder) {
  TempDir out;
  const std::string err = in_.File(".err");
  fs::create_directory(out.File(kTempDir));
  test::WriteBytes(out.File(kTempDir) + "/wide_5100X600_x1y1.raw", {1, 2});
  const std::vector<std::string> args = {"resize", wide_,    "--width",
                                         "5000",   "--fast", "-f",
                                         "raw",    "-o",     out.Dir()};
  {
    FolderLock other;
    ASSERT_TRUE(other.Acquire(out.File(kTempDir)));
    EXPECT_EQ(Wait(StartCli(args, err)), 1);
    EXPECT_EQ(Text(err), "The temporary directory " + out.File(kTempDir) +
                             "/ is in use by another resize\n"
                             "Operation aborted\n");
    EXPECT_EQ(Files(out.Path()).size(), 1u) << "left as it was";
  }
  EXPECT_EQ(Wait(StartCli(args, err)), 0) << Text(err);
  EXPECT_FALSE(fs::exists(out.File(kTempDir)));
  const auto files = Files(out.Path());
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files.begin()->first.substr(0, 10), "wide_5000X");
}

}  // namespace
}  // namespace trelvi
