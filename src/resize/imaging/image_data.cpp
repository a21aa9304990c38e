#include "resize/imaging/image_data.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "resize/imaging/buffered_stream.h"
#include "resize/imaging/pixel_convert.h"

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

void ResetImageRecord(TImageData& image) { image = TImageData{}; }

bool AllocateImage(std::int32_t width, std::int32_t height, TImageFormat format,
                   TImageData& image) {
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
  // calloc hands out pages that the system zeroes on first touch, so a
  // block of hundreds of megabytes costs nothing until it is written.
  image.Bits = static_cast<std::uint8_t*>(
      std::calloc(static_cast<std::size_t>(image.Size), 1));
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

void ReleaseImage(TImageData& image) {
  if (IsImageValid(image)) std::free(image.Bits);
  ResetImageRecord(image);
}

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
  const TImageFormatInfo* info = GetFormatInfo(format);
  if (!info) throw TImagingError("Unknown image format.");
  if (image.Width != width || image.Height != height ||
      image.Format != format || !IsImageValid(image))
    AllocateImage(width, height, format, image);
  const std::int64_t rowBytes =
      static_cast<std::int64_t>(width) * info->BytesPerPixel;
  // Row by row, as rows are the unit of the file; a file that ends early
  // leaves the rest of the block as it was (zero after allocation).
  for (std::int32_t y = 0; y < height; ++y) {
    if (stream.Read(image.Bits + y * rowBytes, rowBytes) < rowBytes) break;
  }
  stream.Close();
}

void SaveRawImageFile(const std::string& fileName, const TImageData& image) {
  if (fileName.empty()) throw TImagingError("Empty file name.");
  if (!IsImageValid(image)) throw TImagingError("Image is not valid.");
  TBufferedStream stream(fileName, TBufferedStream::Mode::Create);
  try {
    const std::int64_t rowBytes = static_cast<std::int64_t>(image.Width) *
                                  GetFormatInfo(image.Format)->BytesPerPixel;
    for (std::int32_t y = 0; y < image.Height; ++y)
      stream.Write(image.Bits + y * rowBytes, rowBytes);
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
