#include <QApplication>
#include <QFont>
#include <QLabel>
#include <QStandardPaths>

#include "ui/qt/artwork.h"
#include "ui/qt/frm_main.h"
#include "ui/qt/qt_ui_services.h"
#include "ui/qt/window_services.h"
#include "ui/settings.h"

int main(int argc, char** argv) {
  using namespace trelvi;
  using namespace trelvi::gui;

  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("TrelviTools"));
  QGuiApplication::setDesktopFileName(QStringLiteral("trelvi-gui"));
  QApplication::setWindowIcon(AppIcon());
  QFont font(QStringLiteral("Tahoma"));
  font.setStyleHint(QFont::SansSerif);
  font.setPointSize(8);
  QApplication::setFont(font);

  QtUiServices ui;
  QtWindowServices windows;
  TFrmMainOptions options;
  options.SettingsFile = ChooseSettingsFile(
      QCoreApplication::applicationFilePath().toStdString(),
      QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation)
          .toStdString());

  TFrmMain window(ui, windows, options);
  ui.SetMainWindow(&window);
  window.lbAboutInfo->setText(window.windowTitle());
  ui.CreateDialogs();
  windows.CreateDialogs(&window);
  window.show();
  return app.exec();
}
