#include "cli/console_ui.h"

#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <iostream>

#include "engine/utils.h"

namespace trelvi::cli {

namespace {
std::atomic<int> g_interrupts{0};

extern "C" void OnInterrupt(int) {
  if (g_interrupts.fetch_add(1) >= 1) _exit(130);
}

std::string Clock(double seconds) {
  if (seconds < 0) seconds = 0;
  const long s = static_cast<long>(seconds + 0.5);
  char text[32];
  if (s >= 3600)
    std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60,
                  s % 60);
  else
    std::snprintf(text, sizeof text, "%02ld:%02ld", s / 60, s % 60);
  return text;
}
}  // namespace

void InstallInterruptHandler() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
}

bool InterruptRequested() { return g_interrupts.load() > 0; }

ConsoleUi::ConsoleUi(ConsoleOptions options)
    : options_(options),
      terminalIn_(isatty(STDIN_FILENO) != 0),
      terminalErr_(isatty(STDERR_FILENO) != 0) {}

void ConsoleUi::FinishLine() {
  if (lineOpen_) {
    std::fputs("\r\033[K", stderr);
    lineOpen_ = false;
  }
}

void ConsoleUi::ShowMessageBox(const std::string& text) {
  FinishLine();
  // Messages keep their own line breaks; a CR LF pair becomes one break.
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out += text[i];
  }
  std::fprintf(stderr, "%s\n", out.c_str());
  std::fflush(stderr);
}

bool ConsoleUi::PromptLine(const std::string& prompt, std::string& answer) {
  FinishLine();
  std::fputs(prompt.c_str(), stderr);
  std::fflush(stderr);
  if (!std::getline(std::cin, answer)) {
    std::fputc('\n', stderr);
    return false;
  }
  return true;
}

MsgResult ConsoleUi::ShowMessageDialog(const std::string& text, MsgIcon,
                                       MsgButtons buttons) {
  if (buttons == MsgButtons::Ok) {
    ShowMessageBox(text);
    return MsgResult::Ok;
  }
  // Without a terminal nobody can answer: the question is shown as it is
  // and answered by --overwrite, or No.
  if (options_.Overwrite || !terminalIn_) {
    ShowMessageBox(text);
    return options_.Overwrite ? MsgResult::Yes : MsgResult::No;
  }
  std::string answer;
  if (!PromptLine(text + " [y/N] ", answer)) return MsgResult::No;
  return (answer == "y" || answer == "Y" || answer == "yes" || answer == "Yes")
             ? MsgResult::Yes
             : MsgResult::No;
}

bool ConsoleUi::CanAskRawDimensions() const {
  return options_.RawWidth != 0 || options_.RawBits != 0 || terminalIn_;
}

RawDialogResult ConsoleUi::AskRawDimensions(std::int64_t fileSize,
                                            std::uint32_t width,
                                            std::uint32_t height) {
  rawModel_.Prepare(fileSize, width, height, 0);
  if (options_.RawWidth != 0 || options_.RawBits != 0) {
    // The given size must fit the file exactly, as the dialog's OK demands;
    // otherwise the reader refuses the file with its own message.
    rawModel_.Set8Bit(options_.RawBits != 16);
    rawModel_.SetWidthText(std::to_string(options_.RawWidth));
    rawModel_.SetHeightText(std::to_string(options_.RawHeight));
    if (options_.RawBits != 8 && options_.RawBits != 16) return {true, 0, 0, 0};
    if (!rawModel_.SpeedButton1Click()) return {true, 0, 0, options_.RawBits};
    return rawModel_.Result();
  }
  if (!terminalIn_) return {};

  FinishLine();
  std::fprintf(stderr, "RAW Info - File size : %s\n",
               rawModel_.SizeText().c_str());
  for (;;) {
    std::string answer;
    if (!PromptLine(std::string("Bits (8 or 16) [") +
                        (rawModel_.Is8Bit() ? "8" : "16") + "]: ",
                    answer))
      break;
    if (answer == "8" || answer == "16") rawModel_.Set8Bit(answer == "8");
    if (!PromptLine("Width [" + rawModel_.WidthText() + "]: ", answer)) break;
    if (!answer.empty()) rawModel_.SetWidthText(answer);
    if (!PromptLine("Height [" + rawModel_.HeightText() + "]: ", answer)) break;
    if (!answer.empty()) rawModel_.SetHeightText(answer);
    if (rawModel_.SpeedButton1Click()) return rawModel_.Result();
    std::fprintf(stderr,
                 "Width x height must match the %lld pixels the file holds at "
                 "%u bits. Press Ctrl-D to cancel.\n",
                 static_cast<long long>(rawModel_.NumPixel), rawModel_.Bits());
  }
  rawModel_.SpeedButton2Click();
  return {};
}

