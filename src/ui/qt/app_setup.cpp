#include "ui/qt/app_setup.h"

#include <QApplication>
#include <QFont>
#include <QGuiApplication>
#include <QStandardPaths>
#include <filesystem>
#include <system_error>

#include "ui/qt/artwork.h"
#include "ui/qt/qt_ui_services.h"
#include "ui/settings.h"

namespace trelvi::gui {

namespace fs = std::filesystem;

QString DesktopEntryName() {
  return QString::fromLatin1(kAppId) + QStringLiteral(".desktop");
}

void SetUpApplication() {
  // The name people see. Set as the application name, not as a display
  // name of its own: Qt appends a display name to every window caption.
  QCoreApplication::setApplicationName(QString::fromLatin1(kAppTitle));
  QGuiApplication::setDesktopFileName(QString::fromLatin1(kAppId));
  QApplication::setWindowIcon(AppIcon());
  QFont font(QStringLiteral("Tahoma"));
  font.setStyleHint(QFont::SansSerif);
  font.setPointSize(8);
  QApplication::setFont(font);
}

QString UserConfigFolder() {
  return QStandardPaths::writableLocation(
             QStandardPaths::GenericConfigLocation) +
         QStringLiteral("/TrelviTools");
}

bool RunsInstalled(const std::string& programPath) {
  const fs::path folder = fs::path(programPath).parent_path();
  if (folder.filename() != "bin") return false;
  std::error_code ec;
  return fs::is_regular_file(folder.parent_path() / "share" / "applications" /
                                 DesktopEntryName().toStdString(),
                             ec);
}

std::string SettingsFileFor(const std::string& programPath,
                            const std::string& userConfigDir) {
  if (!userConfigDir.empty() && RunsInstalled(programPath))
    return (fs::path(userConfigDir) /
            fs::path(SettingsFileBesideProgram(programPath)).filename())
        .string();
  return ChooseSettingsFile(programPath, userConfigDir);
}

}  // namespace trelvi::gui
