#pragma once

#include <cstdint>

#include "resize/imaging/image_data.h"

namespace trelvi {

// Pixel blocks. A tile of the resize is hundreds of megabytes; getting that
// much fresh memory from the system for every tile costs more than the
// scaling itself on some machines, so large blocks are kept after release
// and handed out again. Null when no memory is left.
std::uint8_t* AcquirePixels(std::int64_t size, bool zeroFill);
void ReturnPixels(std::uint8_t* block, std::int64_t size);
// Gives the kept blocks back to the system.
void TrimPixelCache();

// AllocateImage without the zero fill, for callers that write every byte.
bool AllocateImageUnset(std::int32_t width, std::int32_t height,
                        TImageFormat format, TImageData& image);

}  // namespace trelvi
