#include "engine/formats/psd/psd_unit.h"

#include <cstring>
#include <memory>

#include "engine/formats/psd/psd_reader.h"
#include "engine/formats/psd/psd_writer.h"
#include "engine/ui_services.h"
#include "engine/utils.h"

namespace trelvi::psd {

namespace {

class PsdImageReader : public ImageReader {
 public:
  PsdImageReader(std::unique_ptr<PsdReader> reader, ImageMetadata metadata)
      : reader_(std::move(reader)), metadata_(std::move(metadata)) {}

  // Any row in any order; rows in increasing order are the cheap case.
  std::uint32_t ReadRow(std::uint32_t row, std::uint8_t* buffer,
                        std::uint32_t rowBytes) override {
    if (!buffer) return 0;
    const std::uint64_t need = reader_->Info().RowBytes();
    if (rowBytes < need || !reader_->ReadRow(row, buffer)) {
      std::memset(buffer, 0, rowBytes);
      return 0;
    }
    if (rowBytes > need) std::memset(buffer + need, 0, rowBytes - need);
    return rowBytes;
  }

  const ImageMetadata* Metadata() const override {
    return metadata_.Empty() ? nullptr : &metadata_;
  }

 private:
  std::unique_ptr<PsdReader> reader_;
  ImageMetadata metadata_;
};

class PsdImageWriter : public ImageWriter {
 public:
  explicit PsdImageWriter(std::unique_ptr<PsdWriter> writer)
      : writer_(std::move(writer)) {}

  bool WriteRow(std::uint32_t, const std::uint8_t* data) override {
    return writer_ && writer_->WriteRow(data);
  }

  FinishResult Finish() override {
    const bool ok = writer_ && writer_->Finish();
    writer_.reset();
    return FinishResult{ok};
  }

