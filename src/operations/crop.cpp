#include <string>

#include "engine/naming.h"
#include "engine/trelvi.h"
#include "engine/utils.h"
#include "operations/run_guard.h"

namespace trelvi {

namespace {

struct Rectangle {
  std::int32_t X, Y, W, H;
};

// Copies the rows of the rectangle, each read by its index: every format
// starts at the rectangle's top row, so nothing above it is read, however
// far down a huge input the rectangle lies.
void CopyRectangle(TTrelvi& e, const Rectangle& r) {
  ops::CountdownText saving("Saving lines... (");
  std::int32_t outRow = 0;
  for (std::int32_t i = r.Y; i < r.Y + r.H && !e.Aborted; ++i) {
    // A short row passes: only a row the file does not reach at all fails.
    if (e.ReadLine(static_cast<std::uint32_t>(i)) == 0)
      return ops::Fail(e, "Read file error");
    e.ConvertLine(e.InInfo, static_cast<std::uint32_t>(r.X), e.OutInfo, 0,
                  static_cast<std::uint32_t>(r.W));
    if (e.WriteLine(static_cast<std::uint32_t>(outRow)) !=
        static_cast<std::int32_t>(e.OutInfo.ScanLineSize))
      return ops::Fail(e, "Write to file error");
    if (i % 7 == 0) e.DoUpdateProgress(i);
    e.DoStatus(saving(static_cast<std::uint64_t>(r.H - outRow)));
    ++outRow;
  }
}

}  // namespace

void TTrelvi::CropImage(std::int32_t x, std::int32_t y, std::int32_t w,
                        std::int32_t h, const std::string& outDir,
                        const std::string& desc) {
  DoStatus("");
  if (!FileExists(InInfo.FileName) || !InInfo.ImageIsOk)
    return ops::Fail(*this, "File not found");
  ops::RunGuard run(*this);
  if (!run.OpenInput()) return ops::Fail(*this, "Error opening input file");

  OutInfo.Width = static_cast<std::uint32_t>(w);
  OutInfo.Height = static_cast<std::uint32_t>(h);
  OutInfo.Metadata = InInfo.Metadata;
  std::string name = outDir + GetBaseName(InInfo.FileName);
  if (OutInfo.ImageType == FileType::RAW) name += SizeSuffix(w, h);
  // A failed creation reported itself; declining to replace a file is no
  // failure of the crop.
  if (!run.CreateOutput(name)) return;

  // The bar runs from 0 to the rectangle's bottom row and starts at its top
  // row, where the copy begins.
  run.ShowProgress(y + h, desc);
  CopyRectangle(*this, {x, y, w, h});
  run.Finish();
}

}  // namespace trelvi
