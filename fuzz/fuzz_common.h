#pragma once

// Shared by the fuzz targets and the seed writer: the services double, the
// per-process scratch folder and the layout of an image fuzz input.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/ui_services.h"

namespace trelvi::fuzz {

// Stops the run with a report libFuzzer keeps, when the code did something
// that no input may make it do.
[[noreturn]] inline void Fail(const char* what) {
  std::fprintf(stderr, "fuzz invariant broken: %s\n", what);
  std::abort();
}

// Shows nothing and counts what would have been shown. Every question is
// answered in the negative; the RAW dimensions dialog is cancelled.
class CountingUi final : public UiServices {
 public:
  int Boxes = 0;
  int Dialogs = 0;
  int Questions = 0;
  int RawDialogs = 0;
  std::string Last;

  void ShowMessageBox(const std::string& text) override {
    ++Boxes;
    Last = text;
  }
  MsgResult ShowMessageDialog(const std::string& text, MsgIcon,
                              MsgButtons buttons) override {
    Last = text;
    if (buttons == MsgButtons::YesNo) {
      ++Questions;
      return MsgResult::No;
    }
    ++Dialogs;
    return MsgResult::Ok;
  }
  RawDialogResult AskRawDimensions(std::int64_t, std::uint32_t,
                                   std::uint32_t) override {
    ++RawDialogs;
    return {};
  }
  void ProcessEvents() override {}
};

// A folder of this process under the system's temporary folder, created on
// first use and removed with its contents when the process ends normally.
inline const std::filesystem::path& ScratchDir() {
  static const std::filesystem::path dir = [] {
    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base && *base ? base : "/tmp") + "/trelvi-fuzz-XXXXXX";
    if (!mkdtemp(pattern.data())) Fail("cannot create the scratch folder");
    std::filesystem::path p(pattern);
    std::atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(ScratchDir(), ec);
    });
    return p;
  }();
  return dir;
}

inline void WriteFile(const std::string& name, const std::uint8_t* data,
                      std::size_t size) {
  std::FILE* f = std::fopen(name.c_str(), "wb");
  if (!f) Fail("cannot write a scratch file");
  if (size > 0 && std::fwrite(data, 1, size, f) != size)
    Fail("cannot write a scratch file");
  std::fclose(f);
}

// An image fuzz input: byte 0 picks the extension (0 .kro, 1 .tif, 2 .raw);
// for .raw, byte 1 gives the length n (below 48) of the text that follows
// "in" in the file name, bytes 2 .. n+1 that text, so that the fuzzer can
// write size suffixes. The rest is the file's content.
enum class Kind { Kro = 0, Tif = 1, Raw = 2 };

struct ImageInput {
  std::string FileName;  // name only, without folder
  const std::uint8_t* Content = nullptr;
  std::size_t ContentSize = 0;
};

inline bool SplitImageInput(const std::uint8_t* data, std::size_t size,
                            ImageInput& input) {
  if (size < 1) return false;
  const auto kind = static_cast<Kind>(data[0] % 3);
  std::size_t at = 1;
  switch (kind) {
    case Kind::Kro:
      input.FileName = "in.kro";
      break;
    case Kind::Tif:
      input.FileName = "in.tif";
      break;
    case Kind::Raw: {
      if (size < 2) return false;
      const std::size_t n = data[1] % 48;
      if (size < 2 + n) return false;
      std::string text;
      for (std::size_t i = 0; i < n; ++i) {
        const char c = static_cast<char>(data[2 + i]);
        // Separators and NUL would leave the folder or end the name.
        text += (c == '/' || c == '\\' || c == '\0') ? '_' : c;
      }
      input.FileName = "in" + text + ".raw";
      at = 2 + n;
      break;
    }
  }
  input.Content = data + at;
  input.ContentSize = size - at;
  return true;
}

// The bytes of an image fuzz input for a file the engine wrote.
inline std::vector<std::uint8_t> MakeImageInput(
    Kind kind, const std::string& rawNameText,
    const std::vector<std::uint8_t>& content) {
  std::vector<std::uint8_t> bytes{static_cast<std::uint8_t>(kind)};
  if (kind == Kind::Raw) {
    bytes.push_back(static_cast<std::uint8_t>(rawNameText.size()));
    bytes.insert(bytes.end(), rawNameText.begin(), rawNameText.end());
  }
  bytes.insert(bytes.end(), content.begin(), content.end());
  return bytes;
}

}  // namespace trelvi::fuzz
