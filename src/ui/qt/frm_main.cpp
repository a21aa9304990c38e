#include "ui/qt/frm_main.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QThread>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <algorithm>
#include <filesystem>
#include <system_error>

#include "engine/utils.h"
#include "resize/resize_pipeline.h"
#include "ui/drop_routing.h"
#include "ui/qt/artwork.h"
#include "ui/qt/frm_confirm.h"
#include "ui/qt/int_edit.h"
#include "ui/qt/qt_ui_services.h"
#include "ui/qt/taskbar_progress.h"
#include "ui/qt/window_services.h"

#ifdef TRELVI_HAVE_UPDATE_CHECK
#include "update/update_controller.h"
#endif

namespace trelvi::gui {

namespace {

const QColor kWindowColour(232, 232, 232);
const QColor kGreyColour(216, 216, 216);
const QColor kHeaderColour(160, 160, 164);

void Fill(QWidget* w, const QColor& colour) {
  w->setAutoFillBackground(true);
  QPalette p = w->palette();
  p.setColor(QPalette::Window, colour);
  w->setPalette(p);
}

QFont Bold(QFont font, int pointSizeDelta = 0) {
  font.setBold(true);
  if (pointSizeDelta != 0 && font.pointSize() > 0)
    font.setPointSize(font.pointSize() + pointSizeDelta);
  return font;
}

QLabel* Label(const QString& text, QWidget* parent, const QRect& geometry,
              Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignVCenter) {
  auto* label = new QLabel(text, parent);
  label->setGeometry(geometry);
  label->setAlignment(alignment);
  return label;
}

// A path field: read-only, written by the program, dropped files go to the
// window rather than into the text.
QLineEdit* PathField(QWidget* parent, const QRect& geometry) {
  auto* edit = new QLineEdit(parent);
  edit->setGeometry(geometry);
  edit->setReadOnly(true);
  edit->setAcceptDrops(false);
  return edit;
}

QString FromStd(const std::string& s) { return QString::fromStdString(s); }

// Increments a counter for the life of a scope.
class CountScope {
 public:
  explicit CountScope(int& counter) : counter_(counter) { ++counter_; }
  ~CountScope() { --counter_; }
  CountScope(const CountScope&) = delete;
  CountScope& operator=(const CountScope&) = delete;

