#pragma once

// Publishing an image as a Deep Zoom pyramid: "<base>.dzi", its
// "<base>_files" tiles and a page that shows them.

#include <cstdint>
#include <string>

#include "engine/trelvi.h"
#include "operations/pyramid/tile_encoder.h"

namespace trelvi {

struct PyramidRequest {
  // The folder the pyramid goes into; empty: the input's folder.
  std::string OutDir;
  std::uint32_t TileSize = 254;
  std::uint32_t Overlap = 1;
  pyramid::TileFormat Format = pyramid::TileFormat::Jpeg;
  int Quality = 90;
  // The installed openseadragon.min.js copied beside the page; when it is
  // missing the pyramid is still written, without the page.
  std::string ViewerScript;
  std::string Desc;      // the progress box's title
  unsigned Threads = 0;  // encoding threads; 0: one per core
};

// Reads the engine's input once, row by row, and writes the pyramid. The
// tiles are written under "<base>_files.partial" and renamed when all are
// complete, and the descriptor is written last, so a viewer never sees a
// half pyramid; an existing pyramid is replaced only by a complete one. On
// abort or failure nothing the run wrote stays. True when the pyramid was
// written (the page may still have failed: that is reported as a warning).
bool PyramidImage(TTrelvi& engine, const PyramidRequest& request);

// The descriptor a run for `input` into `outDir` writes (empty outDir: the
// input's folder); the tiles' folder is beside it.
std::string PyramidDescriptorFile(const std::string& outDir,
                                  const std::string& input);

// The viewer's script for PyramidRequest::ViewerScript: the build tree's
// copy (from the setup script) when the program runs from there, else the
// installed one; empty when neither is there.
std::string DefaultViewerScript();

}  // namespace trelvi
