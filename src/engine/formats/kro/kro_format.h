#pragma once

// KRO: a 20-byte big-endian header ("KRO", version 1, width, height, bits,
// channels) followed by uncompressed RGBA rows, 16-bit samples big-endian.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "engine/image_format.h"

namespace trelvi {
class UiServices;
}

namespace trelvi::kro {

inline constexpr std::size_t kHeaderSize = 20;

// Fills info from the header of info.FileName; ImageIsOk says whether the
// file can be read, and a refused file shows its reason.
void Describe(TFileInfo& info, UiServices& ui, bool askUser);

std::unique_ptr<ImageReader> OpenReader(const std::string& fileName,
                                        const TFileInfo& info);

std::unique_ptr<ImageWriter> CreateWriter(const WriterOptions& options);

OutputName NameOutput(const OutputRequest& request);

// The header of an output with these dimensions.
void MakeHeader(std::uint32_t width, std::uint32_t height, std::uint32_t bits,
                std::uint32_t channels, std::uint8_t (&header)[kHeaderSize]);

}  // namespace trelvi::kro
