#include "ui/pyramid_fields.h"

#include <algorithm>

namespace trelvi::rules {

PyramidRequest PyramidRequestFrom(const PyramidFields& fields,
                                  const std::string& folder,
                                  const std::string& viewerScript) {
  PyramidRequest request;
  request.OutDir = folder;
  request.TileSize = static_cast<std::uint32_t>(std::clamp<std::int64_t>(
      fields.TileSize, kMinPyramidTileSize, kMaxPyramidTileSize));
  request.Overlap = static_cast<std::uint32_t>(
      std::clamp<std::int64_t>(fields.Overlap, 0, kMaxPyramidOverlap));
  request.Format =
      fields.Png ? pyramid::TileFormat::Png : pyramid::TileFormat::Jpeg;
  request.ViewerScript = viewerScript;
  return request;
}

SplitPanelControls SplitControls(bool splitShown, bool pyramid) {
  const bool on = splitShown && pyramid;
  // Outside the Split panel only the output format matters; the panel's
  // own fields keep the state they show when it comes back.
  SplitPanelControls controls;
  controls.TileFields = !pyramid;
  controls.PyramidFields = pyramid;
  controls.OutputFormat = !on;
  return controls;
}

}  // namespace trelvi::rules
