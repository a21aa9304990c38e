#include <cstdio>
#include <filesystem>
#include <mutex>
#include <new>
#include <system_error>

#include "engine/format_table.h"
#include "engine/image_format.h"
#include "engine/partial_output.h"
#include "engine/trelvi.h"
#include "engine/utils.h"

namespace trelvi {

namespace {
std::mutex& QueryMutex() {
  static std::mutex m;
  return m;
}
FreeSpaceQuery& Query() {
  static FreeSpaceQuery q;
  return q;
}

// Width × height × bytes per pixel, held at the largest 64-bit value when
// the product does not fit: sizes a header may claim reach 2^67, and a
// wrapped product could pass the free-space check as a small file.
std::uint64_t PixelBytes(std::uint32_t width, std::uint32_t height,
                         std::uint8_t bytesPerPixel) {
  const std::uint64_t pixels = static_cast<std::uint64_t>(width) * height;
  if (bytesPerPixel != 0 && pixels > UINT64_MAX / bytesPerPixel)
    return UINT64_MAX;
  return pixels * bytesPerPixel;
}

// Same file as the file system sees it, not the same spelling: a relative
// path, "..", a symbolic link or a hard link all name the input.
bool SameFile(const std::string& a, const std::string& b) {
  std::error_code ec;
  const bool same = std::filesystem::equivalent(a, b, ec);
  return !ec && same;
}
}  // namespace

void SetFreeSpaceQuery(FreeSpaceQuery query) {
  std::lock_guard<std::mutex> lock(QueryMutex());
  Query() = std::move(query);
}

std::uint64_t GetFreeSpace(const std::string& directory) {
  {
    std::lock_guard<std::mutex> lock(QueryMutex());
    if (Query()) return Query()(directory);
  }
  std::error_code ec;
  const auto info = std::filesystem::space(
      directory.empty() ? std::filesystem::path(".")
                        : std::filesystem::path(directory),
      ec);
  if (ec) return 0;
  return info.available;
}

// Every step reports its own failure; the first that fails ends the
// creation, and nothing after it runs.
bool TTrelvi::CreateOutFile(const std::string& baseName) {
  OutCommitted = false;
  if (!ApplyOutputLayout()) return false;
  const OutputName name = ChooseOutputName(baseName);
  if (!CheckOutputTarget(name.FileName)) return false;
  if (!AllocateOutBuffer()) return false;
  if (!OpenOutWriter(name)) return false;
  OutOpen = true;
  return true;
}

// The output's channels and byte order are its format's; its depth is the
// input's.
bool TTrelvi::ApplyOutputLayout() {
  const FormatUnit* unit = FindFormat(OutInfo.ImageType);
  if (!unit) {
    Ui().ShowMessageBox("Write to file error");
    return false;
  }
  OutInfo.Channels = unit->Layout.Channels;
  OutInfo.BytesPerPixel = unit->Layout.Channels;
  OutInfo.IsLsb = unit->Layout.IsLsb;
  OutInfo.Bits = InInfo.Bits;
  if (OutInfo.Bits == 16) OutInfo.BytesPerPixel *= 2;
  return true;
}

OutputName TTrelvi::ChooseOutputName(const std::string& baseName) const {
  OutputRequest request;
  request.BaseName = baseName;
  request.PixelBytes =
      PixelBytes(OutInfo.Width, OutInfo.Height, OutInfo.BytesPerPixel);
  request.MetadataBytes = OutMetadataBytes();
  request.Codec = UseLzw ? Compression::Lzw : OutCodec;
  request.ForceLarge = ForceBigTiff;
  request.Width = OutInfo.Width;
  request.Height = OutInfo.Height;
  request.Bits = OutInfo.Bits;
  request.Metadata = OutInfo.Metadata.get();
  return FindFormat(OutInfo.ImageType)->NameOutput(request);
}

// Not the input, not an existing file the user wants kept, and room for the
// uncompressed pixels.
bool TTrelvi::CheckOutputTarget(const std::string& name) {
  bool input = SameFile(name, InInfo.FileName);
  for (const std::string& keep : KeepFiles)
    input = input || SameFile(name, keep);
  if (input) {
    Ui().ShowMessageDialog("Cannot overwrite input file", MsgIcon::Error,
                           MsgButtons::Ok);
    return false;
  }

  std::error_code ec;
  if (std::filesystem::exists(name, ec)) {
    if (Ui().ShowMessageDialog(
            "Output file exists. Do you want to overwrite it?",
            MsgIcon::Question, MsgButtons::YesNo) != MsgResult::Yes)
      return false;
    // The old file stays until the finished output replaces it.
  }

  OutInfo.FileName = name;

  const std::uint64_t pixels =
      PixelBytes(OutInfo.Width, OutInfo.Height, OutInfo.BytesPerPixel);
  const std::uint64_t metadata = OutMetadataBytes();
  const std::uint64_t size =
      pixels > UINT64_MAX - metadata ? UINT64_MAX : pixels + metadata;
  const std::uint64_t freeBytes = GetFreeSpace(DirectoryPart(name));
  if (!(freeBytes > size)) {
    DoError("There is not enough space on the destination directory");
    return false;
  }
  return true;
}

std::uint64_t TTrelvi::OutMetadataBytes() const {
  return OutInfo.Metadata ? MetadataBytes(*OutInfo.Metadata) : 0;
}

bool TTrelvi::AllocateOutBuffer() {
  const std::uint64_t rowSize =
      static_cast<std::uint64_t>(OutInfo.Width) * OutInfo.BytesPerPixel;
  if (OutInfo.ScanLine == outBuffer_.get()) OutInfo.ScanLine = nullptr;
  outBuffer_.reset();
  OutInfo.ScanLineSize = 0;
  if (rowSize > 0 && rowSize <= kMaxRowBytes) {
    outBuffer_.reset(new (std::nothrow) std::uint8_t[rowSize]);
    OutInfo.ScanLineSize = static_cast<std::uint32_t>(rowSize);
  }
  OutInfo.ScanLine = outBuffer_.get();
  if (!OutInfo.ScanLine) {
    OutInfo.ScanLineSize = 0;
    Ui().ShowMessageBox("Not enough memory");
    return false;
  }
  return true;
}

// The writer writes a partial file beside the final name; CloseOutFile
// renames it once it is whole.
bool TTrelvi::OpenOutWriter(const OutputName& name) {
  switch (outPartial_->Begin(name.FileName)) {
    case PartialStart::Ok:
      break;
    case PartialStart::Busy:
      Ui().ShowMessageDialog("Output file is being written by another program",
                             MsgIcon::Error, MsgButtons::Ok);
      Aborted = true;
      return false;
    case PartialStart::Failed:
      Ui().ShowMessageBox("Write to file error");
      return false;
  }
  WriterOptions options;
  options.FileName = outPartial_->PartialName();
  options.Width = OutInfo.Width;
  options.Height = OutInfo.Height;
  options.Bits = OutInfo.Bits;
  options.Channels = OutInfo.Channels;
  options.RowBytes = OutInfo.ScanLineSize;
  options.Codec = UseLzw ? Compression::Lzw : OutCodec;
  // Photographs shrink under Deflate and ZSTD only once neighbouring
  // samples are differenced; LZW stays as specified, without.
  options.Predictor = options.Codec == Compression::Deflate ||
                      options.Codec == Compression::Zstd;
  options.Level = CompressionLevel;
  options.Large = name.Large;
  options.Metadata = OutInfo.Metadata.get();
  outWriter_ = FindFormat(OutInfo.ImageType)->CreateWriter(options);
  if (!outWriter_) {
    outPartial_->Discard();
    Ui().ShowMessageBox("Write to file error");
    return false;
  }
  outPartial_->WriterOpened();
  return true;
}

}  // namespace trelvi
