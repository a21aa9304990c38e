#pragma once

// The one list of the formats the program reads and writes. Detection, the
// supported extensions, the output choices of the window and the command
// line, the output names and the reader and writer of a file all come from
// here; a format is its unit (src/engine/formats/<name>/) and its row.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/file_info.h"
#include "engine/image_format.h"

namespace trelvi {

class TTrelvi;
class UiServices;

// How a file is recognised as being of a format.
enum class Detection {
  // By its extension alone, never its content: a file with a format's
  // extension is that format or no image at all.
  Extension,
  // By its first bytes, among the files with one of the format's
  // extensions: the unit's Recognizes says which flavour it is or that it
  // is no image at all, whatever the extension says of the flavour.
  Content,
};

struct FormatUnit {
  FileType Type;
  // The format's name in a descriptor's ImageTypeDesc.
  const char* Description;
  // Upper-cased, with their dot.
  std::vector<std::string> Extensions;
  Detection DetectedBy;
  // Called once by every engine's InitEngine; null when nothing to do.
  void (*Initialize)();

  // Reading: fills the descriptor of info.FileName (ImageIsOk says whether it
  // can be read; a refused file shows its reason through ui), then opens it
  // for its rows. OpenReader is given the descriptor with its row size set;
  // null when the file cannot be opened.
  void (*Describe)(TFileInfo& info, UiServices& ui, bool askUser);
  std::unique_ptr<ImageReader> (*OpenReader)(const std::string& fileName,
                                             const TFileInfo& info);

  // Writing: the row layout of every output, the output's name (and its
  // larger flavour), and the writer; null when the file cannot be created.
  OutputLayout Layout;
  OutputName (*NameOutput)(const OutputRequest& request);
  std::unique_ptr<ImageWriter> (*CreateWriter)(const WriterOptions& options);

  // Detection::Content: whether a file starting with these bytes is of the
  // format.
  bool (*Recognizes)(const std::uint8_t* head, std::size_t size) = nullptr;
};

// Every format, in the order detection tries them.
std::span<const FormatUnit> Formats();
// The unit of a file type; null for FileType::NV.
const FormatUnit* FindFormat(FileType type);
// The unit whose extensions hold ext (upper-cased, with dot); null when
// none does.
const FormatUnit* FormatForExtension(const std::string& ext);
// The unit a file is read with, as Detection says; null when the file is no
// image the program reads.
const FormatUnit* DetectFormat(const std::string& fileName);

// True for an extension (upper-cased, with dot) some format reads.
bool IsSupportedExtension(const std::string& ext);

// One of the output formats the user chooses from.
enum class OutputChoice { Tif, TifLzw, Raw, Kro, TifDeflate, TifZstd, Psd };

struct OutputChoiceRow {
  OutputChoice Choice;
  const char* Caption;  // the window's button
  const char* CliName;  // the command line's -f value
  FileType Type;
  Compression Codec;
  // The levels the codec takes (--level) and the one it uses unless told;
  // all 0 when the choice has no level.
  int MinLevel = 0;
  int MaxLevel = 0;
  int DefaultLevel = 0;
};

// The output choices in the window's order, the first being the default.
std::span<const OutputChoiceRow> OutputChoices();
// Null when no choice has that -f name (names are compared exactly).
const OutputChoiceRow* FindOutputChoice(std::string_view cliName);
const OutputChoiceRow& OutputChoiceOf(OutputChoice choice);
// The -f names, in the window's order.
std::vector<std::string> OutputCliNames();

// Sets the engine's output type and compression for a choice; the level
// the engine holds is left as it is (0 gives each codec its default).
void SetOutputType(TTrelvi& engine, OutputChoice choice);

// The chosen output folder when it names an existing directory, else the
// folder of source; always with a trailing separator.
std::string GetOutputFolder(const std::string& chosenFolder,
                            const std::string& source);

// The window rules held these names first; the front ends and their tests
// still use them there.
namespace rules {
using trelvi::GetOutputFolder;
using trelvi::OutputChoice;
using trelvi::SetOutputType;
}  // namespace rules

}  // namespace trelvi
