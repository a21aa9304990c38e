// Saves a picture of the window in each mode, of the About view as a first
// start shows it and with both answers of the update check (from a server of
// its own on 127.0.0.1), of a real resize running and paused by its Pause
// button, and of the two small dialogs, for the documentation:
//   xvfb-run -a build/release/trelvi-gui-screenshots docs/
#include <QApplication>
#include <QCheckBox>
#include <QDeadlineTimer>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <utility>

#include "ui/qt/app_setup.h"
#include "ui/qt/frm_confirm.h"
#include "ui/qt/frm_main.h"
#include "ui/qt/frm_raw_info.h"
#include "ui/qt/int_edit.h"
#include "ui/qt/qt_ui_services.h"
#include "ui/qt/window_services.h"

#ifdef TRELVI_HAVE_UPDATE_CHECK
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#endif

namespace {

using namespace trelvi;
using namespace trelvi::gui;

// Dialogs answer nothing here: the pictures show the window as it is. The
// abort question is answered as the script says.
class QuietWindowServices final : public WindowServices {
 public:
  std::optional<std::vector<std::string>> ChooseInputFiles(QWidget*,
                                                           bool) override {
    return std::nullopt;
  }
  std::optional<std::string> ChooseFolder(QWidget*,
                                          const std::string&) override {
    return std::nullopt;
  }
  int ConfirmAbort(std::uint16_t, std::uint16_t) override {
    return AbortAnswer;
  }
  void OpenAddress(const QString&) override {}
  int AbortAnswer = mrNo;
};

void Save(QWidget* widget, const QString& file) {
  widget->show();
  widget->raise();
  for (int i = 0; i < 5; ++i) QApplication::processEvents();
  if (!widget->grab().save(file))
    std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
  else
    std::printf("%s\n", qPrintable(file));
}

#ifdef TRELVI_HAVE_UPDATE_CHECK
// An update server on 127.0.0.1 that answers every request with Version,
// served from this thread's event loop.
class VersionServer {
 public:
  VersionServer() {
    if (!server_.listen(QHostAddress::LocalHost, 0))
      std::fprintf(stderr, "cannot listen on 127.0.0.1\n");
    QObject::connect(&server_, &QTcpServer::newConnection, &server_,
                     [this] { Accept(); });
  }
  QString Address() const {
    return QStringLiteral("http://127.0.0.1:%1").arg(server_.serverPort());
  }
  QByteArray Version;

 private:
  void Accept() {
    while (QTcpSocket* socket = server_.nextPendingConnection()) {
      QObject::connect(socket, &QTcpSocket::disconnected, socket,
                       &QObject::deleteLater);
      QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
        const QByteArray head =
            socket->property("head").toByteArray() + socket->readAll();
        socket->setProperty("head", head);
        if (!head.contains("\r\n\r\n")) return;
        const QByteArray body = Version + "\r\n";
        socket->write(
            "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n"
            "Content-Length: " +
            QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" +
            body);
        socket->disconnectFromHost();
      });
    }
  }
  QTcpServer server_;
};

