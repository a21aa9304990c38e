#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace trelvi {

// A sequential byte stream over one file, read or written in large blocks.
// It carries a failure state: when opening, seeking or a header write fails,
// every later Read or Write on the same binding transfers nothing. Binding
// it to a file again clears that state.
class SeqFile {
 public:
  SeqFile() = default;
  ~SeqFile();
  SeqFile(const SeqFile&) = delete;
  SeqFile& operator=(const SeqFile&) = delete;

  void Bind(const std::string& fileName);
  const std::string& FileName() const { return name_; }

  // rowBytes sizes the block buffer: a few rows, so that the system sees
  // large transfers while memory stays proportional to the row size even
  // when a split or merge keeps hundreds of files open.
  bool OpenRead(std::size_t rowBytes = 0);
  bool OpenWrite(std::size_t rowBytes = 0);  // creates or truncates
  // Reading only: moves to this offset from the start. Free when the stream
  // is there already, as it is for rows read in order.
  bool Skip(std::int64_t bytes);

  // Number of bytes transferred; short or 0 at the end of the file or after
  // a failure.
  std::size_t Read(void* buffer, std::size_t count);
  std::size_t Write(const void* buffer, std::size_t count);

  // Marks the binding as failed, as a failed header step does.
  void Fail() { failed_ = true; }
  bool Failed() const { return failed_; }
  bool IsOpen() const { return file_ != nullptr; }

  // Closes the file; false when buffered data could not be written (or the
  // stream had failed while writing).
  bool Close();

 private:
  std::string name_;
  std::FILE* file_ = nullptr;
  char* buffer_ = nullptr;
  bool writing_ = false;
  bool failed_ = false;
  std::int64_t readPos_ = 0;  // offset of the next byte Read delivers
};

}  // namespace trelvi
