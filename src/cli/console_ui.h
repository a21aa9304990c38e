#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "engine/trelvi.h"
#include "engine/ui_services.h"
#include "ui/raw_info_model.h"

namespace trelvi::cli {

// Ctrl-C: the first press asks the running operation to stop as a
// confirmed Abort does; a second one ends the program at once.
void InstallInterruptHandler();
bool InterruptRequested();

struct ConsoleOptions {
  bool Overwrite = false;  // answer Yes to the overwrite question
  bool Quiet = false;      // no progress display
  std::uint32_t RawWidth = 0, RawHeight = 0;  // --raw-size
  std::uint16_t RawBits = 0;                  // --bits
};

// The console's side of the user-interface services: messages to stderr,
// questions on the terminal when there is one.
class ConsoleUi : public UiServices {
 public:
  explicit ConsoleUi(ConsoleOptions options);

  void ShowMessageBox(const std::string& text) override;
  MsgResult ShowMessageDialog(const std::string& text, MsgIcon icon,
                              MsgButtons buttons) override;
  RawDialogResult AskRawDimensions(std::int64_t fileSize, std::uint32_t width,
                                   std::uint32_t height) override;
  void ProcessEvents() override;

  // Binds the engine's hooks to this console (errors, status, progress)
  // and lets Ctrl-C reach its Aborted flag.
  void Attach(TTrelvi& engine);

  // Whether a RAW input without a usable size can still be described here.
  bool CanAskRawDimensions() const;

  // Ends a progress line so that the next message starts on a fresh line.
  void FinishLine();

 private:
  void ShowProgress(std::int32_t max, const std::string& desc);
  void UpdateProgress(std::int32_t current);
  void HideProgress();
  void Status(const std::string& text);
  void Redraw(bool force);
  bool PromptLine(const std::string& prompt, std::string& answer);

  ConsoleOptions options_;
  bool terminalIn_;
  bool terminalErr_;
  TTrelvi* engine_ = nullptr;
  RawInfoModel rawModel_;

  // Progress line.
  bool progressShown_ = false;
  bool lineOpen_ = false;
  std::int32_t max_ = 0;
  std::int32_t current_ = 0;
  std::string desc_;
  std::string status_;
  std::chrono::steady_clock::time_point started_;
  std::chrono::steady_clock::time_point lastDraw_;
};

}  // namespace trelvi::cli
