#include <tiffio.h>

#include "engine/tiff_access.h"
#include "engine/trelvi.h"
#include "engine/utils.h"

namespace trelvi {

void TTrelvi::ReadInputInfo(bool askUser) {
  InStream.Bind(InInfo.FileName);
  // The format follows the extension alone, never the content.
  const std::string name = FileNamePart(InInfo.FileName);
  const std::size_t dot = name.rfind('.');
  const std::string ext =
      dot == std::string::npos ? std::string() : UpperAscii(name.substr(dot));
  InInfo.ImageIsOk = false;

  if (ext == ".KRO")
    ReadKroInfo();
  else if (ext == ".TIF" || ext == ".TIFF")
    ReadTiffInfo();
  else if (ext == ".RAW" || ext == ".RGB")
    ReadRawInfo(askUser);
  // Anything else is no input: the rest of InInfo keeps its values.
}

void TTrelvi::ReadTiffInfo() {
  InInfo.ImageIsOk = false;
  InInfo.FileSize = FileSizeByName(InInfo.FileName);
  InInfo.ImageType = FileType::TIF;
  InInfo.ImageTypeDesc = "TIF";

  // A file libtiff cannot open is refused; libtiff's own complaint is
  // silenced and the program adds none.
  TIFF* tiff = OpenTiff(InInfo.FileName, "r");
  if (!tiff) return;

  std::uint32_t width = 0, height = 0;
  std::uint16_t bits = 0, channels = 0;
  if (TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width) != 1) width = 0;
  if (TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height) != 1) height = 0;
  InInfo.Width = width;
  InInfo.Height = height;
  if (TIFFGetField(tiff, TIFFTAG_BITSPERSAMPLE, &bits) != 1) bits = 0;
  if (TIFFGetField(tiff, TIFFTAG_SAMPLESPERPIXEL, &channels) != 1) channels = 0;

  // The whole tag values are checked, so that 264 bits or 259 samples are
  // not taken for 8 and 3 by the one-byte fields.
  if (width == 0 || height == 0) {
    Ui().ShowMessageBox("Height or Width = 0");
  } else if (InInfo.Bits = static_cast<std::uint8_t>(bits);
             bits != 8 && bits != 16) {
    Ui().ShowMessageBox("The image must be 8 or 16 bits");
  } else if (InInfo.Channels = static_cast<std::uint8_t>(channels);
             channels != 3 && channels != 4) {
    Ui().ShowMessageBox("The number of color channels must be 3 or 4");
  } else if (const TiffSamples samples = PrepareRgbSamples(tiff);
             samples == TiffSamples::NotUnsigned) {
    Ui().ShowMessageBox("The image samples must be unsigned integers");
  } else if (samples == TiffSamples::NotRgb) {
    Ui().ShowMessageBox("The image must be RGB");
  } else {
    InInfo.BytesPerPixel =
        static_cast<std::uint8_t>(bits == 16 ? channels * 2 : channels);
    InInfo.IsLsb = true;
    InInfo.ImageIsOk = true;
  }
  TIFFClose(tiff);
}

}  // namespace trelvi
