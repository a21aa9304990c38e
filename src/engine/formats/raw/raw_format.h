#pragma once

// RAW: uncompressed RGB rows and nothing else, 16-bit samples
// little-endian. The file holds no dimensions: they come from the name
// ("_<w>X<h>") or from the user, and the depth from the file size.

#include <memory>
#include <string>

#include "engine/image_format.h"

namespace trelvi {
class UiServices;
}

namespace trelvi::raw {

// Fills info from the name and the size of info.FileName; when they do not
// agree and askUser is set, the user is asked for the dimensions.
void Describe(TFileInfo& info, UiServices& ui, bool askUser);

std::unique_ptr<ImageReader> OpenReader(const std::string& fileName,
                                        const TFileInfo& info);

std::unique_ptr<ImageWriter> CreateWriter(const WriterOptions& options);

OutputName NameOutput(const OutputRequest& request);

}  // namespace trelvi::raw
