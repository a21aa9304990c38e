#include "engine/trelvi.h"
#include "engine/utils.h"
#include "operations/naming.h"

namespace trelvi {

void TTrelvi::ReadRawInfo(bool askUser) {
  InInfo.ImageIsOk = false;
  InInfo.FileSize = FileSizeByName(InInfo.FileName);
  InInfo.ImageType = FileType::RAW;
  InInfo.ImageTypeDesc = "RAW";

  std::uint32_t width = 0, height = 0;
  GetSizeFromName(InInfo.FileName, width, height);

  // The depth at which the named size fills the file exactly. Compared by
  // division, so that no product of the name's numbers can wrap into a match.
  const std::uint64_t pixels = static_cast<std::uint64_t>(width) * height;
  const std::int64_t size = InInfo.FileSize;
  std::uint16_t bits = 0;
  if (size >= 0 && size % 3 == 0 &&
      pixels == static_cast<std::uint64_t>(size / 3))
    bits = 8;
  else if (size >= 0 && size % 6 == 0 &&
           pixels == static_cast<std::uint64_t>(size / 6))
    bits = 16;

  if (bits == 0 && askUser) {
    const RawDialogResult answer =
        Ui().AskRawDimensions(InInfo.FileSize, width, height);
    if (!answer.Ok) return;  // Cancel: refused without a message
    width = answer.Width;
    height = answer.Height;
    bits = (answer.Bits == 8 || answer.Bits == 16) ? answer.Bits : 0;
  }

  if (width == 0 || height == 0 || bits == 0) {
    Ui().ShowMessageBox("Invalid width, height or bits");
    return;
  }
  InInfo.Width = width;
  InInfo.Height = height;
  InInfo.Bits = static_cast<std::uint8_t>(bits);
  InInfo.Channels = 3;
  InInfo.BytesPerPixel = bits == 8 ? 3 : 6;
  InInfo.IsLsb = true;
  InInfo.ImageIsOk = true;
}

}  // namespace trelvi
