#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "engine/ui_services.h"

namespace trelvi::test {

// Records every message the program shows and answers its questions from a
// script. An unscripted question is answered No (or Cancel) and recorded, so
// a test never hangs waiting for a person.
class ScriptedUi : public UiServices {
 public:
  struct Shown {
    std::string Text;
    bool IsDialog = false;
    MsgIcon Icon = MsgIcon::Information;
    MsgButtons Buttons = MsgButtons::Ok;
  };

  void ShowMessageBox(const std::string& text) override;
  MsgResult ShowMessageDialog(const std::string& text, MsgIcon icon,
                              MsgButtons buttons) override;
  RawDialogResult AskRawDimensions(std::int64_t fileSize, std::uint32_t width,
                                   std::uint32_t height) override;
  void ProcessEvents() override;

  // Script.
  void AnswerYesNo(MsgResult answer) { yesNo_.push_back(answer); }
  void AnswerRawDialog(RawDialogResult answer) { raw_.push_back(answer); }

  // Record.
  std::vector<Shown> Messages;
  std::vector<std::string> Texts() const;
  std::string LastText() const {
    return Messages.empty() ? std::string() : Messages.back().Text;
  }
  int RawDialogCalls = 0;
  std::int64_t RawDialogFileSize = -1;
  int EventCalls = 0;

  // Called on every ProcessEvents; lets a test press Abort mid-run.
  std::function<void()> OnEvents;

 private:
  std::deque<MsgResult> yesNo_;
  std::deque<RawDialogResult> raw_;
};

}  // namespace trelvi::test
