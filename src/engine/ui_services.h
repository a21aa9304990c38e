#pragma once

#include <cstdint>
#include <string>

namespace trelvi {

enum class MsgIcon { Error, Question, Warning, Information };
enum class MsgButtons { Ok, YesNo };
enum class MsgResult { Ok, Yes, No };

// What the RAW dimensions dialog hands back. Ok false means Cancel (or the
// close box); Width and Height are then 0.
struct RawDialogResult {
  bool Ok = false;
  std::uint32_t Width = 0;
  std::uint32_t Height = 0;
  std::uint16_t Bits = 0;  // 8 or 16, as the radio buttons were left
};

// Everything the engine, the operations and the resize pipeline need from
// the person in front of the program. The window implements it with Qt, the
// command line with the console, the tests with a scripted double.
class UiServices {
 public:
  virtual ~UiServices() = default;

  // Modal box with one OK button, no icon, caption "Trelvi Tools".
  virtual void ShowMessageBox(const std::string& text) = 0;

  // Modal box with an icon and OK or Yes/No; returns the button chosen.
  virtual MsgResult ShowMessageDialog(const std::string& text, MsgIcon icon,
                                      MsgButtons buttons) = 0;

  // The RAW dimensions dialog for a file of FileSize bytes. Width and
  // Height are the size the file name proposes (0 when none).
  virtual RawDialogResult AskRawDimensions(std::int64_t fileSize,
                                           std::uint32_t width,
                                           std::uint32_t height) = 0;

  // Handles every pending user-interface event once, then returns.
  virtual void ProcessEvents() = 0;
};

// Answers every question in the negative and shows nothing: for engines that
// must never reach the user.
class SilentUiServices final : public UiServices {
 public:
  void ShowMessageBox(const std::string&) override {}
  MsgResult ShowMessageDialog(const std::string&, MsgIcon,
                              MsgButtons buttons) override {
    return buttons == MsgButtons::YesNo ? MsgResult::No : MsgResult::Ok;
  }
  RawDialogResult AskRawDimensions(std::int64_t, std::uint32_t,
                                   std::uint32_t) override {
    return {};
  }
  void ProcessEvents() override {}

  static SilentUiServices& Instance() {
    static SilentUiServices instance;
    return instance;
  }
};

}  // namespace trelvi
