// The names the desktop knows the program by, and where an installed
// program keeps its settings.
#include "ui/qt/app_setup.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFont>
#include <QIcon>
#include <filesystem>
#include <fstream>

#include "support/fixtures.h"
#include "ui/qt/taskbar_progress.h"

namespace trelvi::gui::test {
namespace {

namespace fs = std::filesystem;

// The set-up changes the application object; the other tests get it back.
class AppSetupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    name_ = QCoreApplication::applicationName();
    desktop_ = QGuiApplication::desktopFileName();
    font_ = QApplication::font();
    icon_ = QApplication::windowIcon();
  }
  void TearDown() override {
    QCoreApplication::setApplicationName(name_);
    QGuiApplication::setDesktopFileName(desktop_);
    QApplication::setFont(font_);
    QApplication::setWindowIcon(icon_);
  }

 private:
  QString name_, desktop_;
  QFont font_;
  QIcon icon_;
};

TEST_F(AppSetupTest, TheDesktopSeesTrelviToolsUnderTheInstalledEntry) {
  SetUpApplication();
  EXPECT_EQ(QGuiApplication::applicationDisplayName(), "Trelvi Tools");
  EXPECT_EQ(QGuiApplication::desktopFileName(), "com.trelvitools.TrelviTools");
  // The launcher progress names the entry the packaging installs.
  EXPECT_EQ(DesktopEntryName(), "com.trelvitools.TrelviTools.desktop");
  EXPECT_EQ(LauncherEntryProgress().AppUri(),
            "application://com.trelvitools.TrelviTools.desktop");
  EXPECT_FALSE(QApplication::windowIcon().isNull());
}

TEST_F(AppSetupTest, AnInstalledProgramKeepsItsSettingsInTheUsersFolder) {
  trelvi::test::TempDir dir;
  const fs::path prefix = dir.Path() / "usr";
  fs::create_directories(prefix / "bin");
  fs::create_directories(prefix / "share" / "applications");
  const std::string program = (prefix / "bin" / "trelvi-gui").string();
  std::ofstream(program).close();
  const std::string user = (dir.Path() / "home").string();

  // A build or a copy in a folder of its own writes beside itself.
  EXPECT_FALSE(RunsInstalled(program));
  EXPECT_EQ(SettingsFileFor(program, user),
            (prefix / "bin" / "trelvi-gui.ini").string());

  // Installed, it never writes into the shared program folder, even where
  // it could (root).
  std::ofstream(prefix / "share" / "applications" /
                "com.trelvitools.TrelviTools.desktop")
      .close();
  EXPECT_TRUE(RunsInstalled(program));
  EXPECT_EQ(SettingsFileFor(program, user),
            (fs::path(user) / "trelvi-gui.ini").string());
  // A settings file left beside an installed program is not read.
  std::ofstream(prefix / "bin" / "trelvi-gui.ini").close();
  EXPECT_EQ(SettingsFileFor(program, user),
            (fs::path(user) / "trelvi-gui.ini").string());
}

}  // namespace
}  // namespace trelvi::gui::test
