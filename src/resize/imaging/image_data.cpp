#include "resize/imaging/image_data.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <utility>

#include "resize/imaging/buffered_stream.h"
#include "resize/imaging/pixel_convert.h"
#include "resize/imaging/pixel_memory.h"

namespace trelvi {

namespace {

TColorFPRec GetPixel8(const std::uint8_t* p) {
  return {ByteToFloat(p[0]), ByteToFloat(p[1]), ByteToFloat(p[2]), 1.0f};
}

void SetPixel8(std::uint8_t* p, const TColorFPRec& c) {
  p[2] = FloatToByte(c.R);
  p[1] = FloatToByte(c.G);
  p[0] = FloatToByte(c.B);
}

std::uint16_t LoadWord(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

void StoreWord(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v & 0xFF);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}

TColorFPRec GetPixel16(const std::uint8_t* p) {
  return {WordToFloat(LoadWord(p)), WordToFloat(LoadWord(p + 2)),
          WordToFloat(LoadWord(p + 4)), 1.0f};
}

void SetPixel16(std::uint8_t* p, const TColorFPRec& c) {
  StoreWord(p + 4, FloatToWord(c.R));
  StoreWord(p + 2, FloatToWord(c.G));
  StoreWord(p, FloatToWord(c.B));
}

constexpr TImageFormatInfo kFormats[] = {
    {TImageFormat::R8G8B8, "R8G8B8", 3, 3, 1, GetPixel8, SetPixel8},
    {TImageFormat::R16G16B16, "R16G16B16", 6, 3, 2, GetPixel16, SetPixel16},
};

}  // namespace

const TImageFormatInfo* GetFormatInfo(TImageFormat format) {
  for (const auto& info : kFormats)
    if (info.Format == format) return &info;
  return nullptr;
}

std::int64_t GetPixelsSize(TImageFormat format, std::int64_t width,
                           std::int64_t height) {
  const TImageFormatInfo* info = GetFormatInfo(format);
  if (!info || width <= 0 || height <= 0) return 0;
  // Width and height are 32-bit, so the product of the three stays far
  // inside 64 bits.
  return width * height * info->BytesPerPixel;
}

void TPixelRelease::operator()(std::uint8_t* block) const {
  ReturnPixels(block, Size);
}

TImageData& TImageData::operator=(TImageData&& other) noexcept {
  if (this == &other) return *this;
  Block = std::move(other.Block);
  Width = std::exchange(other.Width, 0);
  Height = std::exchange(other.Height, 0);
  Format = std::exchange(other.Format, TImageFormat::Unknown);
  Size = std::exchange(other.Size, 0);
  Bits = std::exchange(other.Bits, nullptr);
  return *this;
}

void ResetImageRecord(TImageData& image) { image = TImageData{}; }

namespace {

bool AllocateImageData(std::int32_t width, std::int32_t height,
                       TImageFormat format, TImageData& image, bool zeroFill) {
  const TImageFormatInfo* info = GetFormatInfo(format);
  if (width <= 0 || height <= 0 || !info) {
    char message[160];
    std::snprintf(message, sizeof message,
                  "Invalid image parameters: Width=%d Height=%d Format=%d.",
                  width, height, static_cast<int>(format));
    throw TImagingError(message);
  }
  ReleaseImage(image);
  image.Width = width;
  image.Height = height;
  image.Format = format;
  image.Size = GetPixelsSize(format, width, height);
  if (image.Size == 0) {
    ResetImageRecord(image);
    return false;
  }
  image.Block = TPixelBlock(AcquirePixels(image.Size, zeroFill),
                            TPixelRelease{image.Size});
  image.Bits = image.Block.get();
  if (!image.Bits) {
    ResetImageRecord(image);
    char message[160];
    std::snprintf(
        message, sizeof message,
        "Error while creating image data with params: Width=%d Height=%d "
        "Format=%s.",
        width, height, info->Name);
    throw TImagingError(message);
  }
  return IsImageValid(image);
}

}  // namespace

bool AllocateImage(std::int32_t width, std::int32_t height, TImageFormat format,
                   TImageData& image) {
  return AllocateImageData(width, height, format, image, true);
}

bool AllocateImageUnset(std::int32_t width, std::int32_t height,
                        TImageFormat format, TImageData& image) {
  return AllocateImageData(width, height, format, image, false);
}

void ReleaseImage(TImageData& image) { ResetImageRecord(image); }

bool IsImageValid(const TImageData& image) {
  return image.Bits != nullptr && GetFormatInfo(image.Format) &&
         image.Size > 0 &&
         image.Size == GetPixelsSize(image.Format, image.Width, image.Height);
}

void LoadRawImageFile(const std::string& fileName, std::int32_t width,
                      std::int32_t height, TImageFormat format,
                      TImageData& image) {
  if (fileName.empty()) throw TImagingError("Empty file name.");
  TBufferedStream stream(fileName, TBufferedStream::Mode::Read);
  if (!GetFormatInfo(format)) throw TImagingError("Unknown image format.");
  bool fresh = false;
  if (image.Width != width || image.Height != height ||
      image.Format != format || !IsImageValid(image)) {
    AllocateImageUnset(width, height, format, image);
    fresh = true;
  }
  // Rows follow each other without padding, in the file as in the block,
  // so the rows are read in one go. A file that ends early leaves the rest
  // of a fresh block zero; bytes past the image are not read.
  const std::int64_t got = stream.Read(image.Bits, image.Size);
  if (fresh && got < image.Size)
    std::memset(image.Bits + got, 0,
                static_cast<std::size_t>(image.Size - got));
  stream.Close();
}

void LoadRawImageRows(const std::string& fileName, std::int32_t width,
                      std::int32_t height, TImageFormat format,
                      const std::vector<std::int32_t>& rows,
                      TImageData& image) {
  if (fileName.empty()) throw TImagingError("Empty file name.");
  TBufferedStream stream(fileName, TBufferedStream::Mode::Read);
  const TImageFormatInfo* info = GetFormatInfo(format);
  if (!info) throw TImagingError("Unknown image format.");
  if (rows.size() > static_cast<std::size_t>(INT32_MAX))
    throw TImagingError("Too many rows.");
  AllocateImageUnset(width, static_cast<std::int32_t>(rows.size()), format,
                     image);
  const std::int64_t rowBytes =
      static_cast<std::int64_t>(width) * info->BytesPerPixel;
  for (std::size_t k = 0; k < rows.size(); ++k) {
    std::uint8_t* dst = image.Bits + static_cast<std::int64_t>(k) * rowBytes;
    std::int64_t got = 0;
    if (rows[k] >= 0 && rows[k] < height) {
      stream.Seek(rows[k] * rowBytes);
      if (stream.Position() == rows[k] * rowBytes)
        got = stream.Read(dst, rowBytes);
    }
    if (got < rowBytes)
      std::memset(dst + got, 0, static_cast<std::size_t>(rowBytes - got));
  }
  stream.Close();
}

void SaveRawImageFile(const std::string& fileName, const TImageData& image) {
  if (fileName.empty()) throw TImagingError("Empty file name.");
  if (!IsImageValid(image)) throw TImagingError("Image is not valid.");
  TBufferedStream stream(fileName, TBufferedStream::Mode::Create);
  try {
    // The rows are contiguous, as in the file.
    stream.Write(image.Bits, image.Size);
    stream.Close();
  } catch (...) {
    // A half-written file would pass for a whole tile by its name.
    try {
      stream.Close();
    } catch (...) {
    }
    std::error_code ec;
    if (std::filesystem::is_regular_file(fileName, ec))
      std::filesystem::remove(fileName, ec);
    throw;
  }
}

}  // namespace trelvi
