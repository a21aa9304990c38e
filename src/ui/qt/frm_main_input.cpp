// The main window's input and output selection: the dialogs and drops.
#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QTimer>
#include <QUrl>

#include "engine/utils.h"
#include "ui/drop_routing.h"
#include "ui/metadata_info.h"
#include "ui/qt/frm_main.h"
#include "ui/qt/frm_main_parts.h"
#include "ui/qt/int_edit.h"
#include "ui/qt/window_services.h"

namespace trelvi::gui {

using namespace frm_main_parts;

void TFrmMain::ClearInputInfoPanel() {
  for (QLabel* l : {lbFileSize, lbWidth, lbHeight, lbBits, lbChannels, lbImage})
    l->clear();
  ShowInputMetadata(TFileInfo{});
}

void TFrmMain::ShowInputMetadata(const TFileInfo& in) {
  const QString summary = FromStd(rules::MetadataSummary(in));
  QString lines;
  std::vector<std::string> all = rules::MetadataInfoLines(in);
  // What the outputs will lack goes with it; the status line keeps its
  // "Image is valid".
  if (std::string warning = rules::MetadataWarning(in); !warning.empty())
    all.push_back(std::move(warning));
  for (const std::string& line : all)
    lines +=
        (lines.isEmpty() ? QString() : QStringLiteral("\n")) + FromStd(line);
  // A long profile name is cut rather than pushed over the caption.
  lbMetadata->setText(lbMetadata->fontMetrics().elidedText(
      summary, Qt::ElideMiddle, lbMetadata->width()));
  lbMetadata->setToolTip(lines);
  PInfo->setToolTip(lines);
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
    ShowInputMetadata(in);
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
  SelectPanel(pnConvert);
  odFileName = file;
  DroppedFile = true;
  sbInputClick();
}

bool TFrmMain::AcceptsDropAt(int y) const {
  if (CurrentPanel >= pnAbout || busy_ > 0 || operationRunning_) return false;
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
  if (items.empty() || CurrentPanel >= pnAbout) return;
  const TPanel panel = CurrentPanel;
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

}  // namespace trelvi::gui
