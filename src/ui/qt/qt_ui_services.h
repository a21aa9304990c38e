#pragma once

#include <QPointer>

#include "engine/ui_services.h"

class QWidget;

namespace trelvi::gui {

class TFrmRawInfo;

// The caption of every message box.
inline constexpr const char* kAppTitle = "Trelvi Tools";

// The engine's user-interface services with Qt: modal message boxes, the
// RAW dimensions dialog placed by the main window, and event servicing.
class QtUiServices final : public UiServices {
 public:
  QtUiServices();
  ~QtUiServices() override;

  void ShowMessageBox(const std::string& text) override;
  MsgResult ShowMessageDialog(const std::string& text, MsgIcon icon,
                              MsgButtons buttons) override;
  RawDialogResult AskRawDimensions(std::int64_t fileSize, std::uint32_t width,
                                   std::uint32_t height) override;
  void ProcessEvents() override;

  // The window the dialogs belong to and are placed by.
  void SetMainWindow(QWidget* window);
  // The RAW dimensions dialog, created at start-up and hidden until needed.
  void CreateDialogs();
  TFrmRawInfo* RawInfo() const;

  // "\r\n" in the engine's texts is one line break.
  static QString DisplayText(const std::string& text);

 private:
  QPointer<QWidget> mainWindow_;
  // Owned by the main window once it exists, else by these services.
  QPointer<TFrmRawInfo> rawInfo_;
};

}  // namespace trelvi::gui
