#pragma once

#include <QPoint>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/trelvi.h"
#include "ui/settings.h"
#include "ui/window_rules.h"

class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QStatusBar;
class QToolButton;

namespace trelvi::gui {

// The window's six panels, numbered as the mode buttons from the left; the
// five operations take an input and an output, About neither.
enum TPanel : std::uint8_t {
  pnNone = 0,  // before the first SelectPanel
  pnConvert = 1,
  pnCrop,
  pnResize,
  pnSplit,
  pnMerge,
  pnAbout,
};

class TIntEdit;
class TaskbarProgress;
class WindowServices;

struct TFrmMainOptions {
  // The settings file. Empty: no settings are read or written, the window
  // keeps its designed place and the update check stays off.
  std::string SettingsFile;
  // Where progress goes besides the window; null: the desktop's launcher
  // entry.
  TaskbarProgress* Taskbar = nullptr;
  // The update server; empty: the address the program was built with.
  QString UpdateServer;
};

// The program's one window: the mode buttons, the input band with its info
// box, the five operation panels, the output band with Start, the status
// line, the About view and the progress box. It owns the engine and drives
// it synchronously; the engine's hooks come back here, and the window keeps
// handling user input from inside them, so Pause and Abort work without
// threads.
class TFrmMain : public QWidget {
 public:
  TFrmMain(UiServices& ui, WindowServices& windows,
           TFrmMainOptions options = {}, QWidget* parent = nullptr);
  ~TFrmMain() override;

  static constexpr int kClientWidth = 426;
  static constexpr int kClientHeight = 608;
  static constexpr const char* kHomePage = "http://www.trelvitools.com";

  // --- State.
  UiServices& Ui;
  TTrelvi MainEngine;
  TSetup Setup;
  bool DroppedFile = false;
  bool Paused = false;
  TPanel CurrentPanel = pnNone;
  std::uint16_t NumOfCores = 1;
  // The open dialog's selection mode, its chosen file (single selection)
  // and its ordered list of files (multiple selection: the tiles to merge).
  bool odMultiSelect = false;
  std::string odFileName;
  std::vector<std::string> odFiles;
  // The directory the folder dialog remembers.
  std::string FolderDialogDirectory;

  // --- Controls.
  QWidget* PButtons;
  QToolButton *btConvert, *btCrop, *btResize, *btSplit, *btMerge, *btAbout;

  QFrame* PInput;
  QLabel* lbInputFile;
  QLineEdit* EditInputFile;
  QPushButton* sbInput;
  QFrame* PInfo;
  QLabel *lbFileSize, *lbWidth, *lbHeight, *lbBits, *lbChannels, *lbImage;
  // In the box's header: the input's colour profile and metadata kinds,
  // the full lines in its tooltip; empty when it carries none.
  QLabel* lbMetadata;

  QWidget* PMain;
  QWidget *PConvert, *PCrop, *PResize, *PSplit, *PMerge;
  TIntEdit *EditCropX, *EditCropY, *EditCropW, *EditCropH;
  TIntEdit *jvResizeW, *jvResizeH;
  QRadioButton *rbFastResize, *rbSlowResize;
  TIntEdit *jvSplitWidth, *jvSplitHeight, *jvSplitX, *jvSplitY;
  QGroupBox *gbSplitTile, *gbSplitCount;
  // The Split panel's web pyramid: when ticked, Split writes a Deep Zoom
  // pyramid of these instead of the tiles.
  QCheckBox* cbPyramid;
  TIntEdit *jvPyramidTile, *jvPyramidOverlap;
  QComboBox* cbPyramidFormat;
  TIntEdit *jvMergeX, *jvMergeY;

  QFrame* POutput;
  // One button per output choice, in the table's order; the four named
  // ones point into it.
  std::vector<std::pair<rules::OutputChoice, QRadioButton*>> OutputButtons;
  QRadioButton *rbTif, *rbTifLzw, *rbRaw, *rbKro;
  QRadioButton* OutputButton(rules::OutputChoice choice) const;
  QGroupBox* gbOutputFormat;
  QLineEdit* EditOutputFolder;
  QPushButton* sbOutputFolder;
  QPushButton* btStart;

