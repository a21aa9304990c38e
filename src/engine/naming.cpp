#include "engine/naming.h"

#include "engine/utils.h"

namespace trelvi {

namespace {

// A suffix is looked for within this many characters of its "_".
constexpr std::size_t kSuffixWindow = 100;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The text as an unsigned decimal number; 0 when it is empty, holds anything
// but digits or does not fit 32 bits.
std::uint32_t NumberOrZero(const std::string& text) {
  if (text.empty()) return 0;
  std::uint64_t value = 0;
  for (char c : text) {
    if (!IsDigit(c)) return 0;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
    if (value > UINT32_MAX) return 0;
  }
  return static_cast<std::uint32_t>(value);
}

// Cuts name at the right-most "_" where a suffix may start (startsAt says
// so for a position), when the suffix holds `letter` followed by a digit
// within its window. Only that right-most candidate is tried, and the scan
// starts at the third-last character.
template <typename StartsAt>
void CutSuffix(std::string& name, StartsAt startsAt, char letter) {
  if (name.size() < 3) return;
  for (std::size_t p = name.size() - 2; p-- > 0;) {
    if (name[p] != '_' || !startsAt(p)) continue;
    const std::string window = UpperAscii(name.substr(p, kSuffixWindow));
    const std::size_t at = window.find(letter);
    if (at != std::string::npos && at + 1 < window.size() &&
        IsDigit(window[at + 1]))
      name.erase(p);
    return;
  }
}

// 1-based position of the first of the characters in text, 0 when none.
std::size_t PosOf(const std::string& text, const char* chars) {
  const std::size_t at = text.find_first_of(chars);
  return at == std::string::npos ? 0 : at + 1;
}

}  // namespace

void SplitFileName(const std::string& fileName, std::string& baseName,
                   std::string& ext) {
  std::string name = FileNamePart(fileName);
  ext.clear();
  if (const std::size_t dot = name.rfind('.'); dot != std::string::npos) {
    ext = name.substr(dot + 1);
    name.erase(dot);
  }
  if (name.size() >= 4 && UpperAscii(name.substr(name.size() - 4)) == ".BIG") {
    name.erase(name.size() - 4);
    ext = "big." + ext;
  }
  // Position suffix "_x<col>y<row>" first, then size suffix "_<w>X<h>".
  const auto positionAt = [&](std::size_t p) {
    return (name[p + 1] == 'X' || name[p + 1] == 'x') && IsDigit(name[p + 2]);
  };
  const auto sizeAt = [&](std::size_t p) { return IsDigit(name[p + 1]); };
  CutSuffix(name, positionAt, 'Y');
  CutSuffix(name, sizeAt, 'X');
  baseName = name;
}

std::string UpperExtension(const std::string& fileName) {
  const std::string name = FileNamePart(fileName);
  const std::size_t dot = name.rfind('.');
  if (dot == std::string::npos) return std::string();
  return UpperAscii(name.substr(dot));
}

std::string SizeSuffix(std::uint64_t width, std::uint64_t height) {
  return "_" + std::to_string(width) + "X" + std::to_string(height);
}

std::string TilePositionSuffix(std::uint32_t col, std::uint32_t row) {
  return "_x" + std::to_string(col) + "y" + std::to_string(row);
}

std::string GetBaseName(const std::string& fileName) {
  std::string baseName, ext;
  SplitFileName(fileName, baseName, ext);
  return baseName;
}

void GetSizeFromName(const std::string& fileName, std::uint32_t& width,
                     std::uint32_t& height) {
  width = 0;
  height = 0;
  const std::string base = GetBaseName(fileName);
  if (base.empty()) return;
  const std::string name = FileNamePart(fileName);
  if (name.size() <= base.size() + 1) return;
  std::string s = name.substr(base.size() + 1);

  std::size_t p = PosOf(s, "Xx");
  if (p < 2) return;
  width = NumberOrZero(s.substr(0, p - 1));
  s.erase(0, p);

  p = PosOf(s, "_");
  if (p < 2) p = PosOf(s, ".");
  if (p == 0) return;
  height = NumberOrZero(s.substr(0, p - 1));
}

void GetTilePosFromName(const std::string& fileName, std::uint32_t& col,
                        std::uint32_t& row) {
  std::string s = FileNamePart(fileName);
  if (const std::size_t us = s.rfind('_'); us != std::string::npos)
    s.erase(0, us + 1);
  col = 0;
  row = 0;
  if (s.empty() || (s[0] != 'X' && s[0] != 'x')) return;

  std::size_t p = PosOf(s, "Yy");
  if (p == 0) return;
  col = NumberOrZero(s.substr(1, p - 2));
  s.erase(0, p);

  p = PosOf(s, ".");
  if (p == 0) return;
  row = NumberOrZero(s.substr(0, p - 1));
}

std::string FindTileFile(const std::vector<std::string>& files,
                         const std::string& ext, std::uint32_t col,
                         std::uint32_t row) {
  // The "Y" after the column and the "." after the row keep column 1 from
  // matching column 11 and row 2 from matching row 12.
  const std::string key = "_X" + std::to_string(col) + "Y" +
                          std::to_string(row) + "." + UpperAscii(ext);
  for (const std::string& file : files) {
    if (UpperAscii(file).find(key) != std::string::npos) return file;
  }
  return std::string();
}

std::uint32_t TileCount(std::uint32_t imageSide, std::uint32_t tileSide) {
  if (tileSide == 0) return 0;
  return imageSide / tileSide + (imageSide % tileSide > 0 ? 1 : 0);
}

}  // namespace trelvi
