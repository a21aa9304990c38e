#pragma once

// The web page beside a pyramid: it shows the tiles with OpenSeadragon,
// whose script file is copied next to it, so it works opened from the disk
// with no network. The pyramid's geometry is written into the page rather
// than read from the descriptor, because browsers refuse scripts' reads of
// files opened from the disk while they still load images from there.

#include <cstdint>
#include <string>
#include <string_view>

namespace trelvi::pyramid {

// The name the viewer's script has beside the page.
inline constexpr char kViewerScriptName[] = "openseadragon.min.js";

// The page for "<baseName>.dzi" and its "<baseName>_files" folder.
std::string ViewerPage(std::string_view baseName, std::string_view format,
                       std::uint32_t overlap, std::uint32_t tileSize,
                       std::uint64_t width, std::uint64_t height);

// Writes `page` as "<dir>/<baseName>.html" and copies `viewerScript` (the
// installed openseadragon.min.js) beside it. On failure sets `error` and
// leaves no page (nor the script, unless it was there before).
bool WriteViewerPage(const std::string& dir, const std::string& baseName,
                     const std::string& page, const std::string& viewerScript,
                     std::string& error);

}  // namespace trelvi::pyramid
