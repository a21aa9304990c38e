#include "engine/utils.h"
#include "operations/pyramid_op.h"

namespace trelvi {

std::string DefaultViewerScript() {
  const char* const candidates[] = {
#ifdef TRELVI_VIEWER_SCRIPT_BUILD
      TRELVI_VIEWER_SCRIPT_BUILD,
#endif
#ifdef TRELVI_VIEWER_SCRIPT_INSTALL
      TRELVI_VIEWER_SCRIPT_INSTALL,
#endif
      "/usr/share/trelvi/openseadragon.min.js"};
  for (const char* path : candidates)
    if (FileExists(path)) return path;
  return {};
}

}  // namespace trelvi