 private:
  int& counter_;
};

}  // namespace

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
// Building the window.

void TFrmMain::BuildButtons() {
  PButtons = new QWidget(this);
  PButtons->setGeometry(0, 0, kClientWidth, 80);
  auto* group = new QButtonGroup(this);
  const struct {
    QToolButton** button;
    const char* caption;
    ModeArt art;
    void (TFrmMain::*click)();
  } buttons[] = {
      {&btConvert, "Convert", ModeArt::Convert, &TFrmMain::btConvertClick},
      {&btCrop, "Crop", ModeArt::Crop, &TFrmMain::btCropClick},
      {&btResize, "Resize", ModeArt::Resize, &TFrmMain::btResizeClick},
      {&btSplit, "Split", ModeArt::Split, &TFrmMain::btSplitClick},
      {&btMerge, "Merge", ModeArt::Merge, &TFrmMain::btMergeClick},
      {&btAbout, "About", ModeArt::About, &TFrmMain::btAboutClick},
  };
  int x = 6;
  for (const auto& b : buttons) {
    auto* button = new QToolButton(PButtons);
    button->setText(QString::fromLatin1(b.caption));
    button->setIcon(ModeIcon(b.art));
    button->setIconSize(QSize(32, 32));
    button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    button->setFont(Bold(font()));
    button->setGeometry(x, 8, 64, 64);
    // The buttons are for the mouse: keyboard tabbing passes them by.
    button->setFocusPolicy(Qt::NoFocus);
    // The pressed look tells which mode is shown.
    button->setCheckable(true);
    button->setAutoRaise(false);
    group->addButton(button);
    const auto click = b.click;
    connect(button, &QToolButton::clicked, this,
            [this, click] { (this->*click)(); });
    *b.button = button;
    x += 70;
  }
}

void TFrmMain::BuildInput() {
  PInput = new QFrame(this);
  PInput->setGeometry(0, 80, kClientWidth, 153);
  PInput->setFrameShape(QFrame::NoFrame);

  lbInputFile =
      Label(QStringLiteral("Input file"), PInput, QRect(12, 4, 200, 18));
  EditInputFile = PathField(PInput, QRect(12, 22, 374, 24));
  sbInput = new QPushButton(QStringLiteral("..."), PInput);
  sbInput->setGeometry(390, 22, 24, 24);
  connect(sbInput, &QPushButton::clicked, this, [this] { sbInputClick(); });

  PInfo = new QFrame(PInput);
  PInfo->setGeometry(12, 54, 402, 92);
  PInfo->setFrameShape(QFrame::StyledPanel);
  Fill(PInfo, kGreyColour);
  QLabel* header = Label(QStringLiteral("Info"), PInfo, QRect(1, 1, 400, 18),
                         Qt::AlignLeft | Qt::AlignVCenter);
  header->setIndent(8);
  header->setFont(Bold(font()));
  Fill(header, kGreyColour.darker(110));

  const struct {
    QLabel** value;
    const char* caption;
    int x, y;
  } pairs[] = {
      {&lbFileSize, "File size:", 8, 24},  {&lbWidth, "Width:", 8, 46},
      {&lbHeight, "Height:", 8, 68},       {&lbBits, "Bits:", 212, 24},
      {&lbChannels, "Channels:", 212, 46}, {&lbImage, "Image:", 212, 68},
  };
  for (const auto& p : pairs) {
    Label(QString::fromLatin1(p.caption), PInfo, QRect(p.x, p.y, 62, 18));
    QLabel* value =
        Label(QStringLiteral("-"), PInfo, QRect(p.x + 64, p.y, 118, 18));
    value->setFont(Bold(font()));
    *p.value = value;
  }
}

void TFrmMain::BuildPanels() {
  PMain = new QWidget(this);
  PMain->setGeometry(0, 233, kClientWidth, 210);

  auto panel = [this](const char* title, const char* subtitle) {
    auto* p = new QWidget(PMain);
    p->setGeometry(0, 0, kClientWidth, 210);
    QLabel* t = Label(QString::fromLatin1(title), p, QRect(16, 6, 394, 22));
    t->setFont(Bold(font(), 3));
    QLabel* s = Label(QString::fromLatin1(subtitle), p, QRect(16, 28, 394, 18));
    QPalette pal = s->palette();
    pal.setColor(QPalette::WindowText, QColor(80, 80, 88));
    s->setPalette(pal);
    auto* line = new QFrame(p);
    line->setGeometry(16, 50, 394, 2);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    p->hide();
    return p;
  };
  auto group = [](QWidget* parent, const char* title, int x) {
    auto* g = new QGroupBox(QString::fromLatin1(title), parent);
    g->setGeometry(x, 62, 190, 90);
    return g;
  };
  // A labelled integer field in a group; the click selects its whole text.
  auto field = [this](QGroupBox* g, const char* caption, int row,
                      std::int64_t initial, std::int64_t minimum,
                      std::int64_t maximum, bool programOnly) {
    Label(QString::fromLatin1(caption), g, QRect(12, 24 + row * 30, 50, 22));
    auto* e = new TIntEdit(minimum, maximum, initial, g);
    e->setGeometry(70, 24 + row * 30, 106, 22);
    e->SetProgramOnly(programOnly);
    e->SetSelectAllOnClick(true);
    return e;
  };

  PConvert =
      panel("Convert image", "Convert the image to a different file format");
  QLabel* whole = Label(
      QStringLiteral("The whole image is written again, row by row, in the "
                     "output format chosen below."),
      PConvert, QRect(16, 66, 394, 36), Qt::AlignLeft | Qt::AlignTop);
  whole->setWordWrap(true);

  PCrop = panel("Crop image",
                "Crop the image using the given coordinates and size");
  QGroupBox* point = group(PCrop, "Top left point", 16);
  EditCropX = field(point, "X", 0, 0, 0, 9999999, false);
  EditCropY = field(point, "Y", 1, 0, 0, 9999999, false);
  QGroupBox* size = group(PCrop, "Size", 220);
  EditCropW = field(size, "Width", 0, 1, 1, 9999999, false);
  EditCropH = field(size, "Height", 1, 1, 1, 9999999, false);

  PResize = panel("Resize image", "Resize the image using the given width");
  QGroupBox* image = group(PResize, "Image size", 16);
  jvResizeW = field(image, "Width", 0, 1000, 512, 999999, false);
  jvResizeH = field(image, "Height", 1, 0, 0, 999999, true);
  rbFastResize =
      new QRadioButton(QStringLiteral("Fast method (less quality)"), PResize);
  rbFastResize->setGeometry(24, 158, 380, 20);
  rbSlowResize =
      new QRadioButton(QStringLiteral("Slow method (better quality)"), PResize);
  rbSlowResize->setGeometry(24, 180, 380, 20);
  rbSlowResize->setChecked(true);

  PSplit = panel("Split image", "Slice the image into many smaller tiles");
  QGroupBox* tile = group(PSplit, "Tile dimensions", 16);
  jvSplitWidth = field(tile, "Width", 0, 1000, 256, 9999999, false);
  jvSplitHeight = field(tile, "Height", 1, 1000, 256, 9999999, false);
  QGroupBox* tiles = group(PSplit, "Number of tiles", 220);
  jvSplitX = field(tiles, "X", 0, 0, 0, 9999999, true);
  jvSplitY = field(tiles, "Y", 1, 0, 0, 9999999, true);
  for (TIntEdit* e : {jvSplitX, jvSplitY}) {
    e->setFocusPolicy(Qt::NoFocus);
    e->installEventFilter(this);
  }

  PMerge = panel("Merge images", "Merge multiple tiles into one image");
  QGroupBox* grid = group(PMerge, "Number of tiles", 16);
  jvMergeX = field(grid, "X", 0, 0, 0, 999999, true);
  jvMergeY = field(grid, "Y", 1, 0, 0, 999999, true);

  for (TIntEdit* e :
       {jvSplitWidth, jvSplitHeight, jvResizeW, jvResizeH, jvMergeX, jvMergeY})
    e->OnChange = [this, e] { jvSplitWidthChange(e); };
}

void TFrmMain::BuildOutput() {
  POutput = new QFrame(this);
  POutput->setGeometry(0, 443, kClientWidth, 146);

  auto* format = new QGroupBox(QStringLiteral(" Output format "), POutput);
  format->setGeometry(12, 2, 402, 48);
  rbTif = new QRadioButton(QStringLiteral("TIFF"), format);
  rbTif->setGeometry(16, 20, 80, 20);
  rbTif->setChecked(true);
  rbTifLzw = new QRadioButton(QStringLiteral("TIFF (LZW)"), format);
  rbTifLzw->setGeometry(104, 20, 110, 20);
  rbRaw = new QRadioButton(QStringLiteral("RAW"), format);
  rbRaw->setGeometry(222, 20, 80, 20);
  rbKro = new QRadioButton(QStringLiteral("KRO"), format);
  rbKro->setGeometry(310, 20, 80, 20);

  Label(QStringLiteral("Output directory"), POutput, QRect(12, 56, 200, 18));
  EditOutputFolder = PathField(POutput, QRect(12, 74, 374, 24));
  EditOutputFolder->setToolTip(
      QStringLiteral("Double-click to write beside the input file"));
  EditOutputFolder->installEventFilter(this);
  sbOutputFolder = new QPushButton(QStringLiteral("..."), POutput);
  sbOutputFolder->setGeometry(390, 74, 24, 24);
  connect(sbOutputFolder, &QPushButton::clicked, this,
          [this] { sbOutputFolderClick(); });

  btStart = new QPushButton(QStringLiteral("Start"), POutput);
  btStart->setGeometry(314, 108, 100, 30);
  btStart->setFont(Bold(font()));
  connect(btStart, &QPushButton::clicked, this, [this] { btStartClick(); });
}

void TFrmMain::BuildAbout() {
  PAbout = new QWidget(this);
  PAbout->setGeometry(0, 79, kClientWidth, 509);
  Fill(PAbout, kWindowColour);
  const Qt::Alignment centre = Qt::AlignCenter;

  imgLogo = new QLabel(PAbout);
  imgLogo->setGeometry((kClientWidth - 96) / 2, 36, 96, 64);
  imgLogo->setPixmap(AboutLogo());
  imgLogo->setScaledContents(true);

  lbAboutInfo =
      Label(QString(), PAbout, QRect(0, 112, kClientWidth, 26), centre);
  lbAboutInfo->setFont(Bold(font(), 4));
  QLabel* summary =
      Label(QStringLiteral("Convert, crop, resize, split and merge images\n"
                           "far too large for memory"),
            PAbout, QRect(0, 142, kClientWidth, 36), centre);
  QPalette grey = summary->palette();
  grey.setColor(QPalette::WindowText, QColor(80, 80, 88));
  summary->setPalette(grey);

  lbHomePage = Label(QStringLiteral("Home page"), PAbout,
                     QRect(0, 200, kClientWidth, 18), centre);
  lbHomePage->setFont(Bold(font()));
  lbAboutHomepage = Label(QString::fromLatin1(kHomePage), PAbout,
                          QRect(113, 220, 200, 18), centre);
  QFont link = font();
  link.setUnderline(true);
  lbAboutHomepage->setFont(link);
  QPalette blue = lbAboutHomepage->palette();
  blue.setColor(QPalette::WindowText, QColor(0, 0, 204));
  lbAboutHomepage->setPalette(blue);
  lbAboutHomepage->setCursor(Qt::PointingHandCursor);
  lbAboutHomepage->installEventFilter(this);

  Button1 = new QPushButton(QStringLiteral("Check for updates"), PAbout);
  Button1->setGeometry((kClientWidth - 150) / 2, 262, 150, 30);
  connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
  lbNewVersion =
      Label(QString(), PAbout, QRect(0, 300, kClientWidth, 20), centre);
  lbNewVersion->setFont(Bold(font()));
  lbNewVersion->hide();

  cbCheckForUpdates = new QCheckBox(
      QStringLiteral(" Automatically check for updates on startup"), PAbout);
  cbCheckForUpdates->setGeometry(0, 0, 300, 20);
  cbCheckForUpdates->adjustSize();
  cbCheckForUpdates->move((kClientWidth - cbCheckForUpdates->width()) / 2, 350);
}

void TFrmMain::BuildProgress() {
  PProgress = new QFrame(this);
  PProgress->setGeometry(25, 239, 377, 193);
  PProgress->setFrameShape(QFrame::Box);
  PProgress->setFrameShadow(QFrame::Plain);
  PProgress->setLineWidth(1);
  QPalette frame = PProgress->palette();
  frame.setColor(QPalette::WindowText, QColor(128, 128, 132));
  PProgress->setPalette(frame);

  lbProgressInfo = Label(QStringLiteral("Progress info"), PProgress,
                         QRect(1, 1, 375, 24), Qt::AlignCenter);
  lbProgressInfo->setFont(Bold(font()));
  Fill(lbProgressInfo, kHeaderColour);
  QPalette white = lbProgressInfo->palette();
  white.setColor(QPalette::WindowText, Qt::white);
  lbProgressInfo->setPalette(white);

  lbStatusDescr =
      Label(QString(), PProgress, QRect(10, 44, 357, 20), Qt::AlignCenter);
  lbStatusDescr->setFont(Bold(font()));
  // The box's grey border colour is not for its texts.
  QPalette black = lbStatusDescr->palette();
  black.setColor(QPalette::WindowText, Qt::black);
  lbStatusDescr->setPalette(black);

  PBStatus = new QProgressBar(PProgress);
  PBStatus->setGeometry(20, 80, 337, 24);
  PBStatus->setTextVisible(true);
  PBStatus->setAlignment(Qt::AlignCenter);
  PBStatus->setStyleSheet(QStringLiteral(
      "QProgressBar { background: white; border: 1px solid #8c8c90;"
      " text-align: center; color: black; }"
      "QProgressBar::chunk { background: rgb(0, 224, 0); }"));

  btPause = new QPushButton(QStringLiteral("Pause"), PProgress);
  btPause->setGeometry(20, 140, 100, 30);
  connect(btPause, &QPushButton::clicked, this, [this] { btPauseClick(); });
  btAbort = new QPushButton(QStringLiteral("Abort"), PProgress);
  btAbort->setGeometry(257, 140, 100, 30);
  connect(btAbort, &QPushButton::clicked, this, [this] { btAbortClick(); });
  SetProgressLook(false);
}

void TFrmMain::SetProgressLook(bool paused) {
  Fill(PProgress, paused ? kGreyColour : QColor(Qt::white));
}

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
  SelectPanel(6);
  PInput->hide();
  POutput->hide();

