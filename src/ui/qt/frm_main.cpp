// The main window: construction, creation and closing, the modes. Its
// layout, input and output, Start and progress have files of their own.
#include "ui/qt/frm_main.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QThread>
#include <QToolButton>
#include <algorithm>
#include <initializer_list>

#include "ui/qt/frm_confirm.h"
#include "ui/qt/frm_main_parts.h"
#include "ui/qt/int_edit.h"
#include "ui/qt/taskbar_progress.h"
#include "ui/qt/window_services.h"

#ifdef TRELVI_HAVE_UPDATE_CHECK
#include "update/update_controller.h"
#endif

namespace trelvi::gui {

using namespace frm_main_parts;

// The About view's update check, when the program is built with one.
#ifdef TRELVI_HAVE_UPDATE_CHECK
struct TFrmMain::Updates final : AboutView {
  explicit Updates(TFrmMain& window) : Window(window), Controller(*this) {}
  void ShowNewVersionLabel(const QString& text, LabelColour colour) override {
    Window.lbNewVersion->setText(text);
    QPalette p = Window.lbNewVersion->palette();
    p.setColor(QPalette::WindowText, colour == LabelColour::Red
                                         ? QColor(Qt::red)
                                         : QColor(Qt::black));
    Window.lbNewVersion->setPalette(p);
    Window.lbNewVersion->show();
  }
  TFrmMain& Window;
  UpdateController Controller;
};
#else
struct TFrmMain::Updates {
  explicit Updates(TFrmMain&) {}
};
#endif

TFrmMain::TFrmMain(UiServices& ui, WindowServices& windows,
                   TFrmMainOptions options, QWidget* parent)
    : QWidget(parent),
      Ui(ui),
      MainEngine(ui),
      windows_(windows),
      options_(std::move(options)) {
  setWindowTitle(QStringLiteral("Trelvi Tools ") +
                 QString::fromLatin1(kVersion));
  setFixedSize(kClientWidth, kClientHeight);
  Fill(this, kWindowColour);
  QFont font(QStringLiteral("Tahoma"));
  font.setStyleHint(QFont::SansSerif);
  font.setPointSize(8);
  setFont(font);

  if (options_.Taskbar) {
    taskbar_ = options_.Taskbar;
  } else {
    ownTaskbar_ = std::make_unique<LauncherEntryProgress>();
    taskbar_ = ownTaskbar_.get();
  }

  BuildButtons();
  BuildInput();
  BuildPanels();
  BuildOutput();
  BuildAbout();
  BuildProgress();
  StatusBar = new QStatusBar(this);
  StatusBar->setGeometry(0, 589, kClientWidth, 19);
  StatusBar->setSizeGripEnabled(false);
  statusLabel_ = new QLabel(StatusBar);
  statusLabel_->setIndent(4);
  StatusBar->addWidget(statusLabel_, 1);

  updates_ = std::make_unique<Updates>(*this);
#ifdef TRELVI_HAVE_UPDATE_CHECK
  if (!options_.UpdateServer.isEmpty())
    updates_->Controller.ServerAddress = options_.UpdateServer;
#else
  Button1->setEnabled(false);
#endif

  FormCreate();
}

TFrmMain::~TFrmMain() = default;

// ---------------------------------------------------------------------------
// Creation and closing.

void TFrmMain::FormCreate() {
  // The resize pipeline runs one tile worker at a time: each worker already
  // spreads its tile over every processor.
  const auto cores =
      static_cast<std::uint16_t>(std::max(QThread::idealThreadCount(), 0));
  NumOfCores = cores > 1 ? 1 : cores;
  if (NumOfCores == 0) NumOfCores = 1;

  PProgress->hide();
  SelectPanel(pnAbout);
  PInput->hide();
  POutput->hide();

  if (!options_.SettingsFile.empty()) {
    Setup.Create(options_.SettingsFile);
    const SetupValues values = Setup.Load();
    move(values.WindowPosX, values.WindowPosY);
    cbCheckForUpdates->setChecked(values.CheckForUpdates);
    cbSyncOutputs->setChecked(values.SyncOutputs);
#ifdef TRELVI_HAVE_UPDATE_CHECK
    if (values.CheckForUpdates) updates_->Controller.EnableTimer();
#endif
  }

  MainEngine.InitEngine();
  MainEngine.OnError = [this](const std::string& m) { ShowError(m); };
  MainEngine.OnStatus = [this](const std::string& m) { ShowStatus(m); };
  MainEngine.OnShowProgress = [this](std::int32_t max, const std::string& d) {
    ShowProgress(max, d);
  };
  MainEngine.OnUpdateProgress = [this](std::int32_t c) { UpdateProgress(c); };
  MainEngine.OnHideProgress = [this] { HideProgress(); };

  DroppedFile = false;
  setAcceptDrops(true);

  jvSplitWidth->SetMaxValue(rules::kMaxTileSide);
  jvSplitHeight->SetMaxValue(rules::kMaxTileSide);
}

void TFrmMain::FormClose() {
  if (options_.SettingsFile.empty()) return;
  // Nobody is left to tell when the file cannot be written.
  Setup.Save({pos().x(), pos().y(), cbCheckForUpdates->isChecked(),
              cbSyncOutputs->isChecked()});
  Setup.Free();
}

void TFrmMain::closeEvent(QCloseEvent* event) {
  if (operationRunning_) {
    // The operation is inside one of our hooks: it must stop and clean up
    // before the window may go. It closes the window once it has returned.
    if (!closeRequested_) {
      const QPoint at = pos();
      const auto x =
          static_cast<std::uint16_t>(std::clamp(at.x() + 20, 0, 65535));
      const auto y =
          static_cast<std::uint16_t>(std::clamp(at.y() + 100, 0, 65535));
      if (windows_.ConfirmAbort(x, y) == mrYes) {
        closeRequested_ = true;
        MainEngine.Aborted = true;
        Paused = false;
      }
    }
    event->ignore();
    return;
  }
  FormClose();
  event->accept();
}

// ---------------------------------------------------------------------------
// Modes.

void TFrmMain::SelectPanel(TPanel panel) {
  ShowStatus(std::string());
  PInput->setVisible(panel < pnAbout);
  if (panel == pnMerge) {
    lbInputFile->setText(QStringLiteral("Input files"));
    EditInputFile->clear();
    EditInputFile->setToolTip(QString());
    odFiles.clear();
    odMultiSelect = true;
    ClearInputInfoPanel();
    // The input field no longer names the single image, so no operation
    // may still use it.
    MainEngine.InInfo.ImageIsOk = false;
    jvMergeX->SetValue(0);
    jvMergeY->SetValue(0);
  } else {
    lbInputFile->setText(QStringLiteral("Input file"));
    if (CurrentPanel == pnMerge) {
      odMultiSelect = false;
      odFiles.clear();
      EditInputFile->clear();
      EditInputFile->setToolTip(QString());
      ClearInputInfoPanel();
      jvSplitX->SetValue(0);
      jvSplitY->SetValue(0);
    }
  }

  QWidget* const panels[] = {PConvert, PCrop, PResize, PSplit, PMerge, PAbout};
  QToolButton* const buttons[] = {btConvert, btCrop,  btResize,
                                  btSplit,   btMerge, btAbout};
  for (int i = 0; i < 6; ++i) {
    panels[i]->setVisible(i + 1 == panel);
    if (i + 1 == panel) {
      panels[i]->raise();
      buttons[i]->setChecked(true);
    }
  }
  btStart->setText(panel == pnSplit   ? QStringLiteral("Split")
                   : panel == pnMerge ? QStringLiteral("Merge")
                                      : QStringLiteral("Start"));
  POutput->setVisible(panel < pnAbout);
  if (PProgress->isVisible()) PProgress->raise();
  CurrentPanel = panel;
  ApplyPyramidChoice();
}

void TFrmMain::btConvertClick() { SelectPanel(pnConvert); }
void TFrmMain::btCropClick() { SelectPanel(pnCrop); }
void TFrmMain::btResizeClick() { SelectPanel(pnResize); }
void TFrmMain::btSplitClick() {
  SelectPanel(pnSplit);
  jvSplitWidthChange(jvSplitWidth);
}
void TFrmMain::btMergeClick() { SelectPanel(pnMerge); }
void TFrmMain::btAboutClick() { SelectPanel(pnAbout); }

void TFrmMain::DisableButtons() {
  for (QWidget* w : std::initializer_list<QWidget*>{
           btConvert, btCrop, btResize, rbSlowResize, rbFastResize, btSplit,
           btMerge, btAbout, sbInput, sbOutputFolder, btStart})
    w->setEnabled(false);
}

void TFrmMain::EnableButtons() {
  for (QWidget* w : std::initializer_list<QWidget*>{
           btConvert, btCrop, btResize, rbSlowResize, rbFastResize, btSplit,
           btMerge, btAbout, sbInput, sbOutputFolder, btStart})
    w->setEnabled(true);
}

void TFrmMain::jvSplitXEnter() { focusNextChild(); }

void TFrmMain::EditOutputFolderDblClick() { EditOutputFolder->clear(); }

void TFrmMain::lbAboutHomepageClick() {
  windows_.OpenAddress(QString::fromLatin1(kHomePage));
}

void TFrmMain::Button1Click() {
#ifdef TRELVI_HAVE_UPDATE_CHECK
  updates_->Controller.Button1Click();
#endif
}

bool TFrmMain::eventFilter(QObject* watched, QEvent* event) {
  if ((watched == jvSplitX || watched == jvSplitY) &&
      event->type() == QEvent::FocusIn) {
    jvSplitXEnter();
    return false;
  }
  if (watched == EditOutputFolder &&
      event->type() == QEvent::MouseButtonDblClick) {
    EditOutputFolderDblClick();
    return true;
  }
  if (watched == lbAboutHomepage &&
      event->type() == QEvent::MouseButtonRelease &&
      static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
    lbAboutHomepageClick();
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace trelvi::gui
