#include "engine/formats/tiff/tiff_format.h"

#include <tiffio.h>

#include <cstring>
#include <filesystem>
#include <system_error>

#include "engine/formats/tiff/strip_writer.h"
#include "engine/formats/tiff/tiff_access.h"
#include "engine/formats/tiff/tiff_metadata.h"
#include "engine/ui_services.h"
#include "engine/utils.h"

namespace trelvi::tiff {

namespace {

// The handle of an open TIFF, closed with its owner.
struct TiffCloser {
  void operator()(TIFF* tiff) const {
    if (tiff) TIFFClose(tiff);
  }
};
using TiffHandle = std::unique_ptr<TIFF, TiffCloser>;

class TiffReader : public ImageReader {
 public:
  explicit TiffReader(TiffHandle tiff)
      : tiff_(std::move(tiff)), rows_(tiff_.get()) {}

  // Rows from any row on, in increasing order (libtiff cannot go back in a
  // compressed strip).
  std::uint32_t ReadRow(std::uint32_t row, std::uint8_t* buffer,
                        std::uint32_t rowBytes) override {
    if (!buffer) return 0;
    return rows_.ReadRow(row, buffer, rowBytes) ? rowBytes : 0;
  }

 private:
  TiffHandle tiff_;  // declared first: the row reader uses it to the end
  TiffRowReader rows_;
};

class TiffWriter : public ImageWriter {
 public:
  // copyBytes: the row size when libtiff would difference the caller's row
  // in place (the predictor does), else 0.
  TiffWriter(TiffHandle tiff, bool parallel, std::uint32_t copyBytes)
      : tiff_(std::move(tiff)) {
    if (parallel)
      strips_ = ParallelStripWriter::Create(tiff_.get(), CompressionThreads());
    if (!strips_ && copyBytes > 0) copy_.resize(copyBytes);
  }
  ~TiffWriter() override {
    // The compressing threads write into the handle: they stop first.
    strips_.reset();
  }

  bool WriteRow(std::uint32_t row, const std::uint8_t* data) override {
    if (!tiff_) return false;
    if (strips_) return strips_->Submit(row, data);
    std::uint8_t* bytes = const_cast<std::uint8_t*>(data);
    if (!copy_.empty()) {
      std::memcpy(copy_.data(), data, copy_.size());
      bytes = copy_.data();
    }
    return TIFFWriteScanline(tiff_.get(), bytes, row, 0) == 1;
  }

  FinishResult Finish() override {
    bool ok = true;
    if (strips_) {
      if (!strips_->Finish()) ok = false;
      strips_.reset();
    }
    if (tiff_) {
      // TIFFClose cannot report that the directory failed to reach the
      // disk; flushing first can.
      if (TIFFFlush(tiff_.get()) != 1) ok = false;
      tiff_.reset();
    }
    return FinishResult{ok};
  }

