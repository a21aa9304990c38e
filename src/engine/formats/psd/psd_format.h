#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

// Facts of the large-document format shared by its reader and writer.
namespace trelvi::psd {

// Version 1 is the PSD (sides up to 30000, the file below 2 GiB), version 2
// the PSB (sides up to 300000, 8-byte section lengths).
enum class PsdVersion : std::uint16_t { Psd = 1, Psb = 2 };

enum class PsdCompression : std::uint16_t {
  Raw = 0,
  Rle = 1,
  Zip = 2,
  ZipPredicted = 3
};

inline constexpr std::uint16_t kColorModeRgb = 3;

inline constexpr std::uint32_t kPsdMaxSide = 30000;
inline constexpr std::uint32_t kPsbMaxSide = 300000;
inline constexpr std::uint64_t kPsdMaxFileBytes = std::uint64_t{1} << 31;

// Image resource IDs the program carries from input to output, or needs to
// read the composite.
inline constexpr std::uint16_t kResResolution = 1005;
inline constexpr std::uint16_t kResAlphaNames = 1006;
inline constexpr std::uint16_t kResIptc = 1028;
inline constexpr std::uint16_t kResIccProfile = 1039;
inline constexpr std::uint16_t kResUnicodeAlphaNames = 1045;
inline constexpr std::uint16_t kResAlphaIdentifiers = 1053;
inline constexpr std::uint16_t kResVersionInfo = 1057;
inline constexpr std::uint16_t kResExif1 = 1058;
inline constexpr std::uint16_t kResExif3 = 1059;
inline constexpr std::uint16_t kResXmp = 1060;

// One image resource block: its ID and its data (without the pad byte).
struct PsdResource {
  std::uint16_t Id = 0;
  std::vector<std::uint8_t> Data;
};

// The version a file starting with these bytes declares; none when the
// bytes are not the start of a PSD or PSB, whatever the file's name.
std::optional<PsdVersion> DetectPsd(const std::uint8_t* head, std::size_t size);

// The data of a resolution resource (1005) for the given pixels per inch,
// shown in inches; and the pixels per inch such data holds (false when it
// is shorter than the 16 bytes of the block).
std::vector<std::uint8_t> MakeResolutionData(double xPpi, double yPpi);
bool ParseResolutionData(const std::vector<std::uint8_t>& data, double& xPpi,
                         double& yPpi);

// The data of a version-information resource (1057) saying whether the
// file holds a real merged image, and what such data says. False when a
// field is missing: readers then ignore the block.
std::vector<std::uint8_t> MakeVersionInfoData(bool hasRealMergedData);
bool ParseVersionInfoData(const std::uint8_t* data, std::size_t size,
                          bool& hasRealMergedData);

}  // namespace trelvi::psd
