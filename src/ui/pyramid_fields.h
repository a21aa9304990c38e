#pragma once

#include <cstdint>
#include <string>

#include "operations/pyramid_op.h"

// The Split panel's web pyramid without its widgets: the fields' limits,
// the command line's as well, and the request the fields make.
namespace trelvi::rules {

// The tile side without its overlap, and the overlap on each side.
inline constexpr std::uint32_t kMinPyramidTileSize = 64;
inline constexpr std::uint32_t kMaxPyramidTileSize = 4096;
inline constexpr std::uint32_t kMaxPyramidOverlap = 16;

// The fields as they read: a field still being typed in holds what was
// typed, out of its limits perhaps.
struct PyramidFields {
  std::int64_t TileSize = PyramidRequest{}.TileSize;
  std::int64_t Overlap = PyramidRequest{}.Overlap;
  bool Png = false;
};

// The request for a pyramid of the fields' values, each brought into its
// limits, written into `folder`; the JPEG quality stays the default.
PyramidRequest PyramidRequestFrom(const PyramidFields& fields,
                                  const std::string& folder,
                                  const std::string& viewerScript);

// What applies while the Split panel is shown: the pyramid's fields or the
// split's tile fields, and the output format only for the split.
struct SplitPanelControls {
  bool TileFields = true;
  bool PyramidFields = false;
  bool OutputFormat = true;
};
SplitPanelControls SplitControls(bool splitShown, bool pyramid);

}  // namespace trelvi::rules
