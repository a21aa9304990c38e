#pragma once

// What a photograph carries besides its pixels, held apart from any file
// format: read once when an input is opened, carried through an operation
// and written into each output that has room for it.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace trelvi {

// Field types of a TIFF directory entry (TIFF 6 and BigTIFF).
enum TiffFieldType : std::uint16_t {
  kTiffByte = 1,
  kTiffAscii = 2,
  kTiffShort = 3,
  kTiffLong = 4,
  kTiffRational = 5,
  kTiffSByte = 6,
  kTiffUndefined = 7,
  kTiffSShort = 8,
  kTiffSLong = 9,
  kTiffSRational = 10,
  kTiffFloat = 11,
  kTiffDouble = 12,
  kTiffIfd = 13,
  kTiffLong8 = 16,
  kTiffSLong8 = 17,
  kTiffIfd8 = 18,
};

// Bytes of one value of a field type; 0 for a type no reader knows.
std::uint32_t TiffTypeSize(std::uint16_t type);

// One entry of an EXIF or GPS directory, as a TIFF directory holds it.
struct TiffEntry {
  std::uint16_t Tag = 0;
  std::uint16_t Type = 0;
  std::uint64_t Count = 0;
  // Count values of Type, exactly Count × TiffTypeSize(Type) bytes, each
  // number least significant byte first whatever the file's byte order (a
  // rational as two such 32-bit numbers). Bytes of the one-byte types are
  // as the file had them.
  std::vector<std::uint8_t> Value;
};

enum class ResolutionUnit : std::uint8_t { Inch, Centimetre };

struct ImageResolution {
  bool Present = false;
  double X = 0;  // pixels per Unit
  double Y = 0;
  ResolutionUnit Unit = ResolutionUnit::Inch;
};

// No block of metadata above this is copied: a profile, packet or directory
// that large is a damaged or hostile file, never a photograph's.
inline constexpr std::uint64_t kMaxMetadataBlockBytes = std::uint64_t{16} << 20;

// EXIF tags that describe the pixels rather than the scene.
inline constexpr std::uint16_t kExifPixelXDimension = 40962;
inline constexpr std::uint16_t kExifPixelYDimension = 40963;

struct ImageMetadata {
  std::vector<std::uint8_t> IccProfile;  // byte for byte
  std::vector<std::uint8_t> Xmp;         // the XML packet, UTF-8
  std::vector<std::uint8_t> Iptc;        // IPTC-NAA records
  // The EXIF and GPS directories, sorted by tag without repeats. Pointers to
  // further directories are never kept: their offsets mean nothing in
  // another file.
  std::vector<TiffEntry> Exif;
  std::vector<TiffEntry> Gps;
  std::uint16_t Orientation = 0;  // 1 to 8; 0 when the input has none
  std::string ImageDescription;
  std::string Artist;
  std::string Copyright;
  std::string DateTime;
  std::string Make;
  std::string Model;
  ImageResolution Resolution;
  // What the input had but is not carried, each as "<what> (<why>)", in
  // the order found: for the one warning an operation shows.
  std::vector<std::string> Dropped;

  // Nothing to write: an output gets exactly the tags it gets without
  // metadata.
  bool Empty() const;
};

// The most bytes writing the metadata adds to a TIFF, classic or BigTIFF,
// tags and alignment included; to be counted with the pixels when choosing
// BigTIFF.
std::uint64_t MetadataBytes(const ImageMetadata& metadata);

// Sets EXIF's pixel dimensions, where the EXIF has them, to an output's
// size (as LONG values); an EXIF without them stays without.
void SetExifPixelDimensions(ImageMetadata& metadata, std::uint32_t width,
                            std::uint32_t height);
void RemoveExifPixelDimensions(ImageMetadata& metadata);

// "EXIF, GPS, XMP, IPTC", the kinds present in that order; empty when none.
std::string MetadataKinds(const ImageMetadata& metadata);

// The profile's description as Little CMS reads it; "(unreadable)" when
// the bytes are no profile Little CMS can parse or the profile has no
// description. Control characters become '?', so it fits on one line.
std::string DescribeProfile(const std::vector<std::uint8_t>& icc);

// "Metadata not copied: XMP (larger than 16 MiB), EXIF (unreadable)";
// empty when nothing was dropped.
std::string DroppedWarning(const ImageMetadata& metadata);

// The bytes of one TIFF directory holding entries (sorted by tag, a
// repeated tag kept once), laid out to sit at file offset `at` (even): the
// entry count, the entries, the offset of the next directory (nextIfd),
// then each value too large for its entry, at an even offset. Empty when a
// classic TIFF's 32-bit offsets cannot reach past `at`.
std::vector<std::uint8_t> SerializeIfd(const std::vector<TiffEntry>& entries,
                                       std::uint64_t at, bool bigTiff,
                                       bool bigEndian,
                                       std::uint64_t nextIfd = 0);

// A whole little-endian TIFF structure holding the metadata that a TIFF
// keeps in directories: a first directory with Orientation, the six strings
// and pointers to an EXIF and a GPS directory, then those directories. It is
// the form other containers (a Photoshop document's EXIF resource) embed.
// Empty when the metadata has no EXIF and no GPS.
std::vector<std::uint8_t> ExifTiffBlob(const ImageMetadata& metadata);

}  // namespace trelvi

namespace trelvi {

// The reverse of ExifTiffBlob, for any TIFF structure of that shape (either
// byte order, classic offsets): Orientation and the six strings of the first
// directory and the entries of the EXIF and GPS directories it points to go
// into metadata (each value least significant byte first, pointers left
// out). Every offset and count is checked against size before anything is
// read or allocated. False, with metadata as it was, when the bytes are no
// such structure; a sub-directory that does not parse is named in Dropped.
bool ReadExifTiffBlob(const std::uint8_t* data, std::size_t size,
                      ImageMetadata& metadata);

}  // namespace trelvi
