// The main window's layout: the bands, panels, About view and progress box.
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QToolButton>
#include <algorithm>

#include "ui/pyramid_fields.h"
#include "ui/qt/artwork.h"
#include "ui/qt/frm_main.h"
#include "ui/qt/frm_main_parts.h"
#include "ui/qt/int_edit.h"

namespace trelvi::gui {

using namespace frm_main_parts;

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
  lbMetadata = Label(QString(), PInfo, QRect(60, 1, 333, 18),
                     Qt::AlignRight | Qt::AlignVCenter);

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
  gbSplitTile = group(PSplit, "Tile dimensions", 16);
  jvSplitWidth = field(gbSplitTile, "Width", 0, 1000, 256, 9999999, false);
  jvSplitHeight = field(gbSplitTile, "Height", 1, 1000, 256, 9999999, false);
  gbSplitCount = group(PSplit, "Number of tiles", 220);
  jvSplitX = field(gbSplitCount, "X", 0, 0, 0, 9999999, true);
  jvSplitY = field(gbSplitCount, "Y", 1, 0, 0, 9999999, true);
  for (TIntEdit* e : {jvSplitX, jvSplitY}) {
    e->setFocusPolicy(Qt::NoFocus);
    e->installEventFilter(this);
  }
  BuildPyramidRow();

  PMerge = panel("Merge images", "Merge multiple tiles into one image");
  QGroupBox* grid = group(PMerge, "Number of tiles", 16);
  jvMergeX = field(grid, "X", 0, 0, 0, 999999, true);
  jvMergeY = field(grid, "Y", 1, 0, 0, 999999, true);

  for (TIntEdit* e :
       {jvSplitWidth, jvSplitHeight, jvResizeW, jvResizeH, jvMergeX, jvMergeY})
    e->OnChange = [this, e] { jvSplitWidthChange(e); };
}

// Below the split's groups: the pyramid's box, and its fields on one line,
// each caption as wide as its text so the line fits the panel.
void TFrmMain::BuildPyramidRow() {
  cbPyramid = new QCheckBox(QStringLiteral("Web pyramid (Deep Zoom)"), PSplit);
  cbPyramid->setGeometry(24, 158, 380, 20);
  // One widget holds the line, so that its captions grey with its fields.
  auto* line = new QWidget(PSplit);
  line->setGeometry(0, 182, kClientWidth, 24);
  const PyramidRequest defaults;
  jvPyramidTile =
      new TIntEdit(rules::kMinPyramidTileSize, rules::kMaxPyramidTileSize,
                   defaults.TileSize, line);
  jvPyramidOverlap =
      new TIntEdit(0, rules::kMaxPyramidOverlap, defaults.Overlap, line);
  cbPyramidFormat = new QComboBox(line);
  cbPyramidFormat->addItem(QStringLiteral("JPEG"));
  cbPyramidFormat->addItem(QStringLiteral("PNG"));
  const struct {
    const char* caption;
    QWidget* field;
    int width;
  } row[] = {
      {"Tile size", jvPyramidTile, 56},
      {"Overlap", jvPyramidOverlap, 40},
      {"Tiles", cbPyramidFormat,
       std::max(72, cbPyramidFormat->sizeHint().width())},
  };
  int x = 44;
  for (const auto& r : row) {
    QLabel* caption =
        Label(QString::fromLatin1(r.caption), line, QRect(x, 1, 10, 22));
    caption->setBuddy(r.field);
    caption->resize(caption->sizeHint().width(), 22);
    x += caption->width() + 6;
    r.field->setGeometry(x, 1, r.width, 22);
    x += r.width + 16;
  }
  for (TIntEdit* e : {jvPyramidTile, jvPyramidOverlap})
    e->SetSelectAllOnClick(true);
  connect(cbPyramid, &QCheckBox::toggled, this,
          [this] { ApplyPyramidChoice(); });
}

void TFrmMain::BuildOutput() {
  POutput = new QFrame(this);
  POutput->setGeometry(0, 443, kClientWidth, 146);

  // The output choices of the format table, four to a row in its order;
  // each column as wide as its widest caption, the columns spread over the
  // box. A second row takes room from the gaps below, not from the window.
  auto* format = new QGroupBox(QStringLiteral(" Output format "), POutput);
  gbOutputFormat = format;
  constexpr int kPerRow = 4, kBoxWidth = 402, kInset = 16, kRowPitch = 19;
  for (const OutputChoiceRow& row : OutputChoices())
    OutputButtons.emplace_back(
        row.Choice, new QRadioButton(QString::fromUtf8(row.Caption), format));
  const int count = static_cast<int>(OutputButtons.size());
  const int rows = (count + kPerRow - 1) / kPerRow;
  int columnWidth[kPerRow] = {};
  for (int i = 0; i < count; ++i)
    columnWidth[i % kPerRow] = std::max(
        columnWidth[i % kPerRow], OutputButtons[i].second->sizeHint().width());
  int used = 0;
  for (int w : columnWidth) used += w;
  const int gap = std::max(4, (kBoxWidth - 2 * kInset - used) / (kPerRow - 1));
  for (int i = 0; i < count; ++i) {
    int x = kInset;
    for (int c = 0; c < i % kPerRow; ++c) x += columnWidth[c] + gap;
    OutputButtons[i].second->setGeometry(
        x, rows == 1 ? 20 : 17 + (i / kPerRow) * kRowPitch,
        columnWidth[i % kPerRow], rows == 1 ? 20 : kRowPitch);
  }
  const int boxHeight = rows == 1 ? 48 : 22 + rows * kRowPitch;
  format->setGeometry(12, 2, kBoxWidth, boxHeight);
  const int shift = boxHeight - 48;
  OutputButtons.front().second->setChecked(true);
  rbTif = OutputButton(rules::OutputChoice::Tif);
  rbTifLzw = OutputButton(rules::OutputChoice::TifLzw);
  rbRaw = OutputButton(rules::OutputChoice::Raw);
  rbKro = OutputButton(rules::OutputChoice::Kro);

  Label(QStringLiteral("Output directory"), POutput,
        QRect(12, 56 + shift, 200, 18));
  EditOutputFolder = PathField(POutput, QRect(12, 74 + shift, 374, 24));
  EditOutputFolder->setToolTip(
      QStringLiteral("Double-click to write beside the input file"));
  EditOutputFolder->installEventFilter(this);
  sbOutputFolder = new QPushButton(QStringLiteral("..."), POutput);
  sbOutputFolder->setGeometry(390, 74 + shift, 24, 24);
  connect(sbOutputFolder, &QPushButton::clicked, this,
          [this] { sbOutputFolderClick(); });

  cbSyncOutputs =
      new QCheckBox(QStringLiteral("Sync outputs to disk"), POutput);
  cbSyncOutputs->setGeometry(12, 113, 200, 20);
  cbSyncOutputs->setToolTip(
      QStringLiteral("Flush each finished file to the disk, so that it "
                     "survives a power cut (slower)"));

  btStart = new QPushButton(QStringLiteral("Start"), POutput);
  // Below the folder, yet inside the band.
  btStart->setGeometry(314, std::min(108 + shift, 146 - 32), 100, 30);
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

}  // namespace trelvi::gui
