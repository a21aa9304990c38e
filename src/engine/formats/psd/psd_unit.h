#pragma once

// The large-document format as one of the program's formats: PSD and PSB
// files, told apart by their content, read and written through the codec of
// this folder.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/formats/psd/psd_format.h"
#include "engine/image_format.h"

namespace trelvi {
class UiServices;
}

namespace trelvi::psd {

// Whether a file starting with these bytes is a PSD or PSB.
bool Recognizes(const std::uint8_t* head, std::size_t size);

// Fills info from the header and sections of info.FileName; ImageIsOk says
// whether the composite can be read, and a refused file shows its reason.
// ImageTypeDesc is "PSD" or "PSB" as the file's version says.
void Describe(TFileInfo& info, UiServices& ui, bool askUser);

// Null when the file no longer opens as it was described.
std::unique_ptr<ImageReader> OpenReader(const std::string& fileName,
                                        const TFileInfo& info);

// ".psd" when both sides are at most 30000 pixels and the file stays below
// 2 GiB, else ".psb" (Large); forced to ".psb" when the caller needs the
// larger flavour.
OutputName NameOutput(const OutputRequest& request);

// A raw RGB composite of the options' sizes and depth, PSB when Large, with
// the options' metadata as resources. Null when it cannot be created.
std::unique_ptr<ImageWriter> CreateWriter(const WriterOptions& options);

// The metadata the resources hold: the profile, XMP, IPTC, EXIF (its TIFF
// structure read into entries) and the resolution. Blocks above
// kMaxMetadataBlockBytes and unreadable EXIF are named in Dropped.
ImageMetadata MetadataFromResources(const std::vector<PsdResource>& resources);

// The resources that hold the metadata, in the order an output writes them;
// no resolution resource when the metadata has none (the writer adds its
// 240 pixels per inch then).
std::vector<PsdResource> ResourcesFromMetadata(const ImageMetadata& metadata,
                                               std::uint32_t width,
                                               std::uint32_t height);

}  // namespace trelvi::psd
