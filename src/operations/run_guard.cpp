#include "operations/run_guard.h"

#include <charconv>
#include <utility>

namespace trelvi::ops {

void Fail(TTrelvi& engine, const std::string& message) {
  engine.DoError(message);
  engine.Aborted = true;
}

RunGuard::~RunGuard() {
  // Left by an exception (a hook that threw, memory that ran out): the run
  // did not complete, so what it wrote is partial.
  if (std::uncaught_exceptions() > uncaught_) engine_.Aborted = true;
  try {
    Finish();
  } catch (...) {
    // A hook threw while the run ended: nothing more reaches the user, but
    // no file stays open and no partial output stays behind.
    Abandon();
  }
}

bool RunGuard::OpenInput() {
  inputOpen_ = true;
  return engine_.OpenInFile(engine_.InInfo.FileName);
}

bool RunGuard::CreateOutput(const std::string& baseName) {
  outputOpen_ = true;
  outputCreated_ = engine_.CreateOutFile(baseName);
  return outputCreated_;
}

void RunGuard::ShowProgress(std::int32_t max, const std::string& desc) {
  progressShown_ = true;
  engine_.DoShowProgress(max, desc);
}

void RunGuard::Finish() {
  if (hide_ == Hide::BeforeOutput) HideProgress();
  CompleteOutput();
  if (hide_ == Hide::AfterOutput) HideProgress();
  CloseInput();
}

void RunGuard::HideProgress() {
  if (!progressShown_) return;
  progressShown_ = false;
  engine_.DoHideProgress();
}

void RunGuard::CompleteOutput() {
  if (!outputOpen_) return;
  outputOpen_ = false;
  // The last buffered rows and the TIFF directory reach the disk only now;
  // a file that cannot be completed is as broken as a failed row. Only a
  // run that did not fail replaces the final name; a failed one leaves it
  // as it was.
  const bool complete = engine_.FinishOutFile(!engine_.Aborted);
  if (!outputCreated_) return;
  if (!complete && !engine_.Aborted) Fail(engine_, "Write to file error");
  outputCreated_ = false;
}

void RunGuard::CloseInput() {
  if (!inputOpen_) return;
  inputOpen_ = false;
  engine_.CloseInFile();
}

void RunGuard::Abandon() noexcept {
  try {
    if (outputOpen_ || outputCreated_) engine_.FinishOutFile(false);
    if (inputOpen_) engine_.CloseInFile();
  } catch (...) {
  }
  outputOpen_ = outputCreated_ = inputOpen_ = progressShown_ = false;
}

CountdownText::CountdownText(std::string prefix)
    : text_(std::move(prefix)), prefixSize_(text_.size()) {
  text_.reserve(prefixSize_ + 24);
}

const std::string& CountdownText::operator()(std::uint64_t count) {
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, count).ptr;
  text_.resize(prefixSize_);
  text_.append(digits, end);
  text_ += ')';
  return text_;
}

}  // namespace trelvi::ops
