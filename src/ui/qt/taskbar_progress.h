#pragma once

#include <QString>
#include <QVariantMap>
#include <cstdint>

#include "ui/qt/app_setup.h"

namespace trelvi::gui {

enum class TaskbarState { None, Normal, Paused };

// The progress shown on the program's taskbar or launcher entry: a maximum,
// a value and a state. Where the desktop offers no such display, an
// implementation simply does nothing.
class TaskbarProgress {
 public:
  virtual ~TaskbarProgress() = default;
  virtual void SetMaximum(std::int32_t maximum) = 0;
  virtual void SetValue(std::int32_t value) = 0;
  virtual void SetState(TaskbarState state) = 0;
};

// Publishes the progress as the launcher-entry signal that docks and
// taskbars on Linux desktops listen to (Unity, Plasma, Dash to Dock...),
// over the session bus when there is one. The signal goes out only when
// what a launcher would show changes, so frequent updates cost nothing.
class LauncherEntryProgress final : public TaskbarProgress {
 public:
  // The desktop file the launcher knows the program by: the installed
  // entry.
  explicit LauncherEntryProgress(QString desktopFile = DesktopEntryName());
  ~LauncherEntryProgress() override;

  void SetMaximum(std::int32_t maximum) override;
  void SetValue(std::int32_t value) override;
  void SetState(TaskbarState state) override;

  // The application the signals name.
  const QString& AppUri() const { return appUri_; }

  // The properties of one update signal.
  static QVariantMap Properties(std::int32_t value, std::int32_t maximum,
                                TaskbarState state);
  // The fraction a launcher shows, in thousandths; the signal is sent when
  // this or the state changes.
  static int Permille(std::int32_t value, std::int32_t maximum);

 private:
  void Publish();

  QString appUri_;
  bool busAvailable_ = false;
  std::int32_t maximum_ = 0;
  std::int32_t value_ = 0;
  TaskbarState state_ = TaskbarState::None;
  int sentPermille_ = -1;
  TaskbarState sentState_ = TaskbarState::None;
  bool sentOnce_ = false;
};

}  // namespace trelvi::gui
