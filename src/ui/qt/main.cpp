#include <QApplication>
#include <QLabel>
#include <QStringList>
#include <QTimer>

#include "ui/qt/app_setup.h"
#include "ui/qt/frm_main.h"
#include "ui/qt/qt_ui_services.h"
#include "ui/qt/window_services.h"

int main(int argc, char** argv) {
  using namespace trelvi;
  using namespace trelvi::gui;

  QApplication app(argc, argv);
  SetUpApplication();

  QtUiServices ui;
  QtWindowServices windows;
  TFrmMainOptions options;
  options.SettingsFile =
      SettingsFileFor(QCoreApplication::applicationFilePath().toStdString(),
                      UserConfigFolder().toStdString());

  TFrmMain window(ui, windows, options);
  ui.SetMainWindow(&window);
  window.lbAboutInfo->setText(window.windowTitle());
  ui.CreateDialogs();
  windows.CreateDialogs(&window);
  window.show();
  // "Open with" from the desktop names one image: it becomes the input of
  // a Convert, once the window is on the screen to carry its messages.
  const QStringList args = QCoreApplication::arguments();
  if (args.size() > 1) {
    const std::string file = args.at(1).toStdString();
    QTimer::singleShot(0, &window, [&window, file] { window.OpenInput(file); });
  }
  return app.exec();
}
