#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace trelvi {

// The values that survive from one run to the next.
struct SetupValues {
  std::int32_t WindowPosX = 0;
  std::int32_t WindowPosY = 0;
  bool CheckForUpdates = false;
  bool SyncOutputs = false;  // the "Sync outputs to disk" box
};

// What the window gets when there is no settings file yet: the first run.
inline constexpr SetupValues kFirstRunSetup{400, 100, true};

// The settings file: "key=value" lines, no sections, no comments. The window
// creates one at start-up, applies what Load returns (position, check box,
// and the update timer when the box is ticked) and hands its state to Save
// when it closes.
class TSetup {
 public:
  std::vector<std::string> Lines;
  std::string IniFileName;

  void Create(const std::string& fileName);
  // A missing or unreadable file gives kFirstRunSetup. In a readable file a
  // value that is absent or unparsable keeps the window's designed state:
  // position 0, box unticked.
  SetupValues Load();
  // Replaces the file with exactly four CRLF lines. False when the file
  // could not be written; the window has nobody to tell at closing, so it
  // may ignore the result.
  bool Save(const SetupValues& values);
  void Free();
};

// The signed integer of a position value: optional leading blanks, optional
// sign, then decimal digits or hexadecimal digits after "$" or "0x". Any
// other text (trailing blanks, empty, out of range) gives 0.
std::int32_t ReadIntValue(const std::string& value);
// True exactly when the value, blanks trimmed and upper-cased, is "TRUE".
bool ReadBoolValue(const std::string& value);

// The settings file's bytes as 8-bit text lines. A UTF-8 or UTF-16 byte-order
// mark is honoured (UTF-16 characters outside ASCII become '?': no key or
// value the program understands contains one); without a mark the bytes are
// taken as they are. Lines end at CR, LF or CR LF.
std::vector<std::string> DecodeSettingsLines(const std::string& bytes);

// The program's path with its extension replaced by ".ini".
std::string SettingsFileBesideProgram(const std::string& programPath);

// Where the settings file lives: beside the program when that folder already
// holds the file or is writable, otherwise the same file name in
// userConfigDir (an installed program in a system folder). An empty
// userConfigDir keeps the file beside the program.
std::string ChooseSettingsFile(const std::string& programPath,
                               const std::string& userConfigDir);

// Whether a file can be created in the folder (tried, not guessed from
// permission bits, so read-only mounts and ACLs count).
bool FolderIsWritable(const std::string& folder);

}  // namespace trelvi
