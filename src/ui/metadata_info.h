#pragma once

// What the info box and `trelvi info` say of an input's metadata, and the
// warning an operation gives when some of it cannot be kept; shared by the
// window and the command line.

#include <string>
#include <vector>

#include "engine/file_info.h"

namespace trelvi::rules {

// "Colour profile: <description>" when the input has a profile and
// "Metadata: EXIF, GPS, XMP, IPTC" (the kinds it has), in that order; none
// when the input carries neither.
std::vector<std::string> MetadataInfoLines(const TFileInfo& info);

// The same facts in the few words the window's info box has room for:
// "<profile description> · EXIF, GPS, XMP, IPTC"; empty when none.
std::string MetadataSummary(const TFileInfo& info);

// The one line naming what the input has but its outputs will not get;
// empty when nothing was dropped.
std::string MetadataWarning(const TFileInfo& info);

}  // namespace trelvi::rules
