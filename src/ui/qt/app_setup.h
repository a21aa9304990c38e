#pragma once

#include <QString>
#include <string>

namespace trelvi::gui {

// The name the desktop knows the program by: its desktop entry
// (<id>.desktop), its icon and its AppStream component. The build passes the
// one the packaging installs, so the launcher's progress signal and the
// installed entry cannot disagree.
#ifdef TRELVI_APP_ID
inline constexpr const char* kAppId = TRELVI_APP_ID;
#else
inline constexpr const char* kAppId = "com.trelvitools.TrelviTools";
#endif

// The desktop entry's file name.
QString DesktopEntryName();

// The application object's names, icon and font; call right after the
// QApplication exists.
void SetUpApplication();

// The user's settings folder, named apart from the application name so
// that it does not move when that name does.
QString UserConfigFolder();

// Whether the program at programPath runs from an installation: its
// desktop entry lies in share/applications beside the bin folder that holds
// it. An installed program keeps its settings in the user's folder, never
// in the shared program folder (which root could write to).
bool RunsInstalled(const std::string& programPath);

// The settings file of the program at programPath: beside the program where
// it may write (a build or a portable copy), else in userConfigDir.
std::string SettingsFileFor(const std::string& programPath,
                            const std::string& userConfigDir);

}  // namespace trelvi::gui
