#include "ui/qt/taskbar_progress.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QFileInfo>
#include <QtGlobal>

namespace trelvi::gui {

namespace {
const char* const kObjectPath = "/com/trelvitools/TrelviTools";
const char* const kInterface = "com.canonical.Unity.LauncherEntry";

// Asking for the session bus where none was announced may start one (D-Bus
// autolaunch); a desktop that shows launcher progress always announces it.
bool SessionBusAnnounced() {
  if (qEnvironmentVariableIsSet("DBUS_SESSION_BUS_ADDRESS")) return true;
  const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
  return !runtime.isEmpty() &&
         QFileInfo::exists(runtime + QStringLiteral("/bus"));
}
}  // namespace

LauncherEntryProgress::LauncherEntryProgress(QString desktopFile)
    : appUri_(QStringLiteral("application://") + desktopFile),
      busAvailable_(SessionBusAnnounced() &&
                    QDBusConnection::sessionBus().isConnected()) {}

LauncherEntryProgress::~LauncherEntryProgress() {
  // A launcher keeps showing the last progress it was sent.
  if (sentOnce_ && sentState_ != TaskbarState::None) {
    state_ = TaskbarState::None;
    Publish();
  }
}

void LauncherEntryProgress::SetMaximum(std::int32_t maximum) {
  maximum_ = maximum;
  Publish();
}

void LauncherEntryProgress::SetValue(std::int32_t value) {
  value_ = value;
  Publish();
}

void LauncherEntryProgress::SetState(TaskbarState state) {
  state_ = state;
  Publish();
}

int LauncherEntryProgress::Permille(std::int32_t value, std::int32_t maximum) {
  if (maximum <= 0 || value <= 0) return 0;
  if (value >= maximum) return 1000;
  return static_cast<int>(static_cast<std::int64_t>(value) * 1000 / maximum);
}

QVariantMap LauncherEntryProgress::Properties(std::int32_t value,
                                              std::int32_t maximum,
                                              TaskbarState state) {
  QVariantMap properties;
  properties.insert(QStringLiteral("progress"),
                    Permille(value, maximum) / 1000.0);
  // The launcher entry knows no paused look: a paused operation keeps its
  // bar, as it keeps its place.
  properties.insert(QStringLiteral("progress-visible"),
                    state != TaskbarState::None);
  return properties;
}

void LauncherEntryProgress::Publish() {
  if (!busAvailable_) return;
  const int permille = Permille(value_, maximum_);
  if (sentOnce_ && permille == sentPermille_ && state_ == sentState_) return;
  QDBusMessage signal = QDBusMessage::createSignal(
      QString::fromLatin1(kObjectPath), QString::fromLatin1(kInterface),
      QStringLiteral("Update"));
  signal << appUri_ << Properties(value_, maximum_, state_);
  QDBusConnection::sessionBus().send(signal);
  sentOnce_ = true;
  sentPermille_ = permille;
  sentState_ = state_;
}

}  // namespace trelvi::gui