// Presses "Check for updates" and waits, at most ten seconds, for the answer.
bool CheckForUpdates(TFrmMain& w) {
  w.Button1->click();
  QDeadlineTimer deadline(10000);
  while (w.lbNewVersion->text() == QStringLiteral("Checking for updates...")) {
    if (deadline.hasExpired()) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return true;
}
#endif

// Runs a resize of the window's input and, from inside it, saves the
// running window, presses Pause, saves the paused window and aborts; false
// when the run never reached its tile step.
bool ResizeRunAndPause(TFrmMain& w, QuietWindowServices& windows,
                       const QString& out) {
  enum { kRunning, kPaused, kDone } stage = kRunning;
  bool inside = false;
  QTimer script;
  script.setInterval(0);
  QObject::connect(&script, &QTimer::timeout, [&] {
    // Saving services events, which would come back here.
    if (inside || !w.PProgress->isVisible()) return;
    inside = true;
    if (stage == kRunning &&
        w.lbStatusDescr->text() == QStringLiteral("Step 2/4") &&
        w.PBStatus->value() >= 2 &&
        w.StatusText().startsWith(QStringLiteral("Resizing tile"))) {
      Save(&w, out + "/window-progress.png");
      w.btPause->click();
      stage = kPaused;
    } else if (stage == kPaused && w.Paused) {
      Save(&w, out + "/window-paused.png");
      windows.AbortAnswer = mrYes;
      w.btAbort->click();
      windows.AbortAnswer = mrNo;
      stage = kDone;
      script.stop();
    }
    inside = false;
  });
  script.start();
  w.btStart->click();
  script.stop();
  return stage == kDone;
}

void Touch(const std::string& name, std::uintmax_t size) {
  std::ofstream(name, std::ios::binary).close();
  // Sparse: the picture needs the size, not the bytes.
  std::filesystem::resize_file(name, size);
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  SetUpApplication();
  const QString out =
      argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
  QDir().mkpath(out);

  // A short, plain folder name reads better in the pictures than a
  // temporary folder's.
  const std::string root =
      (QDir::tempPath() + QStringLiteral("/Panoramas")).toStdString();
  if (std::filesystem::exists(root)) {
    std::fprintf(stderr, "%s exists; not touching it\n", root.c_str());
    return 1;
  }
  std::filesystem::create_directories(root + "/tiles");
  std::filesystem::create_directories(root + "/out");
  const std::string pano = root + "/harbour_40000X30000.raw";
  Touch(pano, 40000ull * 30000 * 3);
  // The resize really runs: an image wide enough for it, small enough to
  // split into temporary tiles in a moment.
  const std::string strip = root + "/harbour_strip_24000X1600.raw";
  Touch(strip, 24000ull * 1600 * 3);

  QtUiServices ui;
  QuietWindowServices windows;
  TFrmMainOptions options;
  // No settings file yet: the window as a first start shows it.
  options.SettingsFile = root + "/trelvi-gui.ini";
#ifdef TRELVI_HAVE_UPDATE_CHECK
  VersionServer updates;
  // The first start's automatic check finds this version.
  updates.Version = QByteArray(kVersion);
  options.UpdateServer = updates.Address();
#endif
  TFrmMain w(ui, windows, options);
  ui.SetMainWindow(&w);
  w.lbAboutInfo->setText(w.windowTitle());
  w.show();

  Save(&w, out + "/window-about.png");

#ifdef TRELVI_HAVE_UPDATE_CHECK
  const std::pair<QByteArray, QString> answers[] = {
      {QByteArray(kVersion), QStringLiteral("/about-no-update.png")},
      {QByteArrayLiteral("2.1.1"), QStringLiteral("/about-new-version.png")},
  };
  for (const auto& [version, file] : answers) {
    updates.Version = version;
    if (!CheckForUpdates(w)) {
      std::fprintf(stderr, "the update check did not answer\n");
      std::filesystem::remove_all(root);
      return 1;
    }
    Save(&w, out + file);
  }
#endif

  w.btConvertClick();
  w.WMDropFiles({pano}, QPoint(200, 150));
  w.WMDropFiles({root + "/out"}, QPoint(200, 520));
  w.rbTifLzw->setChecked(true);
  Save(&w, out + "/window-convert.png");

  w.btCropClick();
  w.EditCropX->SetValue(5000);
  w.EditCropY->SetValue(4000);
  w.EditCropW->SetValue(8000);
  w.EditCropH->SetValue(6000);
  Save(&w, out + "/window-crop.png");

  w.btResizeClick();
  w.jvResizeW->SetValue(10000);
  Save(&w, out + "/window-resize.png");

  w.btSplitClick();
  w.jvSplitWidth->SetValue(5000);
  w.jvSplitHeight->SetValue(5000);
  w.ShowStatus("Image is valid");
  Save(&w, out + "/window-split.png");
  w.cbPyramid->setChecked(true);
  Save(&w, out + "/window-split-pyramid.png");
  w.cbPyramid->setChecked(false);

  w.btMergeClick();
  std::vector<std::string> tiles;
  for (int row = 1; row <= 6; ++row)
    for (int col = 1; col <= 8; ++col) {
      tiles.push_back(root + "/tiles/harbour_5000X5000_x" +
                      std::to_string(col) + "y" + std::to_string(row) + ".tif");
      Touch(tiles.back(), 0);
    }
  w.WMDropFiles(tiles, QPoint(200, 150));
  Save(&w, out + "/window-merge.png");

  w.btResizeClick();
  w.WMDropFiles({strip}, QPoint(200, 150));
  w.WMDropFiles({root + "/out"}, QPoint(200, 520));
  w.jvResizeW->SetValue(6000);
  if (!ResizeRunAndPause(w, windows, out)) {
    std::fprintf(stderr, "the resize did not reach its tile step\n");
    std::filesystem::remove_all(root);
    return 1;
  }
  std::printf("after the abort: %s\n", qPrintable(w.StatusText()));

  ui.CreateDialogs();
  TFrmRawInfo* raw = ui.RawInfo();
  raw->Prepare(6000000, 0, 0, 0, w.pos());
  raw->Model.SetWidthText("1000");
  raw->edWidth->setText(QStringLiteral("1000"));
  raw->EdHeight->setText(QString::fromStdString(raw->Model.HeightText()));
  Save(raw, out + "/dialog-raw-info.png");
  raw->hide();

  TFrmConfirm confirm(&w);
  Save(&confirm, out + "/dialog-confirm.png");
  confirm.hide();
  std::filesystem::remove_all(root);
  return 0;
}
