#include "engine/formats/raw/raw_format.h"

#include "engine/formats/fixed_rows.h"
#include "engine/naming.h"
#include "engine/ui_services.h"
#include "engine/utils.h"

namespace trelvi::raw {

void Describe(TFileInfo& info, UiServices& ui, bool askUser) {
  info.ImageIsOk = false;
  info.Metadata.reset();
  info.FileSize = FileSizeByName(info.FileName);
  info.ImageType = FileType::RAW;
  info.ImageTypeDesc = "RAW";

  std::uint32_t width = 0, height = 0;
  GetSizeFromName(info.FileName, width, height);

  // The depth at which the named size fills the file exactly. Compared by
  // division, so that no product of the name's numbers can wrap into a match.
  const std::uint64_t pixels = static_cast<std::uint64_t>(width) * height;
  const std::int64_t size = info.FileSize;
  std::uint16_t bits = 0;
  if (size >= 0 && size % 3 == 0 &&
      pixels == static_cast<std::uint64_t>(size / 3))
    bits = 8;
  else if (size >= 0 && size % 6 == 0 &&
           pixels == static_cast<std::uint64_t>(size / 6))
    bits = 16;

  if (bits == 0 && askUser) {
    const RawDialogResult answer =
        ui.AskRawDimensions(info.FileSize, width, height);
    if (!answer.Ok) return;  // Cancel: refused without a message
    width = answer.Width;
    height = answer.Height;
    bits = (answer.Bits == 8 || answer.Bits == 16) ? answer.Bits : 0;
  }

  if (width == 0 || height == 0 || bits == 0) {
    ui.ShowMessageBox("Invalid width, height or bits");
    return;
  }
  info.Width = width;
  info.Height = height;
  info.Bits = static_cast<std::uint8_t>(bits);
  info.Channels = 3;
  info.BytesPerPixel = bits == 8 ? 3 : 6;
  info.IsLsb = true;
  info.ImageIsOk = true;
}

std::unique_ptr<ImageReader> OpenReader(const std::string& fileName,
                                        const TFileInfo& info) {
  return std::make_unique<FixedRowReader>(fileName, info.ScanLineSize, 0);
}

std::unique_ptr<ImageWriter> CreateWriter(const WriterOptions& options) {
  return FixedRowWriter::Create(options.FileName, options.RowBytes, nullptr, 0);
}

OutputName NameOutput(const OutputRequest& request) {
  return OutputName{request.BaseName + ".raw", false};
}

}  // namespace trelvi::raw