 private:
  TiffHandle tiff_;
  // Rows compressed on several threads; null otherwise.
  std::unique_ptr<ParallelStripWriter> strips_;
  // The row handed to libtiff when it must not touch the caller's.
  std::vector<std::uint8_t> copy_;
};

std::uint16_t CompressionTag(Compression codec) {
  switch (codec) {
    case Compression::Lzw:
      return COMPRESSION_LZW;
    case Compression::Deflate:
      return COMPRESSION_ADOBE_DEFLATE;
    case Compression::Zstd:
      return COMPRESSION_ZSTD;
    case Compression::None:
      break;
  }
  return COMPRESSION_NONE;
}

}  // namespace

void Initialize() { InstallTiffHandlers(); }

void Describe(TFileInfo& info, UiServices& ui, bool) {
  info.ImageIsOk = false;
  info.Metadata.reset();
  info.FileSize = FileSizeByName(info.FileName);
  info.ImageType = FileType::TIF;
  info.ImageTypeDesc = "TIF";

  // A file libtiff cannot open is refused; libtiff's own complaint is
  // silenced and the program adds none.
  TiffHandle tiff(OpenTiff(info.FileName, "r"));
  if (!tiff) return;

  // Read here, once, so that every output of every operation gets it from
  // the descriptor; the reader leaves libtiff where it was. Kept when
  // something was dropped, so that the operation can say so.
  auto metadata = std::make_shared<ImageMetadata>(ReadTiffMetadata(tiff.get()));
  if (!metadata->Empty() || !metadata->Dropped.empty())
    info.Metadata = std::move(metadata);

  std::uint32_t width = 0, height = 0;
  std::uint16_t bits = 0, channels = 0;
  if (TIFFGetField(tiff.get(), TIFFTAG_IMAGEWIDTH, &width) != 1) width = 0;
  if (TIFFGetField(tiff.get(), TIFFTAG_IMAGELENGTH, &height) != 1) height = 0;
  info.Width = width;
  info.Height = height;
  if (TIFFGetField(tiff.get(), TIFFTAG_BITSPERSAMPLE, &bits) != 1) bits = 0;
  if (TIFFGetField(tiff.get(), TIFFTAG_SAMPLESPERPIXEL, &channels) != 1)
    channels = 0;

  // The whole tag values are checked, so that 264 bits or 259 samples are
  // not taken for 8 and 3 by the one-byte fields.
  if (width == 0 || height == 0) {
    ui.ShowMessageBox("Height or Width = 0");
  } else if (info.Bits = static_cast<std::uint8_t>(bits);
             bits != 8 && bits != 16) {
    ui.ShowMessageBox("The image must be 8 or 16 bits");
  } else if (info.Channels = static_cast<std::uint8_t>(channels);
             channels != 3 && channels != 4) {
    ui.ShowMessageBox("The number of color channels must be 3 or 4");
  } else if (const TiffSamples samples = PrepareRgbSamples(tiff.get());
             samples == TiffSamples::NotUnsigned) {
    ui.ShowMessageBox("The image samples must be unsigned integers");
  } else if (samples == TiffSamples::NotRgb) {
    ui.ShowMessageBox("The image must be RGB");
  } else {
    info.BytesPerPixel =
        static_cast<std::uint8_t>(bits == 16 ? channels * 2 : channels);
    info.IsLsb = true;
    info.ImageIsOk = true;
  }
}

std::unique_ptr<ImageReader> OpenReader(const std::string& fileName,
                                        const TFileInfo&) {
  // "m": no memory mapping. Mapped, every row read stays resident until the
  // file is closed, and a 40 GB input would look like 40 GB of memory; read
  // calls keep memory at a row or a strip.
  TiffHandle tiff(OpenTiff(fileName, "rm"));
  if (!tiff) return nullptr;
  return std::make_unique<TiffReader>(std::move(tiff));
}

OutputName NameOutput(const OutputRequest& request) {
  // LZW does not always shrink: samples without repeats (the noisy low
  // bytes of 16-bit photographs) grow by up to half again, and a classic
  // TIFF cannot pass 4 GiB. Such an output would fail after gigabytes of
  // work, so an LZW output that could grow past the limit is a BigTIFF.
  // The metadata is stored as it is, beside the pixels. Compressed outputs
  // (LZW, Deflate, ZSTD) may outgrow their pixels: their size is not known
  // before the rows are written.
  const bool metadataPasses = request.MetadataBytes > kBigTiffThreshold;
  const std::uint64_t room =
      metadataPasses ? 0 : kBigTiffThreshold - request.MetadataBytes;
  const bool mayOutgrow =
      request.Codec != Compression::None && request.PixelBytes > room / 3 * 2;
  if (request.ForceLarge || metadataPasses || request.PixelBytes > room ||
      mayOutgrow)
    return OutputName{request.BaseName + ".big.tif", true};
  return OutputName{request.BaseName + ".tif", false};
}

std::unique_ptr<ImageWriter> CreateWriter(const WriterOptions& options) {
  std::error_code ec;
  const bool existed = std::filesystem::exists(options.FileName, ec);
  TiffHandle tiff(OpenTiff(options.FileName, options.Large ? "w8" : "w"));
  if (!tiff) {
    // libtiff creates the file before it writes the header; on a full disk
    // that leaves an empty file which no caller knows of.
    if (!existed) std::filesystem::remove(options.FileName, ec);
    return nullptr;
  }
  TIFF* t = tiff.get();
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, options.Width);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, options.Height);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, options.Bits);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, options.Channels);
  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 1);
  const bool compressed = options.Codec != Compression::None;
  TIFFSetField(t, TIFFTAG_COMPRESSION, CompressionTag(options.Codec));
  if (compressed && options.Predictor)
    TIFFSetField(t, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
  if (options.Codec == Compression::Deflate)
    TIFFSetField(t, TIFFTAG_ZIPQUALITY,
                 options.Level > 0 ? options.Level : kDeflateDefaultLevel);
  if (options.Codec == Compression::Zstd)
    TIFFSetField(t, TIFFTAG_ZSTD_LEVEL,
                 options.Level > 0 ? options.Level : kZstdDefaultLevel);
  TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
  TIFFSetField(t, TIFFTAG_XRESOLUTION, 240.0);
  TIFFSetField(t, TIFFTAG_YRESOLUTION, 240.0);
  TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
  // Before any row: the EXIF and GPS directories go to the end of the file
  // as it stands, ahead of the first strip.
  if (options.Metadata && !options.Metadata->Empty() &&
      !WriteTiffMetadata(t, *options.Metadata, options.Width, options.Height)) {
    tiff.reset();
    std::filesystem::remove(options.FileName, ec);
    return nullptr;
  }
  // Compression is the slow part of a compressed output; spread it over the
  // processors when rows are wide enough to be worth handing over.
  const bool parallel = compressed && options.RowBytes >= kParallelRowBytes;
  return std::make_unique<TiffWriter>(
      std::move(tiff), parallel,
      compressed && options.Predictor ? options.RowBytes : 0);
}

}  // namespace trelvi::tiff
