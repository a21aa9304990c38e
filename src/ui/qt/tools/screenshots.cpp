// Saves a picture of the window in each mode, of the progress box and of the
// two small dialogs, for the documentation:
//   xvfb-run -a build/release/trelvi-gui-screenshots docs/
#include <QApplication>
#include <QDir>
#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QProgressBar>
#include <QRadioButton>
#include <QTimer>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "ui/qt/frm_confirm.h"
#include "ui/qt/frm_main.h"
#include "ui/qt/frm_raw_info.h"
#include "ui/qt/int_edit.h"
#include "ui/qt/qt_ui_services.h"
#include "ui/qt/window_services.h"

namespace {

using namespace trelvi;
using namespace trelvi::gui;

// Dialogs answer nothing here: the pictures show the window as it is.
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
  int ConfirmAbort(std::uint16_t, std::uint16_t) override { return mrNo; }
  void OpenAddress(const QString&) override {}
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

void Touch(const std::string& name, std::uintmax_t size) {
  std::ofstream(name, std::ios::binary).close();
  // Sparse: the picture needs the size, not the bytes.
  std::filesystem::resize_file(name, size);
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QFont font(QStringLiteral("Tahoma"));
  font.setStyleHint(QFont::SansSerif);
  font.setPointSize(8);
  QApplication::setFont(font);
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

  QtUiServices ui;
  QuietWindowServices windows;
  TFrmMain w(ui, windows);
  ui.SetMainWindow(&w);
  w.lbAboutInfo->setText(w.windowTitle());
  w.show();

  Save(&w, out + "/window-about.png");

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

  w.btConvertClick();
  w.WMDropFiles({pano}, QPoint(200, 150));
  w.DisableButtons();
  w.ShowProgress(30000, "Step 2/4");
  w.PBStatus->setValue(12750);
  w.ShowStatus("Resizing tile 5/12");
  Save(&w, out + "/window-progress.png");
  w.btPauseClick();
  Save(&w, out + "/window-paused.png");
  w.btPauseClick();
  w.HideProgress();
  w.EnableButtons();

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
