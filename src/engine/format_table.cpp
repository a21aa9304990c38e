#include "engine/format_table.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "engine/formats/kro/kro_format.h"
#include "engine/formats/psd/psd_unit.h"
#include "engine/formats/raw/raw_format.h"
#include "engine/formats/tiff/tiff_format.h"
#include "engine/naming.h"
#include "engine/seq_file.h"
#include "engine/trelvi.h"
#include "engine/utils.h"

namespace trelvi {

namespace {

// Bytes a unit detected by content is shown of a file.
constexpr std::size_t kContentHeadBytes = 16;

const std::vector<FormatUnit>& Table() {
  static const std::vector<FormatUnit> table = {
      {FileType::KRO4,
       "KRO",
       {".KRO"},
       Detection::Extension,
       nullptr,
       kro::Describe,
       kro::OpenReader,
       OutputLayout{4, false},
       kro::NameOutput,
       kro::CreateWriter},
      {FileType::TIF,
       "TIF",
       {".TIF", ".TIFF"},
       Detection::Extension,
       tiff::Initialize,
       tiff::Describe,
       tiff::OpenReader,
       OutputLayout{3, true},
       tiff::NameOutput,
       tiff::CreateWriter},
      {FileType::RAW,
       "RAW",
       {".RAW", ".RGB"},
       Detection::Extension,
       nullptr,
       raw::Describe,
       raw::OpenReader,
       OutputLayout{3, true},
       raw::NameOutput,
       raw::CreateWriter},
      {FileType::PSD,
       "PSD",
       {".PSD", ".PSB"},
       Detection::Content,
       nullptr,
       psd::Describe,
       psd::OpenReader,
       OutputLayout{3, true},
       psd::NameOutput,
       psd::CreateWriter,
       psd::Recognizes},
  };
  return table;
}

constexpr OutputChoiceRow kOutputChoices[] = {
    {OutputChoice::Tif, "TIFF", "tif", FileType::TIF, Compression::None},
    {OutputChoice::TifLzw, "TIFF (LZW)", "tif-lzw", FileType::TIF,
     Compression::Lzw},
    {OutputChoice::Raw, "RAW", "raw", FileType::RAW, Compression::None},
    {OutputChoice::Kro, "KRO", "kro", FileType::KRO4, Compression::None},
    {OutputChoice::TifDeflate, "TIFF (Deflate)", "tif-deflate", FileType::TIF,
     Compression::Deflate, 1, 12, tiff::kDeflateDefaultLevel},
    {OutputChoice::TifZstd, "TIFF (ZSTD)", "tif-zstd", FileType::TIF,
     Compression::Zstd, 1, 19, tiff::kZstdDefaultLevel},
    {OutputChoice::Psd, "PSD", "psd", FileType::PSD, Compression::None},
};

}  // namespace

std::span<const FormatUnit> Formats() { return Table(); }

const FormatUnit* FindFormat(FileType type) {
  for (const FormatUnit& unit : Table())
    if (unit.Type == type) return &unit;
  return nullptr;
}

const FormatUnit* FormatForExtension(const std::string& ext) {
  for (const FormatUnit& unit : Table())
    if (std::find(unit.Extensions.begin(), unit.Extensions.end(), ext) !=
        unit.Extensions.end())
      return &unit;
  return nullptr;
}

const FormatUnit* DetectFormat(const std::string& fileName) {
  const FormatUnit* unit = FormatForExtension(UpperExtension(fileName));
  if (!unit || unit->DetectedBy != Detection::Content) return unit;
  // The extension only says which formats to ask; the first bytes decide.
  SeqFile file;
  file.Bind(fileName);
  std::uint8_t head[kContentHeadBytes] = {};
  std::size_t got = 0;
  if (file.OpenRead()) got = file.Read(head, sizeof head);
  file.Close();
  return unit->Recognizes && unit->Recognizes(head, got) ? unit : nullptr;
}

bool IsSupportedExtension(const std::string& ext) {
  return FormatForExtension(ext) != nullptr;
}

std::span<const OutputChoiceRow> OutputChoices() { return kOutputChoices; }

const OutputChoiceRow* FindOutputChoice(std::string_view cliName) {
  for (const OutputChoiceRow& row : kOutputChoices)
    if (cliName == row.CliName) return &row;
  return nullptr;
}

const OutputChoiceRow& OutputChoiceOf(OutputChoice choice) {
  for (const OutputChoiceRow& row : kOutputChoices)
    if (row.Choice == choice) return row;
  return kOutputChoices[0];
}

std::vector<std::string> OutputCliNames() {
  std::vector<std::string> names;
  for (const OutputChoiceRow& row : kOutputChoices)
    names.emplace_back(row.CliName);
  return names;
}

void SetOutputType(TTrelvi& engine, OutputChoice choice) {
  engine.OutInfo.ImageType = FileType::NV;
  engine.UseLzw = false;
  engine.OutCodec = Compression::None;
  for (const OutputChoiceRow& row : kOutputChoices) {
    if (row.Choice != choice) continue;
    engine.OutInfo.ImageType = row.Type;
    engine.UseLzw = row.Codec == Compression::Lzw;
    if (!engine.UseLzw) engine.OutCodec = row.Codec;
  }
}

std::string GetOutputFolder(const std::string& chosenFolder,
                            const std::string& source) {
  std::error_code ec;
  std::string folder;
  if (!chosenFolder.empty() && std::filesystem::is_directory(chosenFolder, ec))
    folder = chosenFolder;
  else
    folder = DirectoryPart(source);
  if (folder.empty()) folder = ".";
  const char last = folder.back();
  if (last != '/' && last != '\\')
    folder += static_cast<char>(std::filesystem::path::preferred_separator);
  return folder;
}

}  // namespace trelvi
