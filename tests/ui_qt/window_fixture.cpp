#include "window_fixture.h"

#include <QDeadlineTimer>
#include <QDropEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QUrl>
#include <QtTest/QTest>
#include <algorithm>
#include <filesystem>

namespace trelvi::gui::test {

void QtScriptedUi::ProcessEvents() {
  ScriptedUi::ProcessEvents();
  QCoreApplication::processEvents();
}

std::optional<std::vector<std::string>> ScriptedWindows::ChooseInputFiles(
    QWidget*, bool multiple) {
  ++InputCalls;
  LastMultiple = multiple;
  if (InputAnswers.empty()) return std::nullopt;
  auto answer = InputAnswers.front();
  InputAnswers.pop_front();
  return answer;
}

std::optional<std::string> ScriptedWindows::ChooseFolder(
    QWidget*, const std::string& startDirectory) {
  ++FolderCalls;
  LastFolderStart = startDirectory;
  if (FolderAnswers.empty()) return std::nullopt;
  auto answer = FolderAnswers.front();
  FolderAnswers.pop_front();
  return answer;
}

int ScriptedWindows::ConfirmAbort(std::uint16_t x, std::uint16_t y) {
  ++ConfirmCalls;
  LastConfirmAt = QPoint(x, y);
  if (ConfirmAnswers.empty()) return mrNo;
  const int answer = ConfirmAnswers.front();
  ConfirmAnswers.pop_front();
  return answer;
}

void ScriptedWindows::OpenAddress(const QString& address) {
  OpenedAddresses.push_back(address);
}

EveryPass::EveryPass(std::function<bool()> step) : step_(std::move(step)) {
  timer_.setInterval(0);
  QObject::connect(&timer_, &QTimer::timeout, [this] {
    if (done_) return;
    if (step_()) {
      done_ = true;
      timer_.stop();
    }
  });
  timer_.start();
}

EveryPass::~EveryPass() { timer_.stop(); }

bool WaitUntil(const std::function<bool()>& condition) {
  QDeadlineTimer deadline(10000);
  while (!condition()) {
    if (deadline.hasExpired()) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QTest::qSleep(1);
  }
  return true;
}

void WindowTest::Create(TFrmMainOptions options) {
  w.reset();
  options.Taskbar = &taskbar;
  w = std::make_unique<TFrmMain>(ui, windows, options);
  w->show();
  QCoreApplication::processEvents();
}

void WindowTest::TearDown() {
  if (w) {
    w->hide();
    w.reset();
  }
  QCoreApplication::processEvents();
}

void WindowTest::Drop(const std::vector<std::string>& paths, int y) {
  QMimeData data;
  QList<QUrl> urls;
  for (const auto& p : paths)
    urls << QUrl::fromLocalFile(QString::fromStdString(p));
  data.setUrls(urls);
  // Qt hands a drop only to the widget that took the drag when it entered.
  QDragEnterEvent enter(QPoint(200, y), Qt::CopyAction, &data, Qt::LeftButton,
                        Qt::NoModifier);
  QApplication::sendEvent(w.get(), &enter);
  QDragMoveEvent move(QPoint(200, y), Qt::CopyAction, &data, Qt::LeftButton,
                      Qt::NoModifier);
  QApplication::sendEvent(w.get(), &move);
  QDropEvent drop(QPointF(200, y), Qt::CopyAction, &data, Qt::LeftButton,
                  Qt::NoModifier);
  QApplication::sendEvent(w.get(), &drop);
  // The window handles the drop once the drag has ended.
  QCoreApplication::processEvents();
  QCoreApplication::processEvents();
}

void WindowTest::Type(QWidget* field, const QString& text) {
  auto* edit = static_cast<QLineEdit*>(field);
  edit->selectAll();
  QTest::keyClicks(field, text);
}

std::string WindowTest::MakeTiff(const std::string& name, std::uint32_t width,
                                 std::uint32_t height) {
  trelvi::test::TiffSpec spec;
  spec.Width = width;
  spec.Height = height;
  spec.RowsPerStrip = 16;
  const std::string file = dir.File(name);
  trelvi::test::WriteTiff(file, spec);
  return file;
}

std::string WindowTest::MakeRaw(const std::string& base, std::uint32_t width,
                                std::uint32_t height) {
  const std::string file = dir.File(base + "_" + std::to_string(width) + "X" +
                                    std::to_string(height) + ".raw");
  trelvi::test::WriteBytes(file, trelvi::test::MakePixels(width, height, 3, 8));
  return file;
}

std::vector<std::string> WindowTest::FilesIn(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace trelvi::gui::test