void ConsoleUi::ProcessEvents() {
  if (engine_ && InterruptRequested()) engine_->Aborted = true;
}

void ConsoleUi::Attach(TTrelvi& engine) {
  engine_ = &engine;
  engine.OnError = [this](const std::string& m) { ShowMessageBox(m); };
  engine.OnStatus = [this](const std::string& m) {
    Status(m);
    ProcessEvents();
  };
  engine.OnShowProgress = [this](std::int32_t max, const std::string& d) {
    ShowProgress(max, d);
  };
  engine.OnUpdateProgress = [this](std::int32_t c) {
    ProcessEvents();
    UpdateProgress(c);
  };
  engine.OnHideProgress = [this] { HideProgress(); };
}

void ConsoleUi::ShowProgress(std::int32_t max, const std::string& desc) {
  max_ = max;
  current_ = 0;
  desc_ = desc;
  status_.clear();
  progressShown_ = true;
  started_ = std::chrono::steady_clock::now();
  // A new progress display clears the stop flag, unless Ctrl-C was pressed.
  if (engine_) engine_->Aborted = InterruptRequested();
  Redraw(true);
}

void ConsoleUi::UpdateProgress(std::int32_t current) {
  current_ = current;
  Redraw(false);
}

void ConsoleUi::HideProgress() {
  if (progressShown_) Redraw(true);
  progressShown_ = false;
  FinishLine();
}

void ConsoleUi::Status(const std::string& text) {
  status_ = text;
  Redraw(false);
}

void ConsoleUi::Redraw(bool force) {
  if (options_.Quiet || !terminalErr_ || !progressShown_) return;
  const auto now = std::chrono::steady_clock::now();
  if (!force && now - lastDraw_ < std::chrono::milliseconds(100)) return;
  lastDraw_ = now;
  const double fraction =
      max_ > 0 ? std::min(1.0, static_cast<double>(current_) / max_) : 0.0;
  constexpr int kBar = 24;
  const int filled = static_cast<int>(fraction * kBar);
  const double elapsed = std::chrono::duration<double>(now - started_).count();
  const std::string left =
      fraction > 0.001 ? Clock(elapsed / fraction - elapsed) : "--:--";
  std::string line = desc_.empty() ? std::string() : desc_ + " ";
  line += '[';
  line.append(static_cast<std::size_t>(filled), '#');
  line.append(static_cast<std::size_t>(kBar - filled), '.');
  line += "] ";
  char numbers[160];
  std::snprintf(
      numbers, sizeof numbers, "%3d%% %s/%s rows, %s elapsed, %s left",
      static_cast<int>(fraction * 100), FormatGrouped(current_).c_str(),
      FormatGrouped(max_).c_str(), Clock(elapsed).c_str(), left.c_str());
  line += numbers;
  if (!status_.empty()) line += "  " + status_;
  std::fprintf(stderr, "\r\033[K%s", line.c_str());
  std::fflush(stderr);
  lineOpen_ = true;
}

}  // namespace trelvi::cli
