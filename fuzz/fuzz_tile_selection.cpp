// The merge's checks on a selection of tile names: the extension rules, the
// grid worked out from the names, and the count check against it. An
// accepted selection must describe a grid the merge can run on.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_common.h"
#include "ui/window_rules.h"

using namespace trelvi;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  if (size < 1) return 0;
  const bool dropped = (data[0] & 1) != 0;
  // Names are separated by newlines; at most a few hundred, as a selection
  // in the window would hold.
  std::vector<std::string> files;
  std::string current;
  for (std::size_t i = 1; i < size; ++i) {
    if (data[i] == '\n') {
      files.push_back(current);
      current.clear();
      if (files.size() >= 512) break;
    } else {
      current += static_cast<char>(data[i]);
    }
  }
  if (files.size() < 512 && size > 1) files.push_back(current);

  for (const std::string& f : files) {
    std::int32_t col = 0, row = 0;
    rules::ParseTilePosition(f, col, row);
    if (col < 0 || row < 0) fuzz::Fail("negative tile position");
  }

  const rules::TileSelection sel = rules::CheckTileSelection(files, dropped);
  if (sel.Accepted) {
    if (sel.Columns < 1 || sel.Rows < 1) fuzz::Fail("accepted an empty grid");
    if (static_cast<std::uint64_t>(sel.Columns) *
            static_cast<std::uint64_t>(sel.Rows) !=
        files.size())
      fuzz::Fail("accepted a grid that the count does not fill");
    const rules::MergeCheck check = rules::CheckMergeCount(
        files.size(), static_cast<std::uint32_t>(sel.Columns),
        static_cast<std::uint32_t>(sel.Rows));
    if (!check.Run) fuzz::Fail("the count check refuses an accepted grid");
    if (sel.Message != std::to_string(files.size()) + " files selected")
      fuzz::Fail("acceptance message");
  } else if (sel.Columns != 0 || sel.Rows != 0) {
    fuzz::Fail("a refused selection carries a grid");
  }
  return 0;
}
