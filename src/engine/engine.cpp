#include <filesystem>
#include <new>
#include <system_error>

#include "engine/format_table.h"
#include "engine/image_format.h"
#include "engine/partial_output.h"
#include "engine/trelvi.h"
#include "engine/utils.h"

namespace trelvi {

TTrelvi::TTrelvi(UiServices& ui)
    : ui_(&ui), outPartial_(std::make_unique<PartialOutput>()) {}

TTrelvi::~TTrelvi() {
  CloseInFile();
  // An output nobody closed was not finished.
  FinishOutFile(false);
}

void TTrelvi::InitEngine() {
  InOpen = false;
  OutOpen = false;
  ForceBigTiff = false;
  for (const FormatUnit& unit : Formats())
    if (unit.Initialize) unit.Initialize();
}

bool TTrelvi::OpenInFile(const std::string& fileName) {
  // Whatever was open before is closed, even when this open fails.
  inReader_.reset();
  // 64-bit product: a row that does not fit the 32-bit row size is refused
  // like an allocation failure instead of wrapping into a too-small buffer.
  const std::uint64_t size =
      static_cast<std::uint64_t>(InInfo.Width) * InInfo.BytesPerPixel;
  if (InInfo.ScanLine == inBuffer_.get()) InInfo.ScanLine = nullptr;
  inBuffer_.reset();
  if (size == 0 || size > kMaxRowBytes) {
    InInfo.ScanLineSize = 0;
    InInfo.ScanLine = nullptr;
    ui_->ShowMessageBox("Trelvi.OpenInFile : Not enough memory");
    return false;
  }
  InInfo.ScanLineSize = static_cast<std::uint32_t>(size);
  inBuffer_.reset(new (std::nothrow) std::uint8_t[size]);
  InInfo.ScanLine = inBuffer_.get();
  if (!InInfo.ScanLine) {
    ui_->ShowMessageBox("Trelvi.OpenInFile : Not enough memory");
    return false;
  }

  // The reader is chosen here, once. RAW and KRO readers always open: a
  // file that cannot be read delivers 0 bytes at the first ReadLine.
  if (const FormatUnit* unit = FindFormat(InInfo.ImageType))
    inReader_ = unit->OpenReader(fileName, InInfo);
  InOpen = inReader_ != nullptr;
  return InOpen;
}

void TTrelvi::CloseInFile() {
  inReader_.reset();
  InOpen = false;
  if (InInfo.ScanLine) {
    if (InInfo.ScanLine == inBuffer_.get()) inBuffer_.reset();
    InInfo.ScanLine = nullptr;
  }
}

bool TTrelvi::CloseOutFile() { return FinishOutFile(true); }

bool TTrelvi::FinishOutFile(bool keep) {
  bool ok = true;
  if (OutOpen) {
    if (outWriter_) ok = outWriter_->Finish().Complete;
    OutOpen = false;
  }
  outWriter_.reset();
  if (OutInfo.ScanLine) {
    if (OutInfo.ScanLine == outBuffer_.get()) outBuffer_.reset();
    OutInfo.ScanLine = nullptr;
  }
  // The writer has closed the file: only now is it whole.
  if (outPartial_->Active()) {
    if (keep && ok) {
      ok = outPartial_->Commit(SyncOutputs);
      OutCommitted = ok;
    } else {
      outPartial_->Discard();
    }
  }
  return ok;
}

void TTrelvi::DoError(const std::string& msg) {
  if (OnError) OnError(msg);
}
void TTrelvi::DoStatus(const std::string& msg) {
  if (OnStatus) OnStatus(msg);
}
void TTrelvi::DoShowProgress(std::int32_t max, const std::string& desc) {
  if (OnShowProgress) OnShowProgress(max, desc);
}
void TTrelvi::DoUpdateProgress(std::int32_t current) {
  if (OnUpdateProgress) OnUpdateProgress(current);
}
void TTrelvi::DoHideProgress() {
  if (OnHideProgress) OnHideProgress();
}

// ---------------------------------------------------------------------------

std::int64_t FileSizeByName(const std::string& fileName) {
  std::error_code ec;
  const std::filesystem::path p(fileName);
  auto status = std::filesystem::status(p, ec);
  if (ec || !std::filesystem::exists(status)) return -1;
  if (std::filesystem::is_directory(status)) return 0;
  auto size = std::filesystem::file_size(p, ec);
  if (ec) return -1;
  return static_cast<std::int64_t>(size);
}

bool FileExists(const std::string& fileName) {
  std::error_code ec;
  return std::filesystem::is_regular_file(fileName, ec);
}

std::string FormatGrouped(std::int64_t value) {
  // Built by concatenation: the rule inserts a separator before the last 3,
  // 7, 11 and 15 characters of the growing text, which is the same as
  // grouping the digits by three from the right with at most four dots.
  const std::string digits = std::to_string(value);
  std::string result;
  result.reserve(digits.size() + 4);
  std::size_t groups = 0;
  for (std::size_t i = digits.size(); i > 0;) {
    const std::size_t take = (groups < 4 && i > 3) ? 3 : i;
    result =
        digits.substr(i - take, take) + (result.empty() ? "" : "." + result);
    i -= take;
    ++groups;
  }
  return result;
}

static bool IsSeparator(char c) { return c == '/' || c == '\\'; }

std::string FileNamePart(const std::string& path) {
  for (std::size_t i = path.size(); i > 0; --i) {
    if (IsSeparator(path[i - 1])) return path.substr(i);
  }
  return path;
}

std::string DirectoryPart(const std::string& path) {
  for (std::size_t i = path.size(); i > 0; --i) {
    if (IsSeparator(path[i - 1])) return path.substr(0, i);
  }
  return std::string();
}

std::string UpperAscii(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

std::uint32_t SwapBytes32(std::uint32_t v) {
  return (v >> 24) | ((v >> 8) & 0x0000FF00u) | ((v << 8) & 0x00FF0000u) |
         (v << 24);
}

}  // namespace trelvi
