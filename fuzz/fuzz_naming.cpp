// The file-name routines on arbitrary names: base name and extension, size
// and tile position from a name, the tile lookup of the merge, and the path
// parts they rest on. Besides not crashing, the results must be pieces of
// the name they came from.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/naming.h"
#include "engine/utils.h"
#include "fuzz_common.h"
#include "ui/window_rules.h"

using namespace trelvi;

namespace {

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

void CheckName(const std::string& path) {
  const std::string dir = DirectoryPart(path);
  const std::string name = FileNamePart(path);
  if (dir + name != path) fuzz::Fail("path parts do not make the path");

  std::string base, ext;
  SplitFileName(path, base, ext);
  if (!StartsWith(name, base)) fuzz::Fail("base is not where the name starts");
  if (GetBaseName(path) != base) fuzz::Fail("GetBaseName differs");
  if (!ext.empty()) {
    // "big.tif" comes from a name ending in ".big.tif", "big" in any case;
    // an extension proper never holds a dot.
    const std::string plain = StartsWith(ext, "big.") ? ext.substr(4) : ext;
    if (name.size() < plain.size() + 1 ||
        name.compare(name.size() - plain.size(), plain.size(), plain) != 0)
      fuzz::Fail("extension is not where the name ends");
  }

  std::uint32_t w = 1, h = 1, col = 1, row = 1;
  GetSizeFromName(path, w, h);
  GetTilePosFromName(path, col, row);
  // A size read from a name is written in that name.
  if (w != 0 && name.find(std::to_string(w)) == std::string::npos)
    fuzz::Fail("width not in the name");
  if (h != 0 && name.find(std::to_string(h)) == std::string::npos)
    fuzz::Fail("height not in the name");
  if (col != 0 && name.find(std::to_string(col)) == std::string::npos)
    fuzz::Fail("column not in the name");
  if (row != 0 && name.find(std::to_string(row)) == std::string::npos)
    fuzz::Fail("row not in the name");

  std::int32_t c = -1, r = -1;
  rules::ParseTilePosition(name, c, r);
  if (c < -1 || r < -1) fuzz::Fail("negative tile position");
  rules::UpperExtension(path);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  // Names are separated by NUL bytes; the first name also serves as the
  // first file of a merge set.
  std::vector<std::string> names(1);
  for (std::size_t i = 0; i < size && names.size() <= 64; ++i) {
    if (data[i] == 0)
      names.emplace_back();
    else
      names.back() += static_cast<char>(data[i]);
  }
  for (const std::string& n : names) CheckName(n);

  std::string base, ext;
  SplitFileName(names[0], base, ext);
  const std::string upperExt = UpperAscii(ext);
  for (const std::string& n : names) {
    std::uint32_t col = 0, row = 0;
    GetTilePosFromName(n, col, row);
    const std::string found = FindTileFile(names, ext, col, row);
    if (!found.empty()) {
      const std::string key = "_X" + std::to_string(col) + "Y" +
                              std::to_string(row) + "." + upperExt;
      if (UpperAscii(found).find(key) == std::string::npos)
        fuzz::Fail("the lookup found a file without its key");
    }
  }
  return 0;
}
