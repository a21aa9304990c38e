#include "engine/partial_output.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "support/fixtures.h"

namespace trelvi {
namespace {

using test::ReadBytes;
using test::TempDir;
using test::WriteBytes;

const std::vector<std::uint8_t> kOld = {'o', 'l', 'd'};
const std::vector<std::uint8_t> kNew = {'n', 'e', 'w', '!'};

bool Exists(const std::string& name) { return std::filesystem::exists(name); }

// Runs body in a child process and returns its exit status; the child holds
// whatever it locks until it exits, as another program would.
template <typename Body>
int InChild(Body body) {
  const pid_t pid = fork();
  if (pid == 0) _exit(body());
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(PartialOutput, FinalNameChangesOnlyAtCommit) {
  for (const bool sync : {false, true}) {
    SCOPED_TRACE(sync ? "sync" : "no sync");
    TempDir dir;
    const std::string final = dir.File("out.tif");
    WriteBytes(final, kOld);
    PartialOutput out;
    ASSERT_EQ(out.Begin(final), PartialStart::Ok);
    EXPECT_EQ(out.PartialName(), final + ".partial");
    WriteBytes(out.PartialName(), kNew);
    // The previous file stays whole until the new one replaces it.
    EXPECT_EQ(ReadBytes(final), kOld);
    ASSERT_TRUE(out.Commit(sync));
    EXPECT_EQ(ReadBytes(final), kNew);
    EXPECT_FALSE(Exists(final + ".partial"));
    EXPECT_FALSE(out.Active());
  }
}

// What stands under the final name before the commit: the new file takes
// the name, a link's target is left alone, a folder is never swapped out.
TEST(PartialOutput, CommitReplacesOnlyWhatAFileRenameWould) {
  enum class Before { Nothing, File, Link, Folder };
  for (const Before before :
       {Before::Nothing, Before::File, Before::Link, Before::Folder}) {
    SCOPED_TRACE(static_cast<int>(before));
    TempDir dir;
    const std::string final = dir.File("out.tif");
    const std::string target = dir.File("target.tif");
    if (before == Before::File) WriteBytes(final, kOld);
    if (before == Before::Link) {
      WriteBytes(target, kOld);
      std::filesystem::create_symlink(target, final);
    }
    if (before == Before::Folder) std::filesystem::create_directory(final);
    PartialOutput out;
    ASSERT_EQ(out.Begin(final), PartialStart::Ok);
    WriteBytes(out.PartialName(), kNew);
    const bool committed = out.Commit(false);
    EXPECT_FALSE(Exists(final + ".partial"));
    if (before == Before::Folder) {
      EXPECT_FALSE(committed);
      EXPECT_TRUE(std::filesystem::is_directory(final));
      continue;
    }
    EXPECT_TRUE(committed);
    EXPECT_FALSE(std::filesystem::is_symlink(final));
    EXPECT_EQ(ReadBytes(final), kNew);
    if (before == Before::Link) {
      EXPECT_EQ(ReadBytes(target), kOld);
    }
  }
}

TEST(PartialOutput, DiscardAndDestructionKeepThePreviousFile) {
  TempDir dir;
  const std::string final = dir.File("out.raw");
  WriteBytes(final, kOld);
  {
    PartialOutput out;
    ASSERT_EQ(out.Begin(final), PartialStart::Ok);
    WriteBytes(out.PartialName(), kNew);
    out.Discard();
    EXPECT_FALSE(Exists(final + ".partial"));
  }
  {
    PartialOutput out;
    ASSERT_EQ(out.Begin(final), PartialStart::Ok);
    WriteBytes(out.PartialName(), kNew);
  }  // never committed: gone with the object
  EXPECT_FALSE(Exists(final + ".partial"));
  EXPECT_EQ(ReadBytes(final), kOld);
}

TEST(PartialOutput, HeldPartialIsBusyStaleOneIsTakenOver) {
  TempDir dir;
  const std::string final = dir.File("out.kro");
  PartialOutput first;
  ASSERT_EQ(first.Begin(final), PartialStart::Ok);
  WriteBytes(first.PartialName(), kNew);
  // Another program asking for the same output is refused, and the file
  // being written is left alone.
  EXPECT_EQ(InChild([&] {
              PartialOutput second;
              return second.Begin(final) == PartialStart::Busy ? 0 : 1;
            }),
            0);
  EXPECT_EQ(ReadBytes(final + ".partial"), kNew);
  first.Discard();

  // A run killed while writing leaves its partial file unheld: the next
  // run takes it over, empty.
  EXPECT_EQ(InChild([&] {
              PartialOutput killed;
              if (killed.Begin(final) != PartialStart::Ok) return 1;
              WriteBytes(killed.PartialName(), kOld);
              _exit(0);  // no destructor runs, as after SIGKILL
            }),
            0);
  ASSERT_TRUE(Exists(final + ".partial"));
  PartialOutput next;
  ASSERT_EQ(next.Begin(final), PartialStart::Ok);
  EXPECT_TRUE(ReadBytes(next.PartialName()).empty());
  WriteBytes(next.PartialName(), kNew);
  ASSERT_TRUE(next.Commit(false));
  EXPECT_EQ(ReadBytes(final), kNew);
}

TEST(PartialOutput, UnwritableFolderFails) {
  TempDir dir;
  PartialOutput out;
  EXPECT_EQ(out.Begin(dir.File("missing/out.tif")), PartialStart::Failed);
  EXPECT_FALSE(out.Active());
  EXPECT_FALSE(out.Commit(false));
}

TEST(FolderLock, HeldFolderIsInUseUntilReleased) {
  TempDir dir;
  EXPECT_FALSE(FolderInUse(dir.Dir()));
  FolderLock lock;
  ASSERT_TRUE(lock.Acquire(dir.Dir()));
  EXPECT_EQ(InChild([&] {
              FolderLock other;
              return !other.Acquire(dir.Dir()) && FolderInUse(dir.Dir()) ? 0
                                                                         : 1;
            }),
            0);
  lock.Release();
  EXPECT_FALSE(FolderInUse(dir.Dir()));
  EXPECT_FALSE(lock.Acquire(dir.File("missing")));
}

}  // namespace
}  // namespace trelvi
