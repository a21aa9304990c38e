#pragma once

// TIFF through libtiff: strips or tiles, interleaved or planar, any codec
// libtiff decodes on input; RGB rows of one strip each, uncompressed or LZW,
// classic or BigTIFF on output.

#include <cstdint>
#include <memory>
#include <string>

#include "engine/image_format.h"

namespace trelvi {
class UiServices;
}

namespace trelvi::tiff {

// Sizes above this are written as BigTIFF: a classic TIFF's offsets end at
// 4 GiB, and the directory and strip tables need room after the pixels.
inline constexpr std::uint64_t kBigTiffThreshold = 4000000000ull;

// Rows at least this wide are compressed on several threads.
inline constexpr std::uint32_t kParallelRowBytes = 16384;

// The levels Deflate and ZSTD outputs use unless told otherwise.
inline constexpr int kDeflateDefaultLevel = 6;
inline constexpr int kZstdDefaultLevel = 9;

// Silences libtiff's warnings and errors; the program reports its own.
void Initialize();

// Fills info from the first directory of info.FileName; a file libtiff
// cannot open is refused without a message.
void Describe(TFileInfo& info, UiServices& ui, bool askUser);

// Null when libtiff cannot open the file.
std::unique_ptr<ImageReader> OpenReader(const std::string& fileName,
                                        const TFileInfo& info);

// ".tif", or ".big.tif" for a BigTIFF: when forced, when the pixels pass
// kBigTiffThreshold, or when a codec could make them pass it (LZW grows
// samples without repeats by up to half again; the compressed size of any
// codec is unknown when the file is created).
OutputName NameOutput(const OutputRequest& request);

// Null when the file cannot be created; no empty file is left then.
std::unique_ptr<ImageWriter> CreateWriter(const WriterOptions& options);

}  // namespace trelvi::tiff