  QStatusBar* StatusBar;

  QWidget* PAbout;
  QLabel* imgLogo;
  QLabel* lbAboutInfo;
  QLabel* lbHomePage;
  QLabel* lbAboutHomepage;
  QPushButton* Button1;
  QLabel* lbNewVersion;
  QCheckBox* cbCheckForUpdates;
  QCheckBox* cbSyncOutputs;

  QFrame* PProgress;
  QLabel* lbProgressInfo;
  QLabel* lbStatusDescr;
  QProgressBar* PBStatus;
  QPushButton* btPause;
  QPushButton* btAbort;

  // --- Modes and buttons.
  void SelectPanel(TPanel panel);
  void btConvertClick();
  void btCropClick();
  void btResizeClick();
  void btSplitClick();
  void btMergeClick();
  void btAboutClick();
  void DisableButtons();
  void EnableButtons();
  void jvSplitXEnter();
  void EditOutputFolderDblClick();
  void lbAboutHomepageClick();
  void Button1Click();

  // --- Input and output selection.
  void sbInputClick();
  // A drop of paths at a point in the window's client coordinates.
  void WMDropFiles(const std::vector<std::string>& items, QPoint point);
  void sbOutputFolderClick();
  void ClearInputInfoPanel();
  void ShowInputMetadata(const TFileInfo& in);
  // The file the program was started with: the input of a Convert, checked
  // as a dropped file is.
  void OpenInput(const std::string& file);

  // --- Parameters and Start.
  void jvSplitWidthChange(QObject* sender);
  void btStartClick();
  void SetOutputType();
  std::string GetOutputFolder(const std::string& source) const;
  void StartCrop();
  void RunCropConvert(std::int32_t x, std::int32_t y, std::int32_t w,
                      std::int32_t h);
  void RunSplit(std::vector<std::string>& list);
  void RunPyramid();
  // Enables the controls that apply to the mode shown and the pyramid box.
  void ApplyPyramidChoice();
  void RunMerge();
  void DoResize();

  // --- Hooks and progress.
  void ShowError(const std::string& msg);
  void ShowStatus(const std::string& msg);
  void ShowProgress(std::int32_t max, const std::string& desc);
  void UpdateProgress(std::int32_t current);
  void HideProgress();
  void CheckIfPaused();
  void btPauseClick();
  void btAbortClick();

  // The status line's text.
  QString StatusText() const;
  // An operation started by Start is running.
  bool OperationRunning() const { return operationRunning_; }
  // The window will close as soon as the running operation has stopped.
  bool CloseRequested() const { return closeRequested_; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct Updates;

  void BuildButtons();
  void BuildInput();
  void BuildPanels();
  void BuildPyramidRow();
  void BuildOutput();
  void BuildAbout();
  void BuildProgress();
  void FormCreate();
  void FormClose();
  // Start's checks and the operation of the mode shown; false when a check
  // stopped it before any operation could begin.
  bool RunStart();
  void SetProgressLook(bool paused);
  rules::OutputChoice OutputChoice() const;
  // Whether a drop at y would reach a handler.
  bool AcceptsDropAt(int y) const;

  WindowServices& windows_;
  TFrmMainOptions options_;
  std::unique_ptr<TaskbarProgress> ownTaskbar_;
  TaskbarProgress* taskbar_;
  std::unique_ptr<Updates> updates_;
  QLabel* statusLabel_ = nullptr;
  // Input is being read or an operation runs: drops wait for no one and are
  // ignored.
  int busy_ = 0;
  bool operationRunning_ = false;
  bool closeRequested_ = false;
  // The files the last Start's operation names as written.
  std::vector<std::string> startOutputs_;
};

}  // namespace trelvi::gui
