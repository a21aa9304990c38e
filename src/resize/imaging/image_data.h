#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace trelvi {

// Raised by the tile image, its file access and the resampler. The tile
// worker catches every one of them and turns it into its Error flag.
class TImagingError : public std::runtime_error {
 public:
  explicit TImagingError(const std::string& message)
      : std::runtime_error(message) {}
};

// Pixel format codes.
enum class TImageFormat : std::int32_t {
  Unknown = 0,
  // Three bytes a pixel: byte 0 B, byte 1 G, byte 2 R.
  R8G8B8 = 87,
  // Three 16-bit samples a pixel, each least significant byte first:
  // sample 0 B, sample 1 G, sample 2 R. The tiles of 16-bit images.
  R16G16B16 = 90,
};

// A pixel as four floats, nominally 0.0 to 1.0.
struct TColorFPRec {
  float B = 0.0f;
  float G = 0.0f;
  float R = 0.0f;
  float A = 0.0f;
};

struct TColor24Rec {
  std::uint8_t B, G, R;
};

// Hands a pixel block back to where it came from; the size tells which.
struct TPixelRelease {
  std::int64_t Size = 0;
  void operator()(std::uint8_t* block) const;
};
using TPixelBlock = std::unique_ptr<std::uint8_t, TPixelRelease>;

// The in-memory image. A block allocated for it is owned by Block and goes
// back when the record is emptied, replaced or destroyed, whichever way the
// code leaves. The record moves, it is never copied; the record moved from
// is left empty, so that it cannot pass for a valid image.
struct TImageData {
  TImageData() = default;
  TImageData(TImageData&& other) noexcept { *this = std::move(other); }
  TImageData& operator=(TImageData&& other) noexcept;

  std::int32_t Width = 0;
  std::int32_t Height = 0;
  TImageFormat Format = TImageFormat::Unknown;
  // 64-bit: a pixel block of a whole image can pass 2 GiB.
  std::int64_t Size = 0;
  // The first pixel: the owned block's, or memory the record only looks at
  // (which is never freed through it).
  std::uint8_t* Bits = nullptr;
  TPixelBlock Block;
};

using TGetPixelFP = TColorFPRec (*)(const std::uint8_t* pixel);
using TSetPixelFP = void (*)(std::uint8_t* pixel, const TColorFPRec& color);

struct TImageFormatInfo {
  TImageFormat Format;
  const char* Name;
  std::int32_t BytesPerPixel;
  std::int32_t ChannelCount;
  // Bytes of one sample: 1 or 2 (least significant byte first).
  std::int32_t BytesPerSample;
  TGetPixelFP GetPixelFP;
  TSetPixelFP SetPixelFP;
};

// The single-precision value nearest 1/255, and the one nearest 1/65535.
inline constexpr float kByteToFloat = 0.003921568859368563f;
inline constexpr float kWordToFloat = static_cast<float>(1.0L / 65535.0L);

// Null for an unknown code.
const TImageFormatInfo* GetFormatInfo(TImageFormat format);

// Bytes of width × height pixels; 0 for an unknown format or a size that is
// not positive.
std::int64_t GetPixelsSize(TImageFormat format, std::int64_t width,
                           std::int64_t height);

// Sets every field to zero; an owned block goes back (as ReleaseImage).
void ResetImageRecord(TImageData& image);
// Releases what the record held and gives it a zero-filled block. Raises on
// a non-positive size, an unknown format or a failed allocation.
bool AllocateImage(std::int32_t width, std::int32_t height, TImageFormat format,
                   TImageData& image);
// Gives back the block the record owns and empties the record.
void ReleaseImage(TImageData& image);
bool IsImageValid(const TImageData& image);

// Fills the record from a headerless file of rows of width pixels. A short
// file leaves the missing pixels zero; bytes past the image are not read.
void LoadRawImageFile(const std::string& fileName, std::int32_t width,
                      std::int32_t height, TImageFormat format,
                      TImageData& image);
// Only the listed rows of such a file, in that order: an image of width ×
// rows.size(). Rows past the end of the file read as zero.
void LoadRawImageRows(const std::string& fileName, std::int32_t width,
                      std::int32_t height, TImageFormat format,
                      const std::vector<std::int32_t>& rows, TImageData& image);
// Writes the pixel block, and nothing else, to a new file of that name.
void SaveRawImageFile(const std::string& fileName, const TImageData& image);

}  // namespace trelvi
