#include "ui/qt/window_services.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QUrl>

#include "ui/qt/frm_confirm.h"

namespace trelvi::gui {

namespace {
const char* const kFilters[] = {
    "TIF (*.tif *.tiff)",
    "RAW (*.raw *.rgb)",
    "KRO (*.kro)",
    "All suported file types (*.tif *.tiff *.raw *.rgb *.kro)",
};
}  // namespace

QtWindowServices::QtWindowServices()
    : lastFilter_(QString::fromLatin1(kFilters[3])) {}

QtWindowServices::~QtWindowServices() { delete confirm_; }

void QtWindowServices::CreateDialogs(QWidget* owner) {
  // A child of the main window, so that it stays in front of it.
  if (!confirm_) confirm_ = new TFrmConfirm(owner);
}

TFrmConfirm* QtWindowServices::Confirm() const { return confirm_; }

std::optional<std::vector<std::string>> QtWindowServices::ChooseInputFiles(
    QWidget* parent, bool multiple) {
  QFileDialog dialog(parent, QStringLiteral("Trelvi Tools - input file"),
                     lastInputDirectory_);
  QStringList filters;
  for (const char* f : kFilters) filters << QString::fromLatin1(f);
  dialog.setNameFilters(filters);
  dialog.selectNameFilter(lastFilter_);
  dialog.setFileMode(multiple ? QFileDialog::ExistingFiles
                              : QFileDialog::ExistingFile);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setSizeGripEnabled(true);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  lastInputDirectory_ = dialog.directory().absolutePath();
  lastFilter_ = dialog.selectedNameFilter();
  std::vector<std::string> files;
  for (const QString& f : dialog.selectedFiles())
    files.push_back(f.toStdString());
  if (files.empty()) return std::nullopt;
  return files;
}

std::optional<std::string> QtWindowServices::ChooseFolder(
    QWidget* parent, const std::string& startDirectory) {
  const QString folder = QFileDialog::getExistingDirectory(
      parent, QStringLiteral("Trelvi Tools - output directory"),
      QString::fromStdString(startDirectory));
  if (folder.isEmpty()) return std::nullopt;
  return folder.toStdString();
}

int QtWindowServices::ConfirmAbort(std::uint16_t x, std::uint16_t y) {
  if (!confirm_) CreateDialogs(nullptr);
  return confirm_->CenterAndShow(x, y);
}

void QtWindowServices::OpenAddress(const QString& address) {
  QDesktopServices::openUrl(QUrl(address));
}

}  // namespace trelvi::gui