  if (!options_.SettingsFile.empty()) {
    Setup.Create(options_.SettingsFile);
    const SetupValues values = Setup.Load();
    move(values.WindowPosX, values.WindowPosY);
    cbCheckForUpdates->setChecked(values.CheckForUpdates);
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
  Setup.Save({pos().x(), pos().y(), cbCheckForUpdates->isChecked()});
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

void TFrmMain::SelectPanel(std::uint8_t panel) {
  ShowStatus(std::string());
  PInput->setVisible(panel < 6);
  if (panel == 5) {
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
    if (CurrentPanel == 5) {
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
  btStart->setText(panel == 4   ? QStringLiteral("Split")
                   : panel == 5 ? QStringLiteral("Merge")
                                : QStringLiteral("Start"));
  POutput->setVisible(panel < 6);
  if (PProgress->isVisible()) PProgress->raise();
  CurrentPanel = panel;
}

void TFrmMain::btConvertClick() { SelectPanel(1); }
void TFrmMain::btCropClick() { SelectPanel(2); }
void TFrmMain::btResizeClick() { SelectPanel(3); }
void TFrmMain::btSplitClick() {
  SelectPanel(4);
  jvSplitWidthChange(jvSplitWidth);
}
void TFrmMain::btMergeClick() { SelectPanel(5); }
void TFrmMain::btAboutClick() { SelectPanel(6); }

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

// ---------------------------------------------------------------------------
// Input and output selection.

void TFrmMain::ClearInputInfoPanel() {
  for (QLabel* l : {lbFileSize, lbWidth, lbHeight, lbBits, lbChannels, lbImage})
    l->clear();
}

void TFrmMain::sbInputClick() {
  // The status line services events in the middle of this; a click on the
  // button then must not replace the selection under it.
  if (busy_ > 0) return;
  const CountScope busy(busy_);
  const bool dropped = DroppedFile;
  if (dropped) {
    DroppedFile = false;
    if (!odMultiSelect &&
        !rules::IsSupportedExtension(rules::UpperExtension(odFileName))) {
      ShowError("Then file type is invalid");
      return;
    }
  } else {
    auto chosen = windows_.ChooseInputFiles(this, odMultiSelect);
    if (!chosen) return;
    if (odMultiSelect)
      odFiles = *chosen;
    else
      odFileName = chosen->front();
  }

  if (odMultiSelect) {
    // The list stays as selected whether or not it is accepted.
    const rules::TileSelection selection =
        rules::CheckTileSelection(odFiles, dropped);
    if (selection.Accepted) {
      EditInputFile->setText(FromStd(selection.Message));
      ShowStatus(selection.Message);
      jvMergeX->SetValue(selection.Columns);
      jvMergeY->SetValue(selection.Rows);
    } else if (!selection.Message.empty()) {
      ShowError(selection.Message);
    }
    return;
  }

  if (!FileExists(odFileName)) return;
  TFileInfo& in = MainEngine.InInfo;
  in.FileName = odFileName;
  MainEngine.ReadInputInfo(true);
  DisableButtons();
  for (const std::string& message : rules::CheckInputLimits(in))
    ShowError(message);
  if (in.ImageIsOk) {
    lbFileSize->setText(FromStd(FormatGrouped(in.FileSize)));
    lbWidth->setText(FromStd(FormatGrouped(in.Width)));
    lbHeight->setText(FromStd(FormatGrouped(in.Height)));
    lbChannels->setText(QString::number(in.Channels));
    lbBits->setText(QString::number(in.Bits));
    lbImage->setText(FromStd(rules::FormatPixelCount(
        static_cast<std::int64_t>(in.Width) * in.Height)));
    ShowStatus("Image is valid");
    EditInputFile->setToolTip(FromStd(in.FileName));
    EditInputFile->setText(FromStd(FileNamePart(in.FileName)));
    jvSplitWidthChange(jvSplitWidth);
    // The height Start resizes to, shown before the width is touched.
    jvSplitWidthChange(jvResizeW);
  } else {
    ClearInputInfoPanel();
  }
  EnableButtons();
}

void TFrmMain::OpenInput(const std::string& file) {
  if (busy_ > 0 || operationRunning_) return;
  SelectPanel(1);
  odFileName = file;
  DroppedFile = true;
  sbInputClick();
}

bool TFrmMain::AcceptsDropAt(int y) const {
  if (CurrentPanel >= 6 || busy_ > 0 || operationRunning_) return false;
  return RouteDrop(y, {PInput->y(), PInput->height()},
                   {POutput->y(), POutput->height()}) != DropBand::None;
}

void TFrmMain::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls() &&
      AcceptsDropAt(event->position().toPoint().y()))
    event->acceptProposedAction();
  else if (event->mimeData()->hasUrls())
    event->accept();  // the pointer may still move onto a band
}

void TFrmMain::dragMoveEvent(QDragMoveEvent* event) {
  if (event->mimeData()->hasUrls() &&
      AcceptsDropAt(event->position().toPoint().y()))
    event->acceptProposedAction();
  else
    event->ignore();
}

void TFrmMain::dropEvent(QDropEvent* event) {
  std::vector<std::string> items;
  for (const QUrl& url : event->mimeData()->urls())
    if (url.isLocalFile()) items.push_back(url.toLocalFile().toStdString());
  const QPoint point = event->position().toPoint();
  event->acceptProposedAction();
  // The source of the drag waits until this returns; questions and
  // messages must not keep it waiting.
  QTimer::singleShot(0, this,
                     [this, items, point] { WMDropFiles(items, point); });
}

void TFrmMain::WMDropFiles(const std::vector<std::string>& items,
                           QPoint point) {
  // A drop during an operation or while an input is being read must not
  // change the input under it.
  if (busy_ > 0 || operationRunning_) return;
  if (items.empty() || CurrentPanel >= 6) return;
  const std::int32_t panel = CurrentPanel;
  DropPlan plan;
  {
    // The window services events while the items are checked; meanwhile a
    // second drop or an input click waits for no one and is ignored.
    const CountScope busy(busy_);
    plan = PlanDrop(
        items, odMultiSelect, point.y(), {PInput->y(), PInput->height()},
        {POutput->y(), POutput->height()}, [this] { Ui.ProcessEvents(); });
  }
  // A mode chosen meanwhile takes its own input.
  if (CurrentPanel != panel) return;
  switch (plan.Band) {
    case DropBand::Input:
      if (plan.InputFiles.empty()) return;
      DroppedFile = true;
      if (odMultiSelect) {
        odFiles.clear();
        ShowStatus("Processing input files list");
        EditInputFile->clear();
        odFiles = plan.InputFiles;
      } else {
        odFileName = plan.InputFiles.front();
      }
      sbInputClick();
      break;
    case DropBand::Output:
      if (plan.OutputFolder.empty()) return;
      DroppedFile = true;
      EditOutputFolder->setText(FromStd(plan.OutputFolder));
      sbOutputFolderClick();
      break;
    case DropBand::None:
      break;
  }
}

void TFrmMain::sbOutputFolderClick() {
  if (DroppedFile) {
    DroppedFile = false;
    return;
  }
  if (EditOutputFolder->text().isEmpty()) {
    FolderDialogDirectory = DirectoryPart(MainEngine.InInfo.FileName);
    EditOutputFolder->setText(FromStd(FolderDialogDirectory));
  }
  if (auto folder = windows_.ChooseFolder(this, FolderDialogDirectory)) {
    FolderDialogDirectory = *folder;
    EditOutputFolder->setText(FromStd(*folder));
  }
}

// ---------------------------------------------------------------------------
// Parameters and Start.

void TFrmMain::jvSplitWidthChange(QObject* sender) {
  const TFileInfo& in = MainEngine.InInfo;
  if (!in.ImageIsOk) return;
  const std::int64_t w = in.Width, h = in.Height;
  const std::int64_t maxTile = rules::kMaxTileSide;
  if (sender == jvSplitWidth) {
    if (jvSplitWidth->Value() > w) jvSplitWidth->SetValue(w);
    if (jvSplitWidth->Value() > maxTile) jvSplitWidth->SetValue(maxTile);
  }
  if (sender == jvSplitHeight) {
    if (jvSplitHeight->Value() > h) jvSplitHeight->SetValue(h);
    if (jvSplitHeight->Value() > maxTile) jvSplitHeight->SetValue(maxTile);
  }
  if (sender == jvSplitWidth || sender == jvSplitHeight) {
    const std::int64_t tw = jvSplitWidth->Value(), th = jvSplitHeight->Value();
    if (tw >= rules::kMinTileSide && th >= rules::kMinTileSide) {
      jvSplitX->SetValue(w / tw + (w % tw > 0 ? 1 : 0));
      jvSplitY->SetValue(h / th + (h % th > 0 ? 1 : 0));
    }
  }
  if (sender == jvResizeW) {
    const std::int64_t n = jvResizeW->Value();
    if (n >= rules::kMinTileSide && n <= UINT32_MAX)
      jvResizeH->SetValue(rules::ResizedHeight(in.Width, in.Height,
                                               static_cast<std::uint32_t>(n)));
  }
}

rules::OutputChoice TFrmMain::OutputChoice() const {
  if (rbTifLzw->isChecked()) return rules::OutputChoice::TifLzw;
  if (rbRaw->isChecked()) return rules::OutputChoice::Raw;
  if (rbKro->isChecked()) return rules::OutputChoice::Kro;
  return rules::OutputChoice::Tif;
}

void TFrmMain::SetOutputType() {
  rules::SetOutputType(MainEngine, OutputChoice());
}

std::string TFrmMain::GetOutputFolder(const std::string& source) const {
  return rules::GetOutputFolder(EditOutputFolder->text().toStdString(), source);
}

void TFrmMain::btStartClick() {
  // Start services events before anything is disabled: a second click
  // arriving then must not begin a second run inside the first.
  if (operationRunning_) return;
  operationRunning_ = true;
  const bool ran = RunStart();
  operationRunning_ = false;
  if (ran) {
    ShowStatus(rules::StartOutcome(MainEngine.Aborted, startOutputs_));
    HideProgress();
    EnableButtons();
  }
  if (closeRequested_) QTimer::singleShot(0, this, [this] { close(); });
}

bool TFrmMain::RunStart() {
  ShowStatus(std::string());
  if (!FolderDialogDirectory.empty()) {
    std::error_code ec;
    if (!std::filesystem::is_directory(FolderDialogDirectory, ec)) {
      ShowError("Output directory doesn't exists");
      return false;
    }
  }
  SetOutputType();
  // What this run writes, for its outcome; a name left from an earlier run
  // must not count.
  startOutputs_.clear();
  MainEngine.OutInfo.FileName.clear();
  switch (CurrentPanel) {
    case 1:
      RunCropConvert(0, 0, static_cast<std::int32_t>(MainEngine.InInfo.Width),
                     static_cast<std::int32_t>(MainEngine.InInfo.Height));
      break;
    case 2:
      StartCrop();
      break;
    case 3:
      DoResize();
      break;
    case 4: {
      jvSplitWidthChange(jvSplitWidth);
      std::vector<std::string> list;
      RunSplit(list);
      startOutputs_ = std::move(list);
      return true;
    }
    case 5:
      RunMerge();
      break;
    default:
      break;
  }
  if (!MainEngine.OutInfo.FileName.empty())
    startOutputs_.push_back(MainEngine.OutInfo.FileName);
  return true;
}

void TFrmMain::StartCrop() {
  const std::string message = rules::CheckCrop(
      EditCropX->Value(), EditCropY->Value(), EditCropW->Value(),
      EditCropH->Value(), MainEngine.InInfo.Width, MainEngine.InInfo.Height);
  if (!message.empty()) {
    ShowError(message);
    MainEngine.Aborted = true;
    return;
  }
  RunCropConvert(static_cast<std::int32_t>(EditCropX->Value()),
                 static_cast<std::int32_t>(EditCropY->Value()),
                 static_cast<std::int32_t>(EditCropW->Value()),
                 static_cast<std::int32_t>(EditCropH->Value()));
}

void TFrmMain::RunCropConvert(std::int32_t x, std::int32_t y, std::int32_t w,
                              std::int32_t h) {
  DisableButtons();
  const std::string folder = GetOutputFolder(MainEngine.InInfo.FileName);
  MainEngine.CropImage(x, y, w, h, folder, std::string());
  EnableButtons();
}

void TFrmMain::RunSplit(std::vector<std::string>& list) {
  DisableButtons();
  const std::string folder = GetOutputFolder(MainEngine.InInfo.FileName);
  MainEngine.SplitImage(static_cast<std::uint32_t>(jvSplitWidth->Value()),
                        static_cast<std::uint32_t>(jvSplitHeight->Value()),
                        list, folder, std::string());
  EnableButtons();
}

void TFrmMain::RunMerge() {
  const rules::MergeCheck check = rules::CheckMergeCount(
      odFiles.size(), static_cast<std::uint32_t>(jvMergeX->Value()),
      static_cast<std::uint32_t>(jvMergeY->Value()));
  if (!check.Run) {
    if (!check.Message.empty()) {
      ShowError(check.Message);
      MainEngine.Aborted = true;
    }
    return;
  }
  DisableButtons();
  const std::string folder = GetOutputFolder(odFiles.front());
  MainEngine.MergeTiles(static_cast<std::uint32_t>(jvMergeX->Value()),
                        static_cast<std::uint32_t>(jvMergeY->Value()), odFiles,
                        folder, std::string());
  EnableButtons();
}

void TFrmMain::DoResize() {
  TResizePipeline pipeline(MainEngine);
  pipeline.OnDisableButtons = [this] { DisableButtons(); };
  pipeline.OnEnableButtons = [this] { EnableButtons(); };
  TResizeParams params;
  params.NewW = static_cast<std::int32_t>(jvResizeW->Value());
  params.NewH = static_cast<std::int32_t>(jvResizeH->Value());
  params.FastMethod = rbFastResize->isChecked();
  params.OutputFolder = EditOutputFolder->text().toStdString();
  params.Output = OutputChoice();
  params.NumOfCores = NumOfCores;
  pipeline.DoResize(params);
}

// ---------------------------------------------------------------------------
// Hooks and progress.

void TFrmMain::ShowError(const std::string& msg) { Ui.ShowMessageBox(msg); }

void TFrmMain::ShowStatus(const std::string& msg) {
  statusLabel_->setText(FromStd(msg));
  Ui.ProcessEvents();
}

QString TFrmMain::StatusText() const { return statusLabel_->text(); }

void TFrmMain::ShowProgress(std::int32_t max, const std::string& desc) {
  btAbort->setText(QStringLiteral("Abort"));
  btPause->setText(QStringLiteral("Pause"));
  lbStatusDescr->setText(FromStd(desc));
  Paused = false;
  // A close the user confirmed keeps every later stage from starting.
  MainEngine.Aborted = closeRequested_;
  PBStatus->setRange(0, std::max(max, 1));
  PBStatus->setValue(0);
  SetProgressLook(false);
  // The box is narrower than the mode panel: the panel goes while it is up,
  // or its title and divider would show beside it.
  PMain->hide();
  PProgress->show();
  PProgress->raise();
  taskbar_->SetMaximum(max);
  taskbar_->SetValue(0);
  taskbar_->SetState(TaskbarState::Normal);
}

void TFrmMain::UpdateProgress(std::int32_t current) {
  Ui.ProcessEvents();
  PBStatus->setValue(
      std::clamp(current, PBStatus->minimum(), PBStatus->maximum()));
  taskbar_->SetValue(current);
  CheckIfPaused();
}

void TFrmMain::HideProgress() {
  PProgress->hide();
  PMain->show();
  taskbar_->SetState(TaskbarState::None);
}

void TFrmMain::CheckIfPaused() {
  while (Paused) {
    QThread::msleep(50);
    Ui.ProcessEvents();
  }
}

void TFrmMain::btPauseClick() {
  Paused = !Paused;
  if (Paused) {
    btPause->setText(QStringLiteral("Continue"));
    taskbar_->SetState(TaskbarState::Paused);
    SetProgressLook(true);
  } else {
    btPause->setText(QStringLiteral("Pause"));
    taskbar_->SetState(TaskbarState::Normal);
    SetProgressLook(false);
  }
}

void TFrmMain::btAbortClick() {
  const QPoint at = pos();
  // Left of or above the primary screen the dialog goes to its edge.
  const auto x = static_cast<std::uint16_t>(std::clamp(at.x() + 20, 0, 65535));
  const auto y = static_cast<std::uint16_t>(std::clamp(at.y() + 100, 0, 65535));
  if (windows_.ConfirmAbort(x, y) == mrYes) {
    MainEngine.Aborted = true;
    Paused = false;
  }
  // A declined abort leaves the flag as it was: an operation that has
  // already failed must still end as failed.
}

}  // namespace trelvi::gui
