// The main window's parameters, Start and the operations it runs.
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QTimer>
#include <filesystem>
#include <system_error>
#include <utility>

#include "operations/pyramid_op.h"
#include "resize/resize_pipeline.h"
#include "ui/pyramid_fields.h"
#include "ui/qt/frm_main.h"
#include "ui/qt/frm_main_parts.h"
#include "ui/qt/int_edit.h"

namespace trelvi::gui {

using namespace frm_main_parts;

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
  for (const auto& [choice, button] : OutputButtons)
    if (button->isChecked()) return choice;
  return OutputChoices().front().Choice;
}

QRadioButton* TFrmMain::OutputButton(rules::OutputChoice choice) const {
  for (const auto& [c, button] : OutputButtons)
    if (c == choice) return button;
  return nullptr;
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
  MainEngine.SyncOutputs = cbSyncOutputs->isChecked();
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
    case pnConvert:
      RunCropConvert(0, 0, static_cast<std::int32_t>(MainEngine.InInfo.Width),
                     static_cast<std::int32_t>(MainEngine.InInfo.Height));
      break;
    case pnCrop:
      StartCrop();
      break;
    case pnResize:
      DoResize();
      break;
    case pnSplit: {
      if (cbPyramid->isChecked()) {
        RunPyramid();
        return true;
      }
      jvSplitWidthChange(jvSplitWidth);
      std::vector<std::string> list;
      RunSplit(list);
      startOutputs_ = std::move(list);
      return true;
    }
    case pnMerge:
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

void TFrmMain::RunPyramid() {
  DisableButtons();
  const std::string& input = MainEngine.InInfo.FileName;
  const std::string folder = GetOutputFolder(input);
  rules::PyramidFields fields;
  fields.TileSize = jvPyramidTile->Value();
  fields.Overlap = jvPyramidOverlap->Value();
  fields.Png = cbPyramidFormat->currentIndex() == 1;
  if (PyramidImage(MainEngine, rules::PyramidRequestFrom(
                                   fields, folder, DefaultViewerScript())))
    startOutputs_.push_back(PyramidDescriptorFile(folder, input));
  EnableButtons();
}

void TFrmMain::ApplyPyramidChoice() {
  const rules::SplitPanelControls controls =
      rules::SplitControls(CurrentPanel == pnSplit, cbPyramid->isChecked());
  gbSplitTile->setEnabled(controls.TileFields);
  gbSplitCount->setEnabled(controls.TileFields);
  // The pyramid's fields share the line that holds their captions.
  jvPyramidTile->parentWidget()->setEnabled(controls.PyramidFields);
  gbOutputFormat->setEnabled(controls.OutputFormat);
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

}  // namespace trelvi::gui
