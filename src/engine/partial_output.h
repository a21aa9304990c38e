#pragma once

#include <string>

namespace trelvi {

// An output is written under its final name plus this suffix, in the final
// file's own folder, and renamed onto the final name only once it is whole.
inline constexpr const char* kPartialSuffix = ".partial";

enum class PartialStart {
  Ok,
  Busy,    // another program holds the partial file: it is writing it now
  Failed,  // the partial file could not be created
};

// One output file under construction. While the object holds it, the
// partial file carries an advisory lock, so that a second run for the same
// output can tell it is being written; a partial file that nobody holds was
// left by a run that did not survive and is taken over. A killed process
// leaves at most the partial file: the final name holds either nothing or
// the previous file, never a file cut short.
class PartialOutput {
 public:
  PartialOutput() = default;
  ~PartialOutput();  // discards what was neither committed nor discarded
  PartialOutput(const PartialOutput&) = delete;
  PartialOutput& operator=(const PartialOutput&) = delete;

  // Creates (or takes over and empties) "<finalName>.partial" and locks it.
  [[nodiscard]] PartialStart Begin(const std::string& finalName);

  bool Active() const { return lockFd_ >= 0; }
  const std::string& FinalName() const { return final_; }
  // The name the writer opens; empty when not active.
  const std::string& PartialName() const { return partial_; }

  // Renames the written file onto its final name, replacing any file there
  // in one step. With sync the file is flushed to the disk before the
  // rename and the folder after it, so that the promise holds across a
  // power cut, not only across a killed process. False when the file could
  // not be made final; it is then removed.
  // To be called once the writer has opened the partial file. Opening an
  // existing file for writing truncates it, and ext4 answers a truncation
  // to zero by flushing the whole file at its next close: the finished
  // output would wait for the disk as if synced. One close now, while the
  // file is still empty, spends that flush on nothing.
  void WriterOpened();

  [[nodiscard]] bool Commit(bool sync);

  // Removes the partial file and releases it.
  void Discard();

 private:
  void Release();

  std::string final_;
  std::string partial_;
  int lockFd_ = -1;
};

// Holds a folder of temporary files for one run: a second run can tell the
// folder is in use, and a folder nobody holds was left by a run that did not
// survive.
class FolderLock {
 public:
  FolderLock() = default;
  ~FolderLock();
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;

  // Locks an existing folder; false when another program holds it or it
  // cannot be opened.
  [[nodiscard]] bool Acquire(const std::string& folder);
  void Release();
  bool Held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

// Whether another program holds a lock on the folder right now.
bool FolderInUse(const std::string& folder);

}  // namespace trelvi
