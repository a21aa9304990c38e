#include <tiffio.h>

#include <filesystem>
#include <new>
#include <system_error>

#include "engine/strip_writer.h"
#include "engine/tiff_access.h"
#include "engine/trelvi.h"
#include "engine/utils.h"

namespace trelvi {

TTrelvi::TTrelvi(UiServices& ui) : ui_(&ui) {}

TTrelvi::~TTrelvi() {
  CloseInFile();
  CloseOutFile();
}

void TTrelvi::InitEngine() {
  InOpen = false;
  OutOpen = false;
  ForceBigTiff = false;
  InstallTiffHandlers();
}

bool TTrelvi::OpenInFile(const std::string& fileName) {
  InStream.Bind(fileName);
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

  bool result = false;
  switch (InInfo.ImageType) {
    case FileType::KRO4:
    case FileType::RAW:
      // A failed open is not reported here: the first ReadLine delivers 0.
      if (InStream.OpenRead(InInfo.ScanLineSize) &&
          InInfo.ImageType == FileType::KRO4)
        InStream.Skip(20);
      result = true;
      break;
    case FileType::TIF:
      // "m": no memory mapping. Mapped, every row read stays resident until
      // the file is closed, and a 40 GB input would look like 40 GB of
      // memory; read calls keep memory at a row or a strip.
      InTiff = OpenTiff(fileName, "rm");
      if (InTiff) inTiffReader_ = std::make_unique<TiffRowReader>(InTiff);
      result = InTiff != nullptr;
      break;
    case FileType::NV:
      result = false;
      break;
  }
  InOpen = result;
  return result;
}

void TTrelvi::CloseInFile() {
  if (InOpen) {
    if (InInfo.ImageType == FileType::TIF) {
      inTiffReader_.reset();
      if (InTiff) TIFFClose(InTiff);
      InTiff = nullptr;
    } else {
      InStream.Close();
    }
    InOpen = false;
  }
  if (InInfo.ScanLine) {
    if (InInfo.ScanLine == inBuffer_.get()) inBuffer_.reset();
    InInfo.ScanLine = nullptr;
  }
}

bool TTrelvi::CloseOutFile() {
  bool ok = true;
  if (OutOpen) {
    if (OutInfo.ImageType == FileType::TIF) {
      if (outStrips_) {
        if (!outStrips_->Finish()) ok = false;
        outStrips_.reset();
      }
      if (OutTiff) {
        // TIFFClose cannot report that the directory failed to reach the
        // disk; flushing first can.
        if (TIFFFlush(OutTiff) != 1) ok = false;
        TIFFClose(OutTiff);
      }
      OutTiff = nullptr;
    } else {
      ok = OutStream.Close();
    }
    OutOpen = false;
  }
  if (OutInfo.ScanLine) {
    if (OutInfo.ScanLine == outBuffer_.get()) outBuffer_.reset();
    OutInfo.ScanLine = nullptr;
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
