#include <cstring>

#include "engine/trelvi.h"
#include "engine/utils.h"

namespace trelvi {

namespace {
constexpr std::size_t kKroHeaderSize = 20;

std::uint32_t FieldAt(const std::uint8_t* header, std::size_t offset) {
  std::uint32_t raw;
  std::memcpy(&raw, header + offset, 4);
  // The file is big-endian; the machine is not.
  return SwapBytes32(raw);
}
}  // namespace

void TTrelvi::ReadKroInfo() {
  InInfo.ImageIsOk = false;
  InInfo.FileSize = FileSizeByName(InInfo.FileName);
  InInfo.ImageType = FileType::KRO4;
  InInfo.ImageTypeDesc = "KRO";

  InStream.Bind(InInfo.FileName);
  std::uint8_t header[kKroHeaderSize] = {};
  std::size_t got = 0;
  if (InStream.OpenRead()) got = InStream.Read(header, kKroHeaderSize);

  if (got < kKroHeaderSize || header[0] != 'K' || header[1] != 'R' ||
      header[2] != 'O' || header[3] != 1) {
    Ui().ShowMessageBox("KRO Header error");
  } else if (const std::uint32_t bits = FieldAt(header, 12);
             bits != 8 && bits != 16) {
    Ui().ShowMessageBox("The image must be 8 or 16 bits");
  } else if (InInfo.Bits = static_cast<std::uint8_t>(bits);
             FieldAt(header, 16) != 4) {
    Ui().ShowMessageBox("The number of color channels must be 4");
  } else {
    InInfo.Channels = 4;
    const std::uint32_t height = FieldAt(header, 8);
    const std::uint32_t width = FieldAt(header, 4);
    if (width == 0 || height == 0) {
      Ui().ShowMessageBox("Height or Width = 0");
    } else {
      InInfo.Width = width;
      InInfo.Height = height;
      InInfo.BytesPerPixel = bits == 8 ? 4 : 8;
      InInfo.IsLsb = false;
      InInfo.ImageIsOk = true;
    }
  }
  InStream.Close();
}

void TTrelvi::WriteKroHeader() {
  std::uint8_t header[kKroHeaderSize] = {'K', 'R', 'O', 1};
  const std::uint32_t fields[4] = {OutInfo.Width, OutInfo.Height, OutInfo.Bits,
                                   OutInfo.Channels};
  for (int i = 0; i < 4; ++i) {
    const std::uint32_t be = SwapBytes32(fields[i]);
    std::memcpy(header + 4 + 4 * i, &be, 4);
  }
  // A failed header write leaves the stream failed, so the first WriteLine
  // reports it.
  if (OutStream.Write(header, kKroHeaderSize) != kKroHeaderSize)
    OutStream.Fail();
}

}  // namespace trelvi
