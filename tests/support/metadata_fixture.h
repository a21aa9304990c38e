#pragma once

// TIFF inputs that carry what a photograph carries, written by libtiff:
// colour profile, XMP, IPTC, EXIF and GPS directories, Orientation, the six
// strings and a resolution; and readers of the same from any output.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace trelvi::test {

// The sRGB profile as Little CMS writes it, made once.
const std::vector<std::uint8_t>& SrgbProfile();

// A small XMP packet and two IPTC-NAA datasets (an odd length).
const std::vector<std::uint8_t>& SampleXmp();
const std::vector<std::uint8_t>& SampleIptc();

struct MetadataSpec {
  std::uint32_t Width = 40, Height = 30;
  std::uint32_t RowsPerStrip = 8;
  bool Exif = true;  // with ExposureTime, ISO, LensModel, pixel dimensions
  bool Gps = true;   // with latitude and longitude
  std::vector<std::uint8_t> Icc = SrgbProfile();  // empty: none
  std::vector<std::uint8_t> Xmp = SampleXmp();
  std::vector<std::uint8_t> Iptc = SampleIptc();
  bool Texts = true;  // ImageDescription, Make, Model, DateTime, Artist...
  std::uint16_t Orientation = 6;
  // 0: no resolution tags.
  float ResX = 118.11f, ResY = 59.055f;
  std::uint16_t ResUnit = 3;  // RESUNIT_CENTIMETER
  std::string LensModel = "Test 35mm";
};

// An 8-bit RGB TIFF holding MakePixels(Width, Height, 3, 8).
void WriteMetadataTiff(const std::string& fileName, const MetadataSpec& spec);

// What an output holds of it, read with libtiff (its own EXIF reader
// included); absent values stay empty or 0.
struct TiffMetadataView {
  std::vector<std::uint8_t> Icc, Xmp, Iptc;
  std::string Description, Make, Model, DateTime, Artist, Copyright;
  std::uint16_t Orientation = 0;
  float ResX = 0, ResY = 0;
  std::uint16_t ResUnit = 0;
  bool HasExif = false, HasGps = false;
  std::uint32_t ExifWidth = 0, ExifHeight = 0;
  std::string LensModel;
};
TiffMetadataView ReadMetadataView(const std::string& fileName);

// The tags of a classic little-endian file's first directory, as the file
// lists them.
std::vector<std::uint32_t> FirstDirectoryTags(const std::string& fileName);

// The file bytes with the value (offset) of the first directory's entry for
// tag replaced; a classic little-endian file. False when there is no entry.
bool PatchEntryValue(std::vector<std::uint8_t>& file, std::uint16_t tag,
                     std::uint32_t value);

bool HaveExiftool();
// exiftool's numeric value of each tag (by name) in one file, and its
// "Warning" and "Error" when it has any.
std::map<std::string, std::string> ExiftoolTags(
    const std::string& fileName, const std::vector<std::string>& tags);

}  // namespace trelvi::test
