#include "ui/metadata_info.h"

#include "engine/image_metadata.h"

namespace trelvi::rules {

std::vector<std::string> MetadataInfoLines(const TFileInfo& info) {
  std::vector<std::string> lines;
  if (!info.Metadata) return lines;
  const ImageMetadata& m = *info.Metadata;
  if (!m.IccProfile.empty())
    lines.push_back("Colour profile: " + DescribeProfile(m.IccProfile));
  const std::string kinds = MetadataKinds(m);
  if (!kinds.empty()) lines.push_back("Metadata: " + kinds);
  return lines;
}

std::string MetadataSummary(const TFileInfo& info) {
  std::string summary;
  if (!info.Metadata) return summary;
  if (!info.Metadata->IccProfile.empty())
    summary = DescribeProfile(info.Metadata->IccProfile);
  const std::string kinds = MetadataKinds(*info.Metadata);
  if (!kinds.empty()) summary += (summary.empty() ? "" : " \u00B7 ") + kinds;
  return summary;
}

std::string MetadataWarning(const TFileInfo& info) {
  return info.Metadata ? DroppedWarning(*info.Metadata) : std::string();
}

}  // namespace trelvi::rules
