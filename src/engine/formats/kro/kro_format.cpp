#include "engine/formats/kro/kro_format.h"

#include <cstring>

#include "engine/formats/fixed_rows.h"
#include "engine/seq_file.h"
#include "engine/trelvi.h"
#include "engine/ui_services.h"
#include "engine/utils.h"

namespace trelvi::kro {

namespace {
std::uint32_t FieldAt(const std::uint8_t* header, std::size_t offset) {
  std::uint32_t raw;
  std::memcpy(&raw, header + offset, 4);
  // The file is big-endian; the machine is not.
  return SwapBytes32(raw);
}
}  // namespace

void Describe(TFileInfo& info, UiServices& ui, bool) {
  info.ImageIsOk = false;
  info.Metadata.reset();
  info.FileSize = FileSizeByName(info.FileName);
  info.ImageType = FileType::KRO4;
  info.ImageTypeDesc = "KRO";

  SeqFile file;
  file.Bind(info.FileName);
  std::uint8_t header[kHeaderSize] = {};
  std::size_t got = 0;
  if (file.OpenRead()) got = file.Read(header, kHeaderSize);

  if (got < kHeaderSize || header[0] != 'K' || header[1] != 'R' ||
      header[2] != 'O' || header[3] != 1) {
    ui.ShowMessageBox("KRO Header error");
  } else if (const std::uint32_t bits = FieldAt(header, 12);
             bits != 8 && bits != 16) {
    ui.ShowMessageBox("The image must be 8 or 16 bits");
  } else if (info.Bits = static_cast<std::uint8_t>(bits);
             FieldAt(header, 16) != 4) {
    ui.ShowMessageBox("The number of color channels must be 4");
  } else {
    info.Channels = 4;
    const std::uint32_t height = FieldAt(header, 8);
    const std::uint32_t width = FieldAt(header, 4);
    if (width == 0 || height == 0) {
      ui.ShowMessageBox("Height or Width = 0");
    } else {
      info.Width = width;
      info.Height = height;
      info.BytesPerPixel = bits == 8 ? 4 : 8;
      info.IsLsb = false;
      info.ImageIsOk = true;
    }
  }
  file.Close();
}

std::unique_ptr<ImageReader> OpenReader(const std::string& fileName,
                                        const TFileInfo& info) {
  return std::make_unique<FixedRowReader>(fileName, info.ScanLineSize,
                                          kHeaderSize);
}

void MakeHeader(std::uint32_t width, std::uint32_t height, std::uint32_t bits,
                std::uint32_t channels, std::uint8_t (&header)[kHeaderSize]) {
  const std::uint8_t magic[4] = {'K', 'R', 'O', 1};
  std::memcpy(header, magic, 4);
  const std::uint32_t fields[4] = {width, height, bits, channels};
  for (int i = 0; i < 4; ++i) {
    const std::uint32_t be = SwapBytes32(fields[i]);
    std::memcpy(header + 4 + 4 * i, &be, 4);
  }
}

std::unique_ptr<ImageWriter> CreateWriter(const WriterOptions& options) {
  std::uint8_t header[kHeaderSize];
  MakeHeader(options.Width, options.Height, options.Bits, options.Channels,
             header);
  return FixedRowWriter::Create(options.FileName, options.RowBytes, header,
                                kHeaderSize);
}

OutputName NameOutput(const OutputRequest& request) {
  return OutputName{request.BaseName + ".kro", false};
}

}  // namespace trelvi::kro
