// Converts an input made of arbitrary bytes (named .kro, .tif or .raw) into
// every output format, reading all its rows, and checks what a user relies
// on: nothing stays open, a failed conversion leaves no output, a finished
// one leaves a file, and every format holds the same pixels, which shows
// by converting each output back to RAW.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/trelvi.h"
#include "engine/utils.h"
#include "fuzz_common.h"

using namespace trelvi;
namespace fs = std::filesystem;

namespace {

// Inputs may describe anything up to 2^32 - 1 on a side, and a small
// compressed TIFF can really deliver rows of that size. Converting such an
// image four times would write gigabytes per run and crawl, so an input
// describing more than 4096 × 4096, or more than 2^20 pixels in all, is
// skipped after its description: the description itself is still fuzzed,
// and the engine's own size checks are exercised by the hostile-input tests.
constexpr std::uint32_t kMaxSide = 4096;
constexpr std::uint64_t kMaxPixels = 1u << 20;

struct Output {
  FileType Type;
  bool Lzw;
};
constexpr Output kOutputs[] = {{FileType::RAW, false},
                               {FileType::TIF, false},
                               {FileType::TIF, true},
                               {FileType::KRO4, false}};

std::vector<char> ReadAll(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Converts engine's described input into outDir; returns the output's name
// when the conversion finished, empty when it failed. Checks the invariants
// of every ending.
std::string Convert(TTrelvi& engine, fuzz::CountingUi& ui, const Output& out,
                    const std::string& outDir) {
  engine.Aborted = false;
  engine.OutInfo = TFileInfo{};
  engine.OutInfo.ImageType = out.Type;
  engine.UseLzw = out.Lzw;
  const int shownBefore = ui.Boxes + ui.Dialogs + ui.Questions;
  engine.CropImage(0, 0, static_cast<std::int32_t>(engine.InInfo.Width),
                   static_cast<std::int32_t>(engine.InInfo.Height), outDir, "");
  if (engine.InOpen || engine.OutOpen || engine.InReaderOpen() ||
      engine.OutWriterOpen())
    fuzz::Fail("a conversion left a file open");
  if (ui.Questions != 0) fuzz::Fail("an output was left behind earlier");
  const std::string name = engine.OutInfo.FileName;
  const bool exists = !name.empty() && FileExists(name);
  if (engine.Aborted) {
    if (exists) fuzz::Fail("a failed conversion left its output");
    return std::string();
  }
  if (!exists) {
    // Output creation may refuse with a message of its own; nothing else
    // may end without a file.
    if (ui.Boxes + ui.Dialogs + ui.Questions == shownBefore)
      fuzz::Fail("a conversion reported success without an output");
    return std::string();
  }
  return name;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  fuzz::ImageInput input;
  if (!fuzz::SplitImageInput(data, size, input)) return 0;
  const fs::path& scratch = fuzz::ScratchDir();
  const std::string file = (scratch / input.FileName).string();
  fuzz::WriteFile(file, input.Content, input.ContentSize);
  const std::string outDir = (scratch / "out").string() + "/";
  const std::string backDir = (scratch / "back").string() + "/";
  std::error_code ec;
  fs::create_directories(outDir, ec);
  fs::create_directories(backDir, ec);

  fuzz::CountingUi ui;
  {
    TTrelvi engine(ui);
    engine.InitEngine();
    engine.InInfo.FileName = file;
    engine.ReadInputInfo(false);
    const std::uint32_t w = engine.InInfo.Width, h = engine.InInfo.Height;
    if (engine.InInfo.ImageIsOk && w <= kMaxSide && h <= kMaxSide &&
        static_cast<std::uint64_t>(w) * h <= kMaxPixels) {
      std::vector<char> reference;
      bool haveReference = false;
      for (const Output& out : kOutputs) {
        const std::string written = Convert(engine, ui, out, outDir);
        if (written.empty()) continue;
        std::vector<char> raw;
        if (out.Type == FileType::RAW) {
          raw = ReadAll(written);
        } else {
          // The output read back as an input converts to the same RAW.
          TTrelvi back(ui);
          back.InInfo.FileName = written;
          back.ReadInputInfo(false);
          if (!back.InInfo.ImageIsOk || back.InInfo.Width != w ||
              back.InInfo.Height != h)
            fuzz::Fail("an output does not read back at its size");
          const std::string again =
              Convert(back, ui, Output{FileType::RAW, false}, backDir);
          if (again.empty()) fuzz::Fail("an output does not convert back");
          raw = ReadAll(again);
          fs::remove(again, ec);
        }
        fs::remove(written, ec);
        if (!haveReference) {
          reference = std::move(raw);
          haveReference = true;
        } else if (raw != reference) {
          fuzz::Fail("two output formats hold different pixels");
        }
      }
    }
    if (engine.InOpen || engine.OutOpen) fuzz::Fail("left open");
  }
  // Whatever a conversion left (nothing, if all went well) goes.
  for (const std::string& dir : {outDir, backDir})
    for (const auto& entry : fs::directory_iterator(dir, ec))
      fs::remove(entry.path(), ec);
  fs::remove(file, ec);
  return 0;
}
