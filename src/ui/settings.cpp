#include "ui/settings.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <random>
#include <system_error>

#include "engine/utils.h"

namespace trelvi {

namespace fs = std::filesystem;

namespace {

// A settings file is three short lines; anything much larger is not ours,
// and reading it whole at start-up could exhaust memory.
constexpr std::uintmax_t kMaxSettingsBytes = 1 << 20;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool StartsWith(const std::string& text, const char* prefix) {
  return text.rfind(prefix, 0) == 0;
}

int DigitValue(char c, int base) {
  int d = -1;
  if (c >= '0' && c <= '9') {
    d = c - '0';
  } else if (c >= 'a' && c <= 'f') {
    d = c - 'a' + 10;
  } else if (c >= 'A' && c <= 'F') {
    d = c - 'A' + 10;
  }
  return d < base ? d : -1;
}

// False when the file cannot be opened or read, or is too large to be a
// settings file.
bool ReadSmallFile(const std::string& fileName, std::string& bytes) {
  std::error_code ec;
  if (!fs::is_regular_file(fileName, ec)) return false;
  const std::uintmax_t size = fs::file_size(fileName, ec);
  if (ec || size > kMaxSettingsBytes) return false;
  std::ifstream in(fileName, std::ios::binary);
  if (!in) return false;
  bytes.assign(static_cast<std::size_t>(size), '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(size));
  // A file that shrank between the size query and the read is taken as far
  // as it goes; one that cannot be read at all gives the first-run values.
  if (in.bad()) return false;
  bytes.resize(static_cast<std::size_t>(in.gcount()));
  return true;
}

std::string DecodeUtf16(const std::string& bytes, std::size_t start,
                        bool bigEndian) {
  std::string text;
  text.reserve((bytes.size() - start) / 2);
  for (std::size_t i = start; i + 1 < bytes.size(); i += 2) {
    const auto b0 = static_cast<unsigned char>(bytes[i]);
    const auto b1 = static_cast<unsigned char>(bytes[i + 1]);
    const unsigned unit = bigEndian ? (b0 << 8) | b1 : (b1 << 8) | b0;
    text.push_back(unit < 0x80 ? static_cast<char>(unit) : '?');
  }
  return text;
}

}  // namespace

void TSetup::Create(const std::string& fileName) {
  Lines.clear();
  IniFileName = fileName;
}

SetupValues TSetup::Load() {
  Lines.clear();
  std::error_code ec;
  if (!fs::exists(IniFileName, ec)) return kFirstRunSetup;
  std::string bytes;
  if (!ReadSmallFile(IniFileName, bytes)) return kFirstRunSetup;
  Lines = DecodeSettingsLines(bytes);

  SetupValues values;
  for (const std::string& line : Lines) {
    const std::string upper = UpperAscii(line);
    const std::size_t eq = line.find('=');
    // Without "=" the value is empty, which reads as 0 and false.
    const std::string value =
        eq == std::string::npos ? std::string() : line.substr(eq + 1);
    if (StartsWith(upper, "WINDOWPOSX")) {
      values.WindowPosX = ReadIntValue(value);
    } else if (StartsWith(upper, "WINDOWPOSY")) {
      values.WindowPosY = ReadIntValue(value);
    } else if (StartsWith(upper, "CHECKFORUPDATES")) {
      values.CheckForUpdates = ReadBoolValue(value);
    } else if (StartsWith(upper, "SYNCOUTPUTS")) {
      values.SyncOutputs = ReadBoolValue(value);
    }
  }
  return values;
}

bool TSetup::Save(const SetupValues& values) {
  Lines.clear();
  Lines.push_back("WindowPosX=" + std::to_string(values.WindowPosX));
  Lines.push_back("WindowPosY=" + std::to_string(values.WindowPosY));
  Lines.push_back(std::string("CheckForUpdates=") +
                  (values.CheckForUpdates ? "True" : "False"));
  Lines.push_back(std::string("SyncOutputs=") +
                  (values.SyncOutputs ? "True" : "False"));

  // The user's configuration folder may not exist yet on a fresh account.
  std::error_code ec;
  const fs::path parent = fs::path(IniFileName).parent_path();
  if (!parent.empty()) fs::create_directories(parent, ec);

  std::ofstream out(IniFileName, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  for (const std::string& line : Lines) out << line << "\r\n";
  out.close();
  return !out.fail();
}

void TSetup::Free() { Lines.clear(); }

std::int32_t ReadIntValue(const std::string& value) {
  const std::size_t n = value.size();
  std::size_t i = 0;
  while (i < n && IsBlank(value[i])) ++i;
  bool negative = false;
  if (i < n && (value[i] == '+' || value[i] == '-')) {
    negative = value[i] == '-';
    ++i;
  }
  int base = 10;
  if (i < n && value[i] == '$') {
    base = 16;
    ++i;
  } else if (i + 1 < n && value[i] == '0' &&
             (value[i + 1] == 'x' || value[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i == n) return 0;

  // One past the largest magnitude, so that the minimum still fits.
  constexpr std::int64_t kLimit =
      static_cast<std::int64_t>(std::numeric_limits<std::int32_t>::max()) + 1;
  std::int64_t magnitude = 0;
  for (; i < n; ++i) {
    const int digit = DigitValue(value[i], base);
    if (digit < 0) return 0;
    magnitude = magnitude * base + digit;
    if (magnitude > kLimit) return 0;
  }
  if (!negative && magnitude == kLimit) return 0;
  return static_cast<std::int32_t>(negative ? -magnitude : magnitude);
}

bool ReadBoolValue(const std::string& value) {
  std::size_t first = 0;
  std::size_t last = value.size();
  while (first < last && IsBlank(value[first])) ++first;
  while (last > first && IsBlank(value[last - 1])) --last;
  return UpperAscii(value.substr(first, last - first)) == "TRUE";
}

std::vector<std::string> DecodeSettingsLines(const std::string& bytes) {
  std::string text;
  if (StartsWith(bytes, "\xEF\xBB\xBF")) {
    text = bytes.substr(3);
  } else if (StartsWith(bytes, "\xFF\xFE")) {
    text = DecodeUtf16(bytes, 2, false);
  } else if (StartsWith(bytes, "\xFE\xFF")) {
    text = DecodeUtf16(bytes, 2, true);
  } else {
    text = bytes;
  }

  std::vector<std::string> lines;
  std::string line;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r' || c == '\n') {
      lines.push_back(line);
      line.clear();
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      line.push_back(c);
    }
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

std::string SettingsFileBesideProgram(const std::string& programPath) {
  fs::path path(programPath);
  path.replace_extension(".ini");
  return path.string();
}

std::string ChooseSettingsFile(const std::string& programPath,
                               const std::string& userConfigDir) {
  const std::string beside = SettingsFileBesideProgram(programPath);
  if (userConfigDir.empty()) return beside;
  std::error_code ec;
  if (fs::exists(beside, ec)) return beside;
  fs::path folder = fs::path(beside).parent_path();
  if (folder.empty()) folder = ".";
  if (FolderIsWritable(folder.string())) return beside;
  return (fs::path(userConfigDir) / fs::path(beside).filename()).string();
}

bool FolderIsWritable(const std::string& folder) {
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) return false;
  std::random_device random;
  // Exclusive creation: never truncates a file that happens to carry the
  // probe's name.
  const fs::path probe =
      fs::path(folder) / (".trelvi-write-probe-" + std::to_string(random()));
  std::FILE* file = std::fopen(probe.string().c_str(), "wx");
  if (file == nullptr) return false;
  std::fclose(file);
  fs::remove(probe, ec);
  return true;
}

}  // namespace trelvi
