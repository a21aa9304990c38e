#include <tiffio.h>

#include <cstdio>
#include <filesystem>
#include <mutex>
#include <new>
#include <system_error>

#include "engine/strip_writer.h"
#include "engine/tiff_access.h"
#include "engine/trelvi.h"
#include "engine/utils.h"

namespace trelvi {

namespace {
constexpr std::uint64_t kBigTiffThreshold = 4000000000ull;
constexpr std::uint32_t kParallelRowBytes = 16384;

std::mutex& QueryMutex() {
  static std::mutex m;
  return m;
}
FreeSpaceQuery& Query() {
  static FreeSpaceQuery q;
  return q;
}

// Width × height × bytes per pixel, held at the largest 64-bit value when
// the product does not fit: sizes a header may claim reach 2^67, and a
// wrapped product could pass the free-space check as a small file.
std::uint64_t PixelBytes(std::uint32_t width, std::uint32_t height,
                         std::uint8_t bytesPerPixel) {
  const std::uint64_t pixels = static_cast<std::uint64_t>(width) * height;
  if (bytesPerPixel != 0 && pixels > UINT64_MAX / bytesPerPixel)
    return UINT64_MAX;
  return pixels * bytesPerPixel;
}

// Same file as the file system sees it, not the same spelling: a relative
// path, "..", a symbolic link or a hard link all name the input.
bool SameFile(const std::string& a, const std::string& b) {
  std::error_code ec;
  const bool same = std::filesystem::equivalent(a, b, ec);
  return !ec && same;
}
}  // namespace

void SetFreeSpaceQuery(FreeSpaceQuery query) {
  std::lock_guard<std::mutex> lock(QueryMutex());
  Query() = std::move(query);
}

std::uint64_t GetFreeSpace(const std::string& directory) {
  {
    std::lock_guard<std::mutex> lock(QueryMutex());
    if (Query()) return Query()(directory);
  }
  std::error_code ec;
  const auto info = std::filesystem::space(
      directory.empty() ? std::filesystem::path(".")
                        : std::filesystem::path(directory),
      ec);
  if (ec) return 0;
  return info.available;
}

bool TTrelvi::CreateOutFile(const std::string& baseName) {
  std::string name;
  switch (OutInfo.ImageType) {
    case FileType::KRO4:
      name = baseName + ".kro";
      OutInfo.Channels = 4;
      OutInfo.BytesPerPixel = 4;
      OutInfo.IsLsb = false;
      break;
    case FileType::RAW:
      name = baseName + ".raw";
      OutInfo.Channels = 3;
      OutInfo.BytesPerPixel = 3;
      OutInfo.IsLsb = true;
      break;
    case FileType::TIF:
      OutInfo.Channels = 3;
      OutInfo.BytesPerPixel = 3;
      OutInfo.IsLsb = true;
      break;
    case FileType::NV:
      Ui().ShowMessageBox("Write to file error");
      return false;
  }
  OutInfo.Bits = InInfo.Bits;
  if (OutInfo.Bits == 16) OutInfo.BytesPerPixel *= 2;

  const std::uint64_t size =
      PixelBytes(OutInfo.Width, OutInfo.Height, OutInfo.BytesPerPixel);
  const char* tiffMode = "w";
  if (OutInfo.ImageType == FileType::TIF) {
    // LZW does not always shrink: samples without repeats (the noisy low
    // bytes of 16-bit photographs) grow by up to half again, and a classic
    // TIFF cannot pass 4 GiB. Such an output would fail after gigabytes of
    // work, so an LZW output that could grow past the limit is a BigTIFF.
    const bool lzwMayOutgrow = UseLzw && size > kBigTiffThreshold / 3 * 2;
    if (ForceBigTiff || size > kBigTiffThreshold || lzwMayOutgrow) {
      tiffMode = "w8";
      name = baseName + ".big.tif";
    } else {
      name = baseName + ".tif";
    }
  }

  if (SameFile(name, InInfo.FileName)) {
    Ui().ShowMessageDialog("Cannot overwrite input file", MsgIcon::Error,
                           MsgButtons::Ok);
    return false;
  }

  std::error_code ec;
  if (std::filesystem::exists(name, ec)) {
    if (Ui().ShowMessageDialog(
            "Output file exists. Do you want to overwrite it?",
            MsgIcon::Question, MsgButtons::YesNo) != MsgResult::Yes)
      return false;
    std::remove(name.c_str());
  }

  OutInfo.FileName = name;

  const std::uint64_t freeBytes = GetFreeSpace(DirectoryPart(name));
  if (!(freeBytes > size)) {
    DoError("There is not enough space on the destination directory");
    return false;
  }

  const std::uint64_t rowSize =
      static_cast<std::uint64_t>(OutInfo.Width) * OutInfo.BytesPerPixel;
  if (OutInfo.ScanLine == outBuffer_.get()) OutInfo.ScanLine = nullptr;
  outBuffer_.reset();
  OutInfo.ScanLineSize = 0;
  if (rowSize > 0 && rowSize <= kMaxRowBytes) {
    outBuffer_.reset(new (std::nothrow) std::uint8_t[rowSize]);
    OutInfo.ScanLineSize = static_cast<std::uint32_t>(rowSize);
  }
  OutInfo.ScanLine = outBuffer_.get();
  if (!OutInfo.ScanLine) {
    OutInfo.ScanLineSize = 0;
    Ui().ShowMessageBox("Not enough memory");
    return false;
  }

  if (OutInfo.ImageType == FileType::TIF) {
    const bool existed = std::filesystem::exists(name, ec);
    OutTiff = OpenTiff(name, tiffMode);
    if (!OutTiff) {
      // libtiff creates the file before it writes the header; on a full
      // disk that leaves an empty file which no caller knows of.
      if (!existed) std::filesystem::remove(name, ec);
      Ui().ShowMessageBox("Write to file error");
      return false;
    }
    TIFFSetField(OutTiff, TIFFTAG_IMAGEWIDTH, OutInfo.Width);
    TIFFSetField(OutTiff, TIFFTAG_IMAGELENGTH, OutInfo.Height);
    TIFFSetField(OutTiff, TIFFTAG_BITSPERSAMPLE, OutInfo.Bits);
    TIFFSetField(OutTiff, TIFFTAG_SAMPLESPERPIXEL, OutInfo.Channels);
    TIFFSetField(OutTiff, TIFFTAG_ROWSPERSTRIP, 1);
    TIFFSetField(OutTiff, TIFFTAG_COMPRESSION,
                 UseLzw ? COMPRESSION_LZW : COMPRESSION_NONE);
    TIFFSetField(OutTiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(OutTiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(OutTiff, TIFFTAG_XRESOLUTION, 240.0);
    TIFFSetField(OutTiff, TIFFTAG_YRESOLUTION, 240.0);
    TIFFSetField(OutTiff, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    // Compression is the slow part of an LZW output; spread it over the
    // processors when rows are wide enough to be worth handing over.
    if (UseLzw && OutInfo.ScanLineSize >= kParallelRowBytes)
      outStrips_ = ParallelStripWriter::Create(OutTiff, CompressionThreads());
  } else {
    OutStream.Bind(name);
    if (!OutStream.OpenWrite(OutInfo.ScanLineSize)) {
      Ui().ShowMessageBox("Write to file error");
      return false;
    }
    if (OutInfo.ImageType == FileType::KRO4) WriteKroHeader();
  }
  OutOpen = true;
  return true;
}

}  // namespace trelvi
