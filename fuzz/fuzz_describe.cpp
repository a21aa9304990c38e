// Describes an input made of arbitrary bytes, named .kro, .tif or .raw, as
// the merge does it: without dialogs. Whatever the bytes, the description
// ends without a crash, a leak or a sanitizer report, shows at most one
// message, and an accepted description is one the engine can work with.

#include <cstddef>
#include <cstdint>
#include <filesystem>

#include "engine/trelvi.h"
#include "fuzz_common.h"
#include "ui/window_rules.h"

using namespace trelvi;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  fuzz::ImageInput input;
  if (!fuzz::SplitImageInput(data, size, input)) return 0;
  const std::string file = (fuzz::ScratchDir() / input.FileName).string();
  fuzz::WriteFile(file, input.Content, input.ContentSize);

  fuzz::CountingUi ui;
  {
    TTrelvi engine(ui);
    engine.InitEngine();
    engine.InInfo.FileName = file;
    engine.ReadInputInfo(false);
    const TFileInfo& info = engine.InInfo;

    if (ui.RawDialogs != 0) fuzz::Fail("a dialog was shown without AskUser");
    if (ui.Boxes + ui.Dialogs + ui.Questions > 1)
      fuzz::Fail("more than one message for one description");
    if (info.ImageIsOk) {
      if (ui.Boxes != 0) fuzz::Fail("an accepted input showed a message");
      if (info.Width == 0 || info.Height == 0) fuzz::Fail("accepted 0 side");
      if (info.Bits != 8 && info.Bits != 16) fuzz::Fail("accepted depth");
      if (info.Channels != 3 && info.Channels != 4)
        fuzz::Fail("accepted channel count");
      if (info.BytesPerPixel != info.Channels * info.Bits / 8)
        fuzz::Fail("bytes per pixel disagree with depth and channels");
      if (info.ImageType == FileType::RAW &&
          static_cast<std::uint64_t>(info.FileSize) !=
              static_cast<std::uint64_t>(info.Width) * info.Height *
                  info.BytesPerPixel)
        fuzz::Fail("a RAW size that does not fill the file");
    }
    if (info.FileSize != static_cast<std::int64_t>(input.ContentSize))
      fuzz::Fail("file size");
    if (engine.InOpen || engine.InReaderOpen())
      fuzz::Fail("description left open");

    // The window's limits on what it accepts.
    TFileInfo limited = info;
    rules::CheckInputLimits(limited);
  }
  std::error_code ec;
  std::filesystem::remove(file, ec);
  return 0;
}
