// The settings file's lines from arbitrary bytes: decoding (byte-order marks,
// line ends), the value readers, and the whole load from a file. The load
// must give what the readers give for the last line of each key.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

#include "engine/utils.h"
#include "fuzz_common.h"
#include "ui/settings.h"

using namespace trelvi;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const auto lines = DecodeSettingsLines(bytes);

  SetupValues expected;
  for (const std::string& line : lines) {
    const std::size_t eq = line.find('=');
    const std::string value =
        eq == std::string::npos ? std::string() : line.substr(eq + 1);
    const std::int32_t number = ReadIntValue(value);
    ReadBoolValue(value);
    // A number the reader gives back reads the same once written out.
    if (ReadIntValue(std::to_string(number)) != number)
      fuzz::Fail("a number does not read back");
    const std::string upper = UpperAscii(line);
    if (upper.rfind("WINDOWPOSX", 0) == 0)
      expected.WindowPosX = number;
    else if (upper.rfind("WINDOWPOSY", 0) == 0)
      expected.WindowPosY = number;
    else if (upper.rfind("CHECKFORUPDATES", 0) == 0)
      expected.CheckForUpdates = ReadBoolValue(value);
  }

  const std::string file = (fuzz::ScratchDir() / "trelvi.ini").string();
  fuzz::WriteFile(file, data, size);
  TSetup setup;
  setup.Create(file);
  const SetupValues loaded = setup.Load();
  if (setup.Lines != lines) fuzz::Fail("the load decodes other lines");
  if (loaded.WindowPosX != expected.WindowPosX ||
      loaded.WindowPosY != expected.WindowPosY ||
      loaded.CheckForUpdates != expected.CheckForUpdates)
    fuzz::Fail("the load reads other values");
  setup.Free();
  std::error_code ec;
  std::filesystem::remove(file, ec);
  return 0;
}
