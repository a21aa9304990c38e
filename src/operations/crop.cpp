#include <cstdio>
#include <string>

#include "engine/trelvi.h"
#include "engine/utils.h"
#include "engine/naming.h"

namespace trelvi {

void TTrelvi::CropImage(std::int32_t x, std::int32_t y, std::int32_t w,
                        std::int32_t h, const std::string& outDir,
                        const std::string& desc) {
  DoStatus("");
  if (!FileExists(InInfo.FileName) || !InInfo.ImageIsOk) {
    DoError("File not found");
    Aborted = true;
    return;
  }
  if (!OpenInFile(InInfo.FileName)) {
    DoError("Error opening input file");
    Aborted = true;
    CloseInFile();
    return;
  }

  OutInfo.Width = static_cast<std::uint32_t>(w);
  OutInfo.Height = static_cast<std::uint32_t>(h);
  std::string name = outDir + GetBaseName(InInfo.FileName);
  if (OutInfo.ImageType == FileType::RAW)
    name += "_" + std::to_string(w) + "X" + std::to_string(h);
  if (!CreateOutFile(name)) {
    CloseOutFile();
    CloseInFile();
    return;
  }

  DoShowProgress(y + h, desc);

  // RAW and KRO are read strictly in sequence: the rows above the rectangle
  // must be read and dropped. A TIFF row is read by its index instead.
  if (y > 0 && InInfo.ImageType != FileType::TIF) {
    for (std::int32_t i = 0; i < y && !Aborted; ++i) {
      const std::int32_t got = ReadLine(static_cast<std::uint32_t>(i));
      if (i % 50 == 0) DoUpdateProgress(i);
      DoStatus("Skipping lines... (" + std::to_string(y - i) + ")");
      if (got == 0) {
        DoError("Read file error");
        Aborted = true;
        break;
      }
    }
  }

  std::int32_t outRow = 0;
  for (std::int32_t i = y; i < y + h && !Aborted; ++i) {
    if (ReadLine(static_cast<std::uint32_t>(i)) == 0) {
      DoError("Read file error");
      Aborted = true;
      break;
    }
    ConvertLine(InInfo, static_cast<std::uint32_t>(x), OutInfo, 0,
                static_cast<std::uint32_t>(w));
    if (WriteLine(static_cast<std::uint32_t>(outRow)) !=
        static_cast<std::int32_t>(OutInfo.ScanLineSize)) {
      DoError("Write to file error");
      Aborted = true;
      break;
    }
    if (i % 7 == 0) DoUpdateProgress(i);
    DoStatus("Saving lines... (" + std::to_string(h - outRow) + ")");
    ++outRow;
  }

  DoHideProgress();
  // The last buffered rows and the TIFF directory reach the disk only now; a
  // file that cannot be completed is as broken as a failed row.
  if (!CloseOutFile() && !Aborted) {
    DoError("Write to file error");
    Aborted = true;
  }
  if (Aborted) std::remove(OutInfo.FileName.c_str());
  CloseInFile();
}

}  // namespace trelvi
