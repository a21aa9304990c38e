#include "engine/partial_output.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "engine/utils.h"

namespace trelvi {

namespace {

// Puts the partial file under the final name. An older file of that name
// is swapped out rather than renamed over: ext4 flushes a file renamed onto
// an existing name to the disk before the rename returns, which makes a
// replaced output as slow as a synced one. After the swap the old file is
// under the partial name and is removed; a run that dies in between leaves
// the finished output and a stale partial file, which the next run for the
// output replaces.
bool PutInPlace(const std::string& partial, const std::string& final) {
  struct stat st;
  if (::lstat(final.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
    // Locked while it is under the partial name, so that no other run
    // takes it for a stale partial file of its own and writes into a file
    // about to be removed.
    const int old = ::open(final.c_str(), O_RDONLY | O_CLOEXEC);
    const bool swapped = old >= 0 && ::flock(old, LOCK_EX | LOCK_NB) == 0 &&
                         ::renameat2(AT_FDCWD, partial.c_str(), AT_FDCWD,
                                     final.c_str(), RENAME_EXCHANGE) == 0;
    if (swapped) std::remove(partial.c_str());
    if (old >= 0) ::close(old);
    if (swapped) return true;
  }
  // No older file, one this run cannot open, or a file system without the
  // swap.
  return std::rename(partial.c_str(), final.c_str()) == 0;
}

// The folder holding name, for flushing the rename itself to the disk.
std::string FolderOf(const std::string& name) {
  const std::string dir = DirectoryPart(name);
  return dir.empty() ? std::string(".") : dir;
}

bool SyncPath(const std::string& path, int flags) {
  const int fd = ::open(path.c_str(), flags | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = ::fsync(fd) == 0;
  ::close(fd);
  return ok;
}

// Whether fd still is the file that carries name: a lock taken on a file
// that was renamed or removed meanwhile guards nothing.
bool StillNamed(int fd, const std::string& name) {
  struct stat byFd {
  }, byName{};
  if (::fstat(fd, &byFd) != 0 || ::stat(name.c_str(), &byName) != 0)
    return false;
  return byFd.st_dev == byName.st_dev && byFd.st_ino == byName.st_ino;
}

}  // namespace

PartialOutput::~PartialOutput() {
  if (Active()) Discard();
}

PartialStart PartialOutput::Begin(const std::string& finalName) {
  if (Active()) Discard();
  const std::string partial = finalName + kPartialSuffix;
  // A file that was renamed or removed between the open and the lock is
  // opened again; a few rounds settle any race with a finishing run.
  for (int attempt = 0; attempt < 8; ++attempt) {
    const int fd = ::open(partial.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return PartialStart::Failed;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int error = errno;
      ::close(fd);
      return error == EWOULDBLOCK ? PartialStart::Busy : PartialStart::Failed;
    }
    if (!StillNamed(fd, partial)) {
      ::close(fd);
      continue;
    }
    // Whatever a run that did not survive left here is no use to anyone.
    if (::ftruncate(fd, 0) != 0) {
      ::close(fd);
      std::remove(partial.c_str());
      return PartialStart::Failed;
    }
    final_ = finalName;
    partial_ = partial;
    lockFd_ = fd;
    return PartialStart::Ok;
  }
  return PartialStart::Failed;
}

void PartialOutput::WriterOpened() {
  if (!Active()) return;
  const int fd = ::open(partial_.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd >= 0) ::close(fd);
}

bool PartialOutput::Commit(bool sync) {
  if (!Active()) return false;
  if (sync && !SyncPath(partial_, O_RDONLY)) {
    Discard();
    return false;
  }
  if (!PutInPlace(partial_, final_)) {
    Discard();
    return false;
  }
  const bool folderSynced =
      !sync || SyncPath(FolderOf(final_), O_RDONLY | O_DIRECTORY);
  Release();
  // The file is in place and whole; a folder that could not be flushed
  // only weakens the promise across a power cut, so it is reported without
  // taking the finished file away.
  return folderSynced;
}

void PartialOutput::Discard() {
  if (!Active()) return;
  // Removed while still locked, so no other run can take over a file that
  // is about to disappear.
  std::remove(partial_.c_str());
  Release();
}

void PartialOutput::Release() {
  if (lockFd_ >= 0) ::close(lockFd_);
  lockFd_ = -1;
  final_.clear();
  partial_.clear();
}

FolderLock::~FolderLock() { Release(); }

bool FolderLock::Acquire(const std::string& folder) {
  Release();
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return false;
  }
  fd_ = fd;
  return true;
}

void FolderLock::Release() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool FolderInUse(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool busy = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  ::close(fd);
  return busy;
}

}  // namespace trelvi