 private:
  std::unique_ptr<PsdWriter> writer_;
};

void Drop(ImageMetadata& m, const char* what, const char* why) {
  m.Dropped.push_back(std::string(what) + " (" + why + ")");
}

// A block copied as the file has it, unless it is too large to be a
// photograph's.
void TakeBlock(const PsdResource& r, const char* what,
               std::vector<std::uint8_t>& into, ImageMetadata& m) {
  if (r.Data.size() > kMaxMetadataBlockBytes) {
    Drop(m, what, "larger than 16 MiB");
    return;
  }
  into = r.Data;
}

// The resolution resource's display unit of the horizontal resolution: 2
// shows it in centimetres.
constexpr std::uint16_t kDisplayCentimetres = 2;

}  // namespace

bool Recognizes(const std::uint8_t* head, std::size_t size) {
  return DetectPsd(head, size).has_value();
}

void Describe(TFileInfo& info, UiServices& ui, bool) {
  info.ImageIsOk = false;
  info.FileSize = FileSizeByName(info.FileName);
  info.ImageType = FileType::PSD;
  info.ImageTypeDesc = "PSD";
  info.Metadata.reset();

  PsdReader reader;
  const PsdOpenResult result = reader.Open(info.FileName);
  const PsdInfo& psd = reader.Info();
  if (psd.Version == PsdVersion::Psb) info.ImageTypeDesc = "PSB";
  info.Width = psd.Width;
  info.Height = psd.Height;
  info.Bits = static_cast<std::uint8_t>(psd.Depth);
  info.Channels = static_cast<std::uint8_t>(psd.RowChannels());
  if (result != PsdOpenResult::Ok) {
    // Files that are no PSD at all have no message of their own; a damaged
    // one cannot be read, as the other formats say of theirs.
    const char* message = PsdOpenMessage(result);
    if (message && *message) ui.ShowMessageBox(message);
    return;
  }
  info.BytesPerPixel = static_cast<std::uint8_t>(
      psd.Depth == 16 ? psd.RowChannels() * 2 : psd.RowChannels());
  info.IsLsb = true;
  // The resources a photographer's file carries go with the image to
  // every output, as a TIFF input's tags do.
  auto metadata = std::make_shared<ImageMetadata>(
      MetadataFromResources(reader.Resources()));
  if (!metadata->Empty() || !metadata->Dropped.empty())
    info.Metadata = std::move(metadata);
  info.ImageIsOk = true;
}

std::unique_ptr<ImageReader> OpenReader(const std::string& fileName,
                                        const TFileInfo& info) {
  auto reader = std::make_unique<PsdReader>();
  if (reader->Open(fileName) != PsdOpenResult::Ok) return nullptr;
  const PsdInfo& psd = reader->Info();
  // The file changed since it was described: its rows would not fit the
  // buffers made for it.
  if (psd.Width != info.Width || psd.Height != info.Height ||
      psd.Depth != info.Bits || psd.RowChannels() != info.Channels)
    return nullptr;
  ImageMetadata metadata = MetadataFromResources(reader->Resources());
  return std::make_unique<PsdImageReader>(std::move(reader),
                                          std::move(metadata));
}

OutputName NameOutput(const OutputRequest& request) {
  PsdWriteSpec spec;
  spec.Width = request.Width;
  spec.Height = request.Height;
  spec.Depth = request.Bits == 16 ? 16 : 8;
  if (request.Metadata)
    spec.Resources =
        ResourcesFromMetadata(*request.Metadata, request.Width, request.Height);
  const bool psb =
      request.ForceLarge || ChoosePsdVersion(spec) == PsdVersion::Psb;
  return OutputName{
      request.BaseName + PsdExtension(psb ? PsdVersion::Psb : PsdVersion::Psd),
      psb};
}

std::unique_ptr<ImageWriter> CreateWriter(const WriterOptions& options) {
  if (options.Channels != 3) return nullptr;
  PsdWriteSpec spec;
  spec.Width = options.Width;
  spec.Height = options.Height;
  spec.Depth = options.Bits;
  spec.Version = options.Large ? PsdVersion::Psb : PsdVersion::Psd;
  // Raw: every row goes straight to its place. RLE would need the
  // compressed second and third channels spilled and copied once more.
  spec.Compression = PsdCompression::Raw;
  if (options.Metadata)
    spec.Resources =
        ResourcesFromMetadata(*options.Metadata, options.Width, options.Height);
  auto writer = std::make_unique<PsdWriter>();
  if (!writer->Create(options.FileName, spec)) return nullptr;
  if (writer->RowBytes() != options.RowBytes) return nullptr;
  return std::make_unique<PsdImageWriter>(std::move(writer));
}

ImageMetadata MetadataFromResources(const std::vector<PsdResource>& resources) {
  ImageMetadata m;
  bool seen[4] = {};  // profile, XMP, IPTC, EXIF: the first of each counts
  for (const PsdResource& r : resources) {
    switch (r.Id) {
      case kResIccProfile:
        if (!seen[0]) TakeBlock(r, "colour profile", m.IccProfile, m);
        seen[0] = true;
        break;
      case kResXmp:
        if (!seen[1]) TakeBlock(r, "XMP", m.Xmp, m);
        seen[1] = true;
        break;
      case kResIptc:
        if (!seen[2]) TakeBlock(r, "IPTC", m.Iptc, m);
        seen[2] = true;
        break;
      case kResExif1:
        if (seen[3]) break;
        seen[3] = true;
        if (r.Data.size() > kMaxMetadataBlockBytes)
          Drop(m, "EXIF", "larger than 16 MiB");
        else if (!ReadExifTiffBlob(r.Data.data(), r.Data.size(), m))
          Drop(m, "EXIF", "unreadable");
        break;
      case kResResolution: {
        double x = 0, y = 0;
        if (m.Resolution.Present || !ParseResolutionData(r.Data, x, y) ||
            !(x > 0) || !(y > 0))
          break;
        // Always pixels per inch in the file; the display unit says how an
        // editor shows it, and a TIFF keeps it in that unit.
        const bool cm =
            (std::uint16_t{r.Data[4]} << 8 | r.Data[5]) == kDisplayCentimetres;
        m.Resolution.Present = true;
        m.Resolution.Unit =
            cm ? ResolutionUnit::Centimetre : ResolutionUnit::Inch;
        m.Resolution.X = cm ? x / 2.54 : x;
        m.Resolution.Y = cm ? y / 2.54 : y;
        break;
      }
      default:
        break;
    }
  }
  return m;
}

std::vector<PsdResource> ResourcesFromMetadata(const ImageMetadata& m,
                                               std::uint32_t width,
                                               std::uint32_t height) {
  std::vector<PsdResource> out;
  if (!m.IccProfile.empty()) out.push_back({kResIccProfile, m.IccProfile});
  if (!m.Xmp.empty()) out.push_back({kResXmp, m.Xmp});
  if (!m.Iptc.empty()) out.push_back({kResIptc, m.Iptc});
  ImageMetadata sized;
  sized.Exif = m.Exif;
  sized.Gps = m.Gps;
  sized.Orientation = m.Orientation;
  sized.ImageDescription = m.ImageDescription;
  sized.Artist = m.Artist;
  sized.Copyright = m.Copyright;
  sized.DateTime = m.DateTime;
  sized.Make = m.Make;
  sized.Model = m.Model;
  SetExifPixelDimensions(sized, width, height);
  if (std::vector<std::uint8_t> exif = ExifTiffBlob(sized); !exif.empty())
    out.push_back({kResExif1, std::move(exif)});
  if (m.Resolution.Present && m.Resolution.X > 0 && m.Resolution.Y > 0) {
    const bool cm = m.Resolution.Unit == ResolutionUnit::Centimetre;
    const double scale = cm ? 2.54 : 1.0;
    std::vector<std::uint8_t> data =
        MakeResolutionData(m.Resolution.X * scale, m.Resolution.Y * scale);
    if (cm) {
      data[5] = kDisplayCentimetres;
      data[13] = kDisplayCentimetres;
    }
    out.push_back({kResResolution, std::move(data)});
  }
  return out;
}

}  // namespace trelvi::psd
