#pragma once

#include <cstdint>
#include <exception>
#include <string>

#include "engine/trelvi.h"

namespace trelvi::ops {

// Reports a failure through the error hook and marks the run as failed: the
// one way an operation ends on an error.
void Fail(TTrelvi& engine, const std::string& message);

// What an operation has opened and started, undone on every way out of it:
// the progress box is hidden, the output is completed (an output that cannot
// be completed is a write failure) and discarded when the run failed, and the
// input is closed. Finish does this at the point the operation chooses; the
// destructor does it for every early return, and for an exception, which
// leaves the run failed.
class RunGuard {
 public:
  // When the progress box goes away relative to completing the output; each
  // operation keeps the order its users have always seen.
  enum class Hide { BeforeOutput, AfterOutput };

  explicit RunGuard(TTrelvi& engine, Hide hide = Hide::BeforeOutput)
      : engine_(engine), hide_(hide), uncaught_(std::uncaught_exceptions()) {}
  ~RunGuard();
  RunGuard(const RunGuard&) = delete;
  RunGuard& operator=(const RunGuard&) = delete;

  // Opens the engine's input for row reading. It is closed at the end even
  // when opening fails, since a failed open may leave a handle behind.
  [[nodiscard]] bool OpenInput();

  // Creates the engine's output. A failed creation is only closed (it
  // reported itself and may have declined to replace a file that must stay);
  // a created output that the run does not complete is deleted.
  [[nodiscard]] bool CreateOutput(const std::string& baseName);

  void ShowProgress(std::int32_t max, const std::string& desc);

  // Ends the run now; later calls and the destructor do nothing.
  void Finish();

 private:
  void HideProgress();
  void CompleteOutput();
  void CloseInput();
  void Abandon() noexcept;

  TTrelvi& engine_;
  const Hide hide_;
  const int uncaught_;  // exceptions in flight when the run began
  bool inputOpen_ = false;
  bool progressShown_ = false;
  bool outputOpen_ = false;     // attempted: CloseOutFile still due
  bool outputCreated_ = false;  // exists: complete it or delete it
};

// "Prefix (N)" without a new allocation per row: the status texts of the
// row loops change on every row.
class CountdownText {
 public:
  explicit CountdownText(std::string prefix);
  const std::string& operator()(std::uint64_t count);

 private:
  std::string text_;
  std::size_t prefixSize_;
};

}  // namespace trelvi::ops
