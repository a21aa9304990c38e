#pragma once

// The metadata of a TIFF: read from an input's first directory and its EXIF
// and GPS directories, written into an output being created.

#include <cstdint>

#include "engine/image_metadata.h"

typedef struct tiff TIFF;

namespace trelvi {

// Reads the metadata of the open input's current directory: the colour
// profile (34675), XMP (700), IPTC-NAA (33723), Orientation, the six
// strings, the resolution in inches or centimetres (a file without a unit
// gives inches, as TIFF has it) and the EXIF and GPS directories. Reads the
// directory entries itself through the handle's own I/O, so values keep
// their exact bytes; every size is checked against the file before anything
// is allocated. A block above kMaxMetadataBlockBytes, or a directory that
// does not parse, is left out and named in Dropped. Leaves libtiff's
// directory and the file position as they were.
ImageMetadata ReadTiffMetadata(TIFF* tiff);

// Sets the metadata's tags on an output opened for writing, before any of
// its pixels are written: the blocks byte for byte, the strings,
// Orientation, the resolution when present (else the caller's own stays),
// and the EXIF and GPS directories written at the current end of the file,
// in its byte order and offset size, with EXIF's pixel dimensions set to
// width × height. Empty metadata sets nothing. False when a directory could
// not be written; the output is then not to be completed.
bool WriteTiffMetadata(TIFF* tiff, const ImageMetadata& metadata,
                       std::uint32_t width, std::uint32_t height);

}  // namespace trelvi
