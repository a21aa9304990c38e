#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QPoint>
#include <QString>
#include <QTimer>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/fixtures.h"
#include "support/scripted_ui.h"
#include "ui/qt/frm_confirm.h"
#include "ui/qt/frm_main.h"
#include "ui/qt/taskbar_progress.h"
#include "ui/qt/window_services.h"

namespace trelvi::gui::test {

// Message boxes and the RAW dialog from a script; event servicing is Qt's
// own, so that timers and clicks reach the window inside the hooks.
class QtScriptedUi : public trelvi::test::ScriptedUi {
 public:
  void ProcessEvents() override;
};

// The open and folder dialogs, the abort question and the browser, answered
// from a script and recorded. An unscripted dialog is cancelled and an
// unscripted question answered No.
class ScriptedWindows : public WindowServices {
 public:
  std::optional<std::vector<std::string>> ChooseInputFiles(
      QWidget* parent, bool multiple) override;
  std::optional<std::string> ChooseFolder(
      QWidget* parent, const std::string& startDirectory) override;
  int ConfirmAbort(std::uint16_t x, std::uint16_t y) override;
  void OpenAddress(const QString& address) override;

  std::deque<std::optional<std::vector<std::string>>> InputAnswers;
  std::deque<std::optional<std::string>> FolderAnswers;
  std::deque<int> ConfirmAnswers;

  int InputCalls = 0;
  bool LastMultiple = false;
  int FolderCalls = 0;
  std::string LastFolderStart;
  int ConfirmCalls = 0;
  QPoint LastConfirmAt;
  std::vector<QString> OpenedAddresses;
};

// Records what the taskbar would show.
class RecordingTaskbar : public TaskbarProgress {
 public:
  void SetMaximum(std::int32_t maximum) override { Maximum = maximum; }
  void SetValue(std::int32_t value) override { Value = value; }
  void SetState(TaskbarState state) override { States.push_back(state); }
  TaskbarState State() const {
    return States.empty() ? TaskbarState::None : States.back();
  }
  std::int32_t Maximum = -1;
  std::int32_t Value = -1;
  std::vector<TaskbarState> States;
};

// Runs Step at every pass of the event loop (also inside the window's
// hooks) until it returns true or the deadline passes.
class EveryPass {
 public:
  explicit EveryPass(std::function<bool()> step);
  ~EveryPass();
  bool Done() const { return done_; }

 private:
  QTimer timer_;
  std::function<bool()> step_;
  bool done_ = false;
};

// Processes events until the condition holds; false after ten seconds.
bool WaitUntil(const std::function<bool()>& condition);

// A window with its services doubled, shown on the offscreen platform.
class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override { Create(); }
  void TearDown() override;
  void Create(TFrmMainOptions options = {});

  // A drop of the paths at height y of the client area, through Qt's
  // drag-and-drop events.
  void Drop(const std::vector<std::string>& paths, int y);
  // Opens a single input by dropping it on the input band.
  void Open(const std::string& path) { Drop({path}, 150); }
  // Selects the field's text and types, as a person does.
  static void Type(QWidget* field, const QString& text);

  // A TIFF of the given size in the test folder.
  std::string MakeTiff(const std::string& name, std::uint32_t width,
                       std::uint32_t height);
  // A RAW file whose name carries its size.
  std::string MakeRaw(const std::string& base, std::uint32_t width,
                      std::uint32_t height);
  // Files in a folder, names only.
  static std::vector<std::string> FilesIn(const std::string& folder);

  QtScriptedUi ui;
  ScriptedWindows windows;
  RecordingTaskbar taskbar;
  trelvi::test::TempDir dir;
  std::unique_ptr<TFrmMain> w;
};

}  // namespace trelvi::gui::test
