#include <tiffio.h>

#include <cstring>

#include "engine/strip_writer.h"
#include "engine/tiff_access.h"
#include "engine/trelvi.h"

namespace trelvi {

std::int32_t TTrelvi::ReadLine(std::uint32_t row) {
  switch (InInfo.ImageType) {
    case FileType::KRO4:
    case FileType::RAW: {
      if (!InInfo.ScanLine) return 0;
      // Rows have a fixed size behind the header, so a row is read where it
      // lies: nothing above it is read. A row past the end reads nothing.
      InStream.Skip((InInfo.ImageType == FileType::KRO4 ? 20 : 0) +
                    static_cast<std::int64_t>(row) * InInfo.ScanLineSize);
      const std::size_t got =
          InStream.Read(InInfo.ScanLine, InInfo.ScanLineSize);
      // A short row may still be used: what the file did not hold reads as
      // black, never as the previous row or memory nobody wrote.
      if (got < InInfo.ScanLineSize)
        std::memset(InInfo.ScanLine + got, 0, InInfo.ScanLineSize - got);
      return static_cast<std::int32_t>(got);
    }
    case FileType::TIF:
      if (!InTiff || !inTiffReader_ || !InInfo.ScanLine) return 0;
      return inTiffReader_->ReadRow(row, InInfo.ScanLine, InInfo.ScanLineSize)
                 ? static_cast<std::int32_t>(InInfo.ScanLineSize)
                 : 0;
    case FileType::NV:
      break;
  }
  return 0;
}

std::int32_t TTrelvi::WriteLine(std::uint32_t row) {
  switch (OutInfo.ImageType) {
    case FileType::KRO4:
    case FileType::RAW:
      if (!OutInfo.ScanLine) return 0;
      // A row that reached the file only in part is a failed row.
      return OutStream.Write(OutInfo.ScanLine, OutInfo.ScanLineSize) ==
                     OutInfo.ScanLineSize
                 ? static_cast<std::int32_t>(OutInfo.ScanLineSize)
                 : 0;
    case FileType::TIF:
      if (!OutTiff || !OutInfo.ScanLine) return 0;
      if (outStrips_)
        return outStrips_->Submit(row, OutInfo.ScanLine)
                   ? static_cast<std::int32_t>(OutInfo.ScanLineSize)
                   : 0;
      return TIFFWriteScanline(OutTiff, OutInfo.ScanLine, row, 0) == 1
                 ? static_cast<std::int32_t>(OutInfo.ScanLineSize)
                 : 0;
    case FileType::NV:
      break;
  }
  return 0;
}

namespace {

// One tight loop per combination, chosen once per call. Samples are moved
// as bytes so that nothing depends on the alignment of the buffers.
template <int SrcCh, int DstCh>
void Convert8(const std::uint8_t* src, std::uint8_t* dst, std::size_t count) {
  if constexpr (SrcCh == DstCh) {
    std::memcpy(dst, src, count * SrcCh);
  } else {
    for (std::size_t i = 0; i < count; ++i) {
      dst[0] = src[0];
      dst[1] = src[1];
      dst[2] = src[2];
      if constexpr (DstCh == 4) dst[3] = 255;
      src += SrcCh;
      dst += DstCh;
    }
  }
}

template <int SrcCh, int DstCh, bool Swap>
void Convert16(const std::uint8_t* src, std::uint8_t* dst, std::size_t count) {
  if constexpr (SrcCh == DstCh && !Swap) {
    std::memcpy(dst, src, count * SrcCh * 2);
  } else {
    constexpr int kCopy = DstCh < SrcCh ? DstCh : SrcCh;
    for (std::size_t i = 0; i < count; ++i) {
      for (int s = 0; s < kCopy; ++s) {
        if constexpr (Swap) {
          dst[2 * s] = src[2 * s + 1];
          dst[2 * s + 1] = src[2 * s];
        } else {
          dst[2 * s] = src[2 * s];
          dst[2 * s + 1] = src[2 * s + 1];
        }
      }
      if constexpr (DstCh == 4 && SrcCh == 3) {
        dst[6] = 0xFF;
        dst[7] = 0xFF;
      }
      src += SrcCh * 2;
      dst += DstCh * 2;
    }
  }
}

using Converter = void (*)(const std::uint8_t*, std::uint8_t*, std::size_t);

Converter ChooseConverter(const TFileInfo& src, const TFileInfo& dst) {
  const bool c3 = src.Channels == 3, c4 = src.Channels == 4;
  const bool d3 = dst.Channels == 3, d4 = dst.Channels == 4;
  if (!(c3 || c4) || !(d3 || d4)) return nullptr;
  if (src.Bits == 8) {
    if (c3) return d3 ? Convert8<3, 3> : Convert8<3, 4>;
    return d3 ? Convert8<4, 3> : Convert8<4, 4>;
  }
  if (src.Bits == 16) {
    if (src.IsLsb == dst.IsLsb) {
      if (c3) return d3 ? Convert16<3, 3, false> : Convert16<3, 4, false>;
      return d3 ? Convert16<4, 3, false> : Convert16<4, 4, false>;
    }
    if (c3) return d3 ? Convert16<3, 3, true> : Convert16<3, 4, true>;
    return d3 ? Convert16<4, 3, true> : Convert16<4, 4, true>;
  }
  return nullptr;
}

}  // namespace

void TTrelvi::ConvertLine(const TFileInfo& src, std::uint32_t srcStart,
                          const TFileInfo& dst, std::uint32_t dstStart,
                          std::uint32_t count) {
  if (count == 0 || !src.ScanLine || !dst.ScanLine) return;
  const Converter convert = ChooseConverter(src, dst);
  if (!convert) return;
  // Pixel sizes follow from the descriptors' depth and channels, so a
  // descriptor whose BytesPerPixel disagrees cannot move the copy elsewhere.
  const std::size_t srcBpp =
      static_cast<std::size_t>(src.Channels) * (src.Bits / 8);
  const std::size_t dstBpp =
      static_cast<std::size_t>(dst.Channels) * (src.Bits / 8);
  convert(src.ScanLine + srcBpp * srcStart, dst.ScanLine + dstBpp * dstStart,
          count);
}

}  // namespace trelvi
