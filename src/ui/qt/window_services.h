#pragma once

#include <QPointer>
#include <QString>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class QWidget;

namespace trelvi::gui {

class TFrmConfirm;

// The main window's own dialogs and the desktop shell: the open dialog, the
// folder dialog, the abort confirmation and the browser. The window reaches
// them only through this interface, so tests answer them without a person.
class WindowServices {
 public:
  virtual ~WindowServices() = default;

  // The open dialog "Trelvi Tools - input file": one existing file, or
  // several in Merge mode; nothing when cancelled.
  virtual std::optional<std::vector<std::string>> ChooseInputFiles(
      QWidget* parent, bool multiple) = 0;

  // The folder dialog, starting at startDirectory; nothing when cancelled.
  virtual std::optional<std::string> ChooseFolder(
      QWidget* parent, const std::string& startDirectory) = 0;

  // The abort confirmation with its top-left corner at (x, y) on the screen:
  // mrYes or mrNo.
  virtual int ConfirmAbort(std::uint16_t x, std::uint16_t y) = 0;

  // The address in the default browser.
  virtual void OpenAddress(const QString& address) = 0;
};

// The real dialogs.
class QtWindowServices final : public WindowServices {
 public:
  QtWindowServices();
  ~QtWindowServices() override;

  std::optional<std::vector<std::string>> ChooseInputFiles(
      QWidget* parent, bool multiple) override;
  std::optional<std::string> ChooseFolder(
      QWidget* parent, const std::string& startDirectory) override;
  int ConfirmAbort(std::uint16_t x, std::uint16_t y) override;
  void OpenAddress(const QString& address) override;

  // The confirmation dialog, created at start-up and hidden until needed.
  void CreateDialogs(QWidget* owner);
  TFrmConfirm* Confirm() const;

 private:
  // Owned by the main window once it exists, else by these services.
  QPointer<TFrmConfirm> confirm_;
  // Where the open dialog was left, for the next time.
  QString lastInputDirectory_;
  QString lastFilter_;
};

}  // namespace trelvi::gui
