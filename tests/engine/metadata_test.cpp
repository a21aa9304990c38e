// The metadata a photograph carries, read from a TIFF and written into a new
// one: inputs written by libtiff itself in both byte orders and as BigTIFF,
// outputs written the way the engine writes them (row by row, or as
// strips handed over whole), checked with libtiff and with
// exiftool as the independent reader; damaged and oversized blocks.

#include <gtest/gtest.h>
#include <lcms2.h>
#include <tiffio.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "engine/formats/tiff/tiff_metadata.h"
#include "engine/image_metadata.h"
#include "support/fixtures.h"

namespace trelvi {
namespace {

using test::TempDir;

// libtiff's complaints about the damaged fixtures are of no interest here.
void SilenceLibtiff() {
  TIFFSetWarningHandler(nullptr);
  TIFFSetErrorHandler(nullptr);
}

// Made once: Little CMS stamps a profile with the time it was made.
const std::vector<std::uint8_t>& SrgbProfile() {
  static const std::vector<std::uint8_t> profile = [] {
    cmsHPROFILE p = cmsCreate_sRGBProfile();
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(p, nullptr, &size);
    std::vector<std::uint8_t> bytes(size);
    cmsSaveProfileToMem(p, bytes.data(), &size);
    cmsCloseProfile(p);
    return bytes;
  }();
  return profile;
}

std::vector<std::uint8_t> Bytes(const std::string& s) {
  return std::vector<std::uint8_t>(s.begin(), s.end());
}

const std::string kXmp =
    "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>"
    "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF "
    "xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">"
    "<rdf:Description rdf:about=\"\" "
    "xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\" xmp:Rating=\"4\"/>"
    "</rdf:RDF></x:xmpmeta><?xpacket end=\"w\"?>";

// Two IPTC-NAA datasets: 2:05 object name, 2:120 caption. An odd length, so
// a writer that pads or widens it shows.
const std::vector<std::uint8_t> kIptc = {
    0x1C, 0x02, 0x05, 0x00, 0x05, 'D',  'u',  'n',  'e', 's',
    0x1C, 0x02, 0x78, 0x00, 0x08, 'S',  'a',  'n',  'd', ' ',
    'a',  't',  ' ',  0x1C, 0x02, 0x00, 0x00, 0x02, 0x00};

struct InputOptions {
  const char* Mode = "w";  // "w", "wb" (big-endian), "w8" (BigTIFF), "w8b"
  bool Exif = true;
  bool Gps = true;
  bool Blocks = true;  // profile, XMP, IPTC
  bool Texts = true;
  std::uint16_t Orientation = 6;
  // Resolution: unit 0 writes no unit tag; x 0 writes no resolution.
  float ResX = 96, ResY = 72;
  std::uint16_t ResUnit = RESUNIT_INCH;
  std::vector<std::uint8_t> Xmp = Bytes(kXmp);
  std::vector<std::uint8_t> Iptc = kIptc;
};

constexpr std::uint32_t kInW = 40, kInH = 30;

// An input as libtiff writes one: the EXIF and GPS directories first (the
// order libtiff's custom directories allow in a file written front to
// back), then the image with its tags.
void WriteInput(const std::string& file, const InputOptions& o) {
  SilenceLibtiff();
  TIFF* t = TIFFOpen(file.c_str(), o.Mode);
  ASSERT_NE(t, nullptr);
  std::uint64_t exifAt = 0, gpsAt = 0;
  if (o.Exif) {
    ASSERT_EQ(TIFFCreateEXIFDirectory(t), 0);
    TIFFSetField(t, EXIFTAG_EXPOSURETIME, 1.0 / 250);
    TIFFSetField(t, EXIFTAG_FNUMBER, 2.8);
    const std::uint16_t iso = 200;
    TIFFSetField(t, EXIFTAG_ISOSPEEDRATINGS, 1, &iso);
    TIFFSetField(t, EXIFTAG_EXIFVERSION, "0231");
    TIFFSetField(t, EXIFTAG_DATETIMEORIGINAL, "2026:06:01 05:42:10");
    TIFFSetField(t, EXIFTAG_LENSMODEL, "Test 35mm");
    TIFFSetField(t, EXIFTAG_PIXELXDIMENSION, kInW);
    TIFFSetField(t, EXIFTAG_PIXELYDIMENSION, kInH);
    ASSERT_EQ(TIFFWriteCustomDirectory(t, &exifAt), 1);
    // libtiff 4.5 leaks a custom directory's values unless they are freed
    // while its fields are still the current ones.
    TIFFFreeDirectory(t);
  }
  if (o.Gps) {
    ASSERT_EQ(TIFFCreateGPSDirectory(t), 0);
    const std::uint8_t version[4] = {2, 3, 0, 0};
    TIFFSetField(t, GPSTAG_VERSIONID, version);
    TIFFSetField(t, GPSTAG_LATITUDEREF, "N");
    const double lat[3] = {48, 51, 24.25};
    TIFFSetField(t, GPSTAG_LATITUDE, lat);
    TIFFSetField(t, GPSTAG_LONGITUDEREF, "E");
    const double lon[3] = {2, 21, 3.5};
    TIFFSetField(t, GPSTAG_LONGITUDE, lon);
    TIFFSetField(t, GPSTAG_ALTITUDE, 35.0);
    ASSERT_EQ(TIFFWriteCustomDirectory(t, &gpsAt), 1);
    TIFFFreeDirectory(t);
  }
  if (o.Exif || o.Gps) {
    ASSERT_EQ(TIFFCreateDirectory(t), 0);
  }

  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, kInW);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, kInH);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 3);
  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 1);
  TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
  if (o.ResX > 0) {
    TIFFSetField(t, TIFFTAG_XRESOLUTION, o.ResX);
    TIFFSetField(t, TIFFTAG_YRESOLUTION, o.ResY);
  }
  if (o.ResUnit != 0) TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, o.ResUnit);
  if (o.Blocks) {
    const auto icc = SrgbProfile();
    TIFFSetField(t, TIFFTAG_ICCPROFILE, static_cast<std::uint32_t>(icc.size()),
                 icc.data());
    TIFFSetField(t, TIFFTAG_XMLPACKET, static_cast<std::uint32_t>(o.Xmp.size()),
                 o.Xmp.data());
    TIFFSetField(t, TIFFTAG_RICHTIFFIPTC,
                 static_cast<std::uint32_t>(o.Iptc.size()), o.Iptc.data());
  }
  if (o.Texts) {
    TIFFSetField(t, TIFFTAG_IMAGEDESCRIPTION, "Dunes at dawn");
    TIFFSetField(t, TIFFTAG_MAKE, "Trelvi Optics");
    TIFFSetField(t, TIFFTAG_MODEL, "TX-1");
    TIFFSetField(t, TIFFTAG_DATETIME, "2026:06:01 05:42:10");
    TIFFSetField(t, TIFFTAG_ARTIST, "A. Photographer");
    TIFFSetField(t, TIFFTAG_COPYRIGHT, "(c) 2026 A. Photographer");
  }
  if (o.Orientation) TIFFSetField(t, TIFFTAG_ORIENTATION, o.Orientation);
  if (o.Exif) TIFFSetField(t, TIFFTAG_EXIFIFD, exifAt);
  if (o.Gps) TIFFSetField(t, TIFFTAG_GPSIFD, gpsAt);
  const auto pixels = test::MakePixels(kInW, kInH, 3, 8);
  for (std::uint32_t y = 0; y < kInH; ++y)
    ASSERT_EQ(
        TIFFWriteScanline(
            t, const_cast<std::uint8_t*>(pixels.data()) + y * kInW * 3, y, 0),
        1);
  TIFFClose(t);
}

ImageMetadata ReadFile(const std::string& file) {
  SilenceLibtiff();
  TIFF* t = TIFFOpen(file.c_str(), "rm");
  EXPECT_NE(t, nullptr) << file;
  if (!t) return {};
  ImageMetadata m = ReadTiffMetadata(t);
  TIFFClose(t);
  return m;
}

// How the pixels reach the output: row by row through libtiff's scanline
// interface, as whole strips handed over already encoded (the way the
// parallel strip writer hands them over), or LZW strips libtiff encodes.
enum class Writer { Scanlines, RawStrips, LzwStrips };

// An output as the engine creates one: today's tags, then the metadata,
// then the pixels (a crop of the input's: `width` × `height` from 0, 0).
void WriteOutput(const std::string& file, const ImageMetadata* m,
                 std::uint32_t width, std::uint32_t height, const char* mode,
                 Writer writer) {
  SilenceLibtiff();
  TIFF* t = TIFFOpen(file.c_str(), mode);
  ASSERT_NE(t, nullptr);
  const bool lzw = writer == Writer::LzwStrips;
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, width);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, height);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 3);
  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 1);
  TIFFSetField(t, TIFFTAG_COMPRESSION,
               lzw ? COMPRESSION_LZW : COMPRESSION_NONE);
  TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
  TIFFSetField(t, TIFFTAG_XRESOLUTION, 240.0);
  TIFFSetField(t, TIFFTAG_YRESOLUTION, 240.0);
  TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
  if (m) {
    ASSERT_TRUE(WriteTiffMetadata(t, *m, width, height));
  }
  const auto pixels = test::MakePixels(kInW, kInH, 3, 8);
  const tmsize_t rowBytes = static_cast<tmsize_t>(width) * 3;
  for (std::uint32_t y = 0; y < height; ++y) {
    auto* row = const_cast<std::uint8_t*>(pixels.data()) + y * kInW * 3;
    switch (writer) {
      case Writer::Scanlines:
        ASSERT_EQ(TIFFWriteScanline(t, row, y, 0), 1);
        break;
      case Writer::RawStrips:
        ASSERT_EQ(TIFFWriteRawStrip(t, y, row, rowBytes), rowBytes);
        break;
      case Writer::LzwStrips:
        ASSERT_GT(TIFFWriteEncodedStrip(t, y, row, rowBytes), 0);
        break;
    }
  }
  ASSERT_EQ(TIFFFlush(t), 1);
  TIFFClose(t);
}

bool HaveExiftool() {
  return std::system("exiftool -ver > /dev/null 2>&1") == 0;
}

std::string Run(const std::string& command) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (!p) return out;
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  pclose(p);
  return out;
}

// The EXIF and GPS tags the fixtures hold, and the IFD0 tags beside them.
// By name alone: exiftool names the groups of a BigTIFF's directories
// differently.
const char* const kExiftoolTags[] = {"ExposureTime",
                                     "FNumber",
                                     "ISO",
                                     "ExifVersion",
                                     "DateTimeOriginal",
                                     "LensModel",
                                     "ExifImageWidth",
                                     "ExifImageHeight",
                                     "GPSVersionID",
                                     "GPSLatitudeRef",
                                     "GPSLatitude",
                                     "GPSLongitudeRef",
                                     "GPSLongitude",
                                     "GPSAltitude",
                                     "Orientation",
                                     "Make",
                                     "Artist"};

// exiftool's numeric values of those tags in one file, and its warnings
// and errors, tag → value.
std::map<std::string, std::string> Exiftool(const std::string& file) {
  std::string command = "exiftool -n -S -a -Warning -Error";
  for (const char* tag : kExiftoolTags) command += std::string(" -") + tag;
  const std::string out = Run(command + " '" + file + "'");
  std::map<std::string, std::string> tags;
  std::size_t at = 0;
  while (at < out.size()) {
    std::size_t end = out.find('\n', at);
    if (end == std::string::npos) end = out.size();
    const std::string line = out.substr(at, end - at);
    at = end + 1;
    const std::size_t colon = line.find(": ");
    if (colon != std::string::npos)
      tags[line.substr(0, colon)] = line.substr(colon + 2);
  }
  return tags;
}

bool HaveTiffinfo() {
  return std::system("command -v tiffinfo > /dev/null 2>&1") == 0;
}

// What tiffinfo prints of the EXIF and GPS directories, without the
// offsets they sit at and the pixel dimensions.
std::string TiffinfoSubDirs(const std::string& file) {
  const std::string out = Run("tiffinfo '" + file + "' 2>&1");
  std::string kept;
  std::size_t at = out.find("--- EXIF directory");
  while (at != std::string::npos && at < out.size()) {
    std::size_t end = out.find('\n', at);
    if (end == std::string::npos) end = out.size();
    const std::string line = out.substr(at, end - at);
    at = end + 1;
    if (line.find("Directory at offset") != std::string::npos ||
        line.find("PixelXDimension") != std::string::npos ||
        line.find("PixelYDimension") != std::string::npos)
      continue;
    kept += line + "\n";
  }
  return kept;
}

// The image tags of a file in the order its first directory lists them.
std::vector<std::uint32_t> TagList(const std::string& file) {
  TIFF* t = TIFFOpen(file.c_str(), "r");
  EXPECT_NE(t, nullptr);
  std::vector<std::uint32_t> tags;
  if (!t) return tags;
  const int n = TIFFGetTagListCount(t);
  for (int i = 0; i < n; ++i) tags.push_back(TIFFGetTagListEntry(t, i));
  TIFFClose(t);
  return tags;
}

std::vector<std::uint8_t> BlockOf(TIFF* t, ttag_t tag) {
  std::uint32_t n = 0;
  const std::uint8_t* data = nullptr;
  if (TIFFGetField(t, tag, &n, &data) != 1) return {};
  return std::vector<std::uint8_t>(data, data + n);
}

std::string TextOf(TIFF* t, ttag_t tag) {
  const char* text = nullptr;
  if (TIFFGetField(t, tag, &text) != 1 || !text) return {};
  return text;
}

const TiffEntry* Find(const std::vector<TiffEntry>& entries,
                      std::uint16_t tag) {
  for (const TiffEntry& e : entries)
    if (e.Tag == tag) return &e;
  return nullptr;
}

std::uint32_t LongValue(const TiffEntry& e) {
  std::uint32_t v = 0;
  for (std::size_t i = std::min<std::size_t>(e.Value.size(), 4); i > 0; --i)
    v = (v << 8) | e.Value[i - 1];
  return v;
}

// ---------------------------------------------------------------------------

TEST(MetadataRead, EveryKindFromEveryLayoutOfInput) {
  for (const char* mode : {"w", "wb", "w8", "w8b"}) {
    SCOPED_TRACE(mode);
    TempDir dir;
    const std::string in = dir.File("in.tif");
    InputOptions o;
    o.Mode = mode;
    WriteInput(in, o);
    const ImageMetadata m = ReadFile(in);
    EXPECT_TRUE(m.Dropped.empty());
    EXPECT_EQ(m.IccProfile, SrgbProfile());
    EXPECT_EQ(m.Xmp, Bytes(kXmp));
    EXPECT_EQ(m.Iptc, kIptc);
    EXPECT_EQ(m.ImageDescription, "Dunes at dawn");
    EXPECT_EQ(m.Make, "Trelvi Optics");
    EXPECT_EQ(m.Model, "TX-1");
    EXPECT_EQ(m.DateTime, "2026:06:01 05:42:10");
    EXPECT_EQ(m.Artist, "A. Photographer");
    EXPECT_EQ(m.Copyright, "(c) 2026 A. Photographer");
    EXPECT_EQ(m.Orientation, 6);
    EXPECT_TRUE(m.Resolution.Present);
    EXPECT_DOUBLE_EQ(m.Resolution.X, 96);
    EXPECT_DOUBLE_EQ(m.Resolution.Y, 72);
    EXPECT_EQ(m.Resolution.Unit, ResolutionUnit::Inch);
    EXPECT_EQ(MetadataKinds(m), "EXIF, GPS, XMP, IPTC");

    // Numbers least significant byte first, whatever the file's order.
    const TiffEntry* exposure = Find(m.Exif, 33434);
    ASSERT_NE(exposure, nullptr);
    EXPECT_EQ(exposure->Type, kTiffRational);
    ASSERT_EQ(exposure->Value.size(), 8u);
    const TiffEntry num{0,
                        kTiffLong,
                        1,
                        {exposure->Value.begin(), exposure->Value.begin() + 4}};
    const TiffEntry den{
        0, kTiffLong, 1, {exposure->Value.begin() + 4, exposure->Value.end()}};
    EXPECT_NEAR(double(LongValue(num)) / LongValue(den), 0.004, 1e-9);
    const TiffEntry* width = Find(m.Exif, kExifPixelXDimension);
    ASSERT_NE(width, nullptr);
    EXPECT_EQ(LongValue(*width), kInW);
    const TiffEntry* latitude = Find(m.Gps, 2);
    ASSERT_NE(latitude, nullptr);
    EXPECT_EQ(latitude->Count, 3u);
    EXPECT_EQ(latitude->Value.size(), 24u);
  }
}

TEST(MetadataRead, LeavesTheInputReadableFromWhereItWas) {
  TempDir dir;
  const std::string in = dir.File("in.tif");
  WriteInput(in, {});
  TIFF* t = TIFFOpen(in.c_str(), "rm");
  ASSERT_NE(t, nullptr);
  const toff_t before = TIFFGetSeekProc(t)(TIFFClientdata(t), 0, SEEK_CUR);
  const ImageMetadata m = ReadTiffMetadata(t);
  EXPECT_FALSE(m.Exif.empty());
  EXPECT_EQ(TIFFGetSeekProc(t)(TIFFClientdata(t), 0, SEEK_CUR), before);
  std::vector<std::uint8_t> row(kInW * 3);
  const auto pixels = test::MakePixels(kInW, kInH, 3, 8);
  for (std::uint32_t y = 0; y < kInH; ++y) {
    ASSERT_EQ(TIFFReadScanline(t, row.data(), y, 0), 1);
    ASSERT_EQ(
        0, std::memcmp(row.data(), pixels.data() + y * kInW * 3, row.size()));
  }
  TIFFClose(t);
}

struct RoundTripCase {
  const char* InMode;
  const char* OutMode;
  Writer Out;
};

TEST(MetadataWrite, CarriesEverythingIntoEachKindOfOutput) {
  const bool exiftool = HaveExiftool();
  const bool tiffinfo = HaveTiffinfo();
  const RoundTripCase cases[] = {
      {"w", "w", Writer::Scanlines},
      {"wb", "w", Writer::Scanlines},
      {"w8", "w", Writer::RawStrips},
      {"w", "w8", Writer::Scanlines},
      {"wb", "w8", Writer::RawStrips},
      {"w", "w", Writer::LzwStrips},
      {"w8b", "w8", Writer::LzwStrips},
      // Big-endian outputs: the engine writes none today, but the values
      // must turn with the file.
      {"w", "wb", Writer::Scanlines},
      {"w8", "w8b", Writer::RawStrips},
  };
  constexpr std::uint32_t kOutW = 25, kOutH = 17;  // a crop
  for (const RoundTripCase& c : cases) {
    SCOPED_TRACE(std::string(c.InMode) + " -> " + c.OutMode +
                 (c.Out == Writer::Scanlines ? " rows" : " strips"));
    const bool bigOut = std::string(c.OutMode).find('8') != std::string::npos;
    TempDir dir;
    const std::string in = dir.File("in.tif");
    const std::string out = dir.File("out.tif");
    WriteInput(in, {.Mode = c.InMode});
    const ImageMetadata m = ReadFile(in);
    WriteOutput(out, &m, kOutW, kOutH, c.OutMode, c.Out);

    // The pixels are intact: the directories written ahead of them did
    // not disturb where libtiff put the strips.
    const test::TiffImage img = test::ReadTiff(out);
    EXPECT_EQ(img.BigTiff, bigOut);
    ASSERT_EQ(img.Width, kOutW);
    ASSERT_EQ(img.Height, kOutH);
    const auto pixels = test::MakePixels(kInW, kInH, 3, 8);
    for (std::uint32_t y = 0; y < kOutH; ++y)
      ASSERT_EQ(0, std::memcmp(img.Pixels.data() + y * kOutW * 3,
                               pixels.data() + y * kInW * 3, kOutW * 3))
          << "row " << y;

    TIFF* t = TIFFOpen(out.c_str(), "r");
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(BlockOf(t, TIFFTAG_ICCPROFILE), SrgbProfile());
    EXPECT_EQ(BlockOf(t, TIFFTAG_XMLPACKET), Bytes(kXmp));
    EXPECT_EQ(BlockOf(t, TIFFTAG_RICHTIFFIPTC), kIptc);
    EXPECT_EQ(TextOf(t, TIFFTAG_ARTIST), "A. Photographer");
    EXPECT_EQ(TextOf(t, TIFFTAG_MAKE), "Trelvi Optics");
    std::uint16_t orientation = 0, unit = 0;
    float x = 0, y = 0;
    TIFFGetField(t, TIFFTAG_ORIENTATION, &orientation);
    TIFFGetField(t, TIFFTAG_XRESOLUTION, &x);
    TIFFGetField(t, TIFFTAG_YRESOLUTION, &y);
    TIFFGetField(t, TIFFTAG_RESOLUTIONUNIT, &unit);
    EXPECT_EQ(orientation, 6);
    EXPECT_EQ(x, 96.0f);
    EXPECT_EQ(y, 72.0f);
    EXPECT_EQ(unit, RESUNIT_INCH);
    TIFFClose(t);

    // Read back, every EXIF and GPS value has its bytes; only the pixel
    // dimensions follow the output.
    ImageMetadata back = ReadFile(out);
    EXPECT_TRUE(back.Dropped.empty());
    const TiffEntry* w = Find(back.Exif, kExifPixelXDimension);
    const TiffEntry* h = Find(back.Exif, kExifPixelYDimension);
    ASSERT_TRUE(w && h);
    EXPECT_EQ(LongValue(*w), kOutW);
    EXPECT_EQ(LongValue(*h), kOutH);
    ImageMetadata expected = m;
    SetExifPixelDimensions(expected, kOutW, kOutH);
    ASSERT_EQ(back.Exif.size(), expected.Exif.size());
    for (std::size_t i = 0; i < back.Exif.size(); ++i) {
      EXPECT_EQ(back.Exif[i].Tag, expected.Exif[i].Tag);
      EXPECT_EQ(back.Exif[i].Type, expected.Exif[i].Type);
      EXPECT_EQ(back.Exif[i].Count, expected.Exif[i].Count);
      EXPECT_EQ(back.Exif[i].Value, expected.Exif[i].Value)
          << "tag " << back.Exif[i].Tag;
    }
    ASSERT_EQ(back.Gps.size(), m.Gps.size());
    for (std::size_t i = 0; i < back.Gps.size(); ++i)
      EXPECT_EQ(back.Gps[i].Value, m.Gps[i].Value) << "tag " << m.Gps[i].Tag;

    if (tiffinfo) {
      const std::string sub = TiffinfoSubDirs(out);
      EXPECT_NE(sub.find("LensModel: Test 35mm"), std::string::npos) << sub;
      EXPECT_NE(sub.find("LatitudeRef: N"), std::string::npos) << sub;
      EXPECT_EQ(sub, TiffinfoSubDirs(in));
    }

    if (!exiftool) continue;
    // exiftool reads the same EXIF and GPS from input and output, and has
    // nothing to warn of.
    auto a = Exiftool(in);
    auto b = Exiftool(out);
    EXPECT_EQ(b.count("Warning"), 0u) << b["Warning"];
    EXPECT_EQ(b.count("Error"), 0u) << b["Error"];
    EXPECT_EQ(b["ISO"], "200");
    EXPECT_EQ(b["LensModel"], "Test 35mm");
    EXPECT_EQ(b["ExifImageWidth"], std::to_string(kOutW));
    EXPECT_EQ(b["ExifImageHeight"], std::to_string(kOutH));
    EXPECT_EQ(b["Orientation"], "6");
    // exiftool 12.57 reads a BigTIFF's GPS directory with the EXIF tag
    // names, the one libtiff writes as well as ours; tiffinfo checks those.
    const bool bigTiffGps = bigOut || std::string(c.InMode) == "w8";
    for (const char* tag : kExiftoolTags) {
      if (std::string(tag).rfind("ExifImage", 0) == 0) continue;
      if (bigTiffGps && std::string(tag).rfind("GPS", 0) == 0) continue;
      EXPECT_FALSE(a[tag].empty()) << tag;
      EXPECT_EQ(b[tag], a[tag]) << tag;
    }
  }
}

TEST(MetadataWrite, NoMetadataLeavesTodaysFileUnchanged) {
  TempDir dir;
  const std::string in = dir.File("in.tif");
  InputOptions none;
  none.Exif = none.Gps = none.Blocks = none.Texts = false;
  none.Orientation = 0;
  none.ResX = 0;
  none.ResUnit = 0;
  WriteInput(in, none);
  const ImageMetadata m = ReadFile(in);
  EXPECT_TRUE(m.Empty());
  EXPECT_TRUE(m.Dropped.empty());
  EXPECT_EQ(MetadataKinds(m), "");
  EXPECT_EQ(DroppedWarning(m), "");
  EXPECT_EQ(MetadataBytes(m), 0u);

  for (Writer writer :
       {Writer::Scanlines, Writer::RawStrips, Writer::LzwStrips}) {
    const std::string plain = dir.File("plain.tif");
    const std::string with = dir.File("with.tif");
    WriteOutput(plain, nullptr, 20, 10, "w", writer);
    WriteOutput(with, &m, 20, 10, "w", writer);
    EXPECT_EQ(test::ReadBytes(with), test::ReadBytes(plain));
    EXPECT_EQ(TagList(with), TagList(plain));
  }
}

// What a resolution tag set gives: only inches and centimetres are a size.
TEST(MetadataRead, ResolutionOnlyInInchesOrCentimetres) {
  struct Case {
    float X, Y;
    std::uint16_t Unit;  // 0: no unit tag
    bool Present;
    ResolutionUnit Expected;
  } cases[] = {
      {300, 300, RESUNIT_INCH, true, ResolutionUnit::Inch},
      {118.11f, 118.11f, RESUNIT_CENTIMETER, true, ResolutionUnit::Centimetre},
      {300, 300, 0, true, ResolutionUnit::Inch},  // TIFF's default unit
      {72, 72, RESUNIT_NONE, false, ResolutionUnit::Inch},
      {0, 0, RESUNIT_INCH, false, ResolutionUnit::Inch},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.X) + " unit " + std::to_string(c.Unit));
    TempDir dir;
    const std::string in = dir.File("in.tif");
    InputOptions o;
    o.Exif = o.Gps = o.Blocks = o.Texts = false;
    o.ResX = c.X;
    o.ResY = c.Y;
    o.ResUnit = c.Unit;
    WriteInput(in, o);
    const ImageMetadata m = ReadFile(in);
    EXPECT_EQ(m.Resolution.Present, c.Present);
    if (!c.Present) continue;
    EXPECT_EQ(m.Resolution.Unit, c.Expected);
    EXPECT_NEAR(m.Resolution.X, c.X, 1e-3);

    const std::string out = dir.File("out.tif");
    WriteOutput(out, &m, 10, 10, "w", Writer::Scanlines);
    TIFF* t = TIFFOpen(out.c_str(), "r");
    ASSERT_NE(t, nullptr);
    float x = 0;
    std::uint16_t unit = 0;
    TIFFGetField(t, TIFFTAG_XRESOLUTION, &x);
    TIFFGetField(t, TIFFTAG_RESOLUTIONUNIT, &unit);
    EXPECT_NEAR(x, c.X, 1e-3);
    EXPECT_EQ(unit, c.Expected == ResolutionUnit::Inch ? RESUNIT_INCH
                                                       : RESUNIT_CENTIMETER);
    TIFFClose(t);
  }
}

// ---------------------------------------------------------------------------
// Damaged files: the entries of a classic little-endian file are patched.

std::uint32_t Get32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) |
         (static_cast<std::uint32_t>(b[at + 3]) << 24);
}
void Put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i)
    b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// Where the 12-byte entry of `tag` sits in the directory at `ifd`.
std::size_t EntryAt(const std::vector<std::uint8_t>& b, std::uint32_t ifd,
                    std::uint16_t tag) {
  const std::uint32_t n = b[ifd] | (b[ifd + 1] << 8);
  for (std::uint32_t i = 0; i < n; ++i) {
    const std::size_t at = ifd + 2 + 12 * i;
    if ((b[at] | (b[at + 1] << 8)) == tag) return at;
  }
  ADD_FAILURE() << "no tag " << tag;
  return 0;
}

TEST(MetadataRead, DamagedDirectoriesAreDroppedAndNamed) {
  struct Case {
    const char* Name;
    // Changes the file; main: first directory, exif: the EXIF directory.
    void (*Patch)(std::vector<std::uint8_t>&, std::uint32_t main,
                  std::uint32_t exif);
    std::vector<std::string> Dropped;
    bool ExifKept, GpsKept, XmpKept;
  } cases[] = {
      {"EXIF past the file",
       [](auto& b, auto main, auto) {
         Put32(b, EntryAt(b, main, 34665) + 8, 0xFFFFFF00u);
       },
       {"EXIF (unreadable)"},
       false,
       true,
       true},
      {"EXIF at the image's own directory",
       [](auto& b, auto main, auto) {
         Put32(b, EntryAt(b, main, 34665) + 8, main);
       },
       {"EXIF (unreadable)"},
       false,
       true,
       true},
      {"GPS at the EXIF directory",
       [](auto& b, auto main, auto exif) {
         Put32(b, EntryAt(b, main, 34853) + 8, exif);
       },
       {"GPS (unreadable)"},
       true,
       false,
       true},
      {"EXIF entry count beyond the file",
       [](auto& b, auto, auto exif) {
         b[exif] = 0xFF;
         b[exif + 1] = 0xFF;
       },
       {"EXIF (unreadable)"},
       false,
       true,
       true},
      {"EXIF value past the file",
       [](auto& b, auto, auto exif) {
         Put32(b, EntryAt(b, exif, 33434) + 8,
               static_cast<std::uint32_t>(b.size()) - 4);
       },
       {"EXIF (unreadable)"},
       false,
       true,
       true},
      {"EXIF value count of 2^32 - 1 rationals",
       [](auto& b, auto, auto exif) {
         Put32(b, EntryAt(b, exif, 33434) + 4, 0xFFFFFFFFu);
       },
       {"EXIF (unreadable)"},
       false,
       true,
       true},
      {"XMP claiming 4 GiB",
       [](auto& b, auto main, auto) {
         Put32(b, EntryAt(b, main, 700) + 4, 0xFFFFFFF0u);
       },
       {"XMP (unreadable)"},
       true,
       true,
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    TempDir dir;
    const std::string good = dir.File("good.tif");
    WriteInput(good, {});
    std::vector<std::uint8_t> b = test::ReadBytes(good);
    const std::uint32_t main = Get32(b, 4);
    const std::uint32_t exif = Get32(b, EntryAt(b, main, 34665) + 8);
    c.Patch(b, main, exif);
    const std::string bad = dir.File("bad.tif");
    test::WriteBytes(bad, b);

    TIFF* t = TIFFOpen(bad.c_str(), "rm");
    ASSERT_NE(t, nullptr);
    const ImageMetadata m = ReadTiffMetadata(t);
    TIFFClose(t);
    EXPECT_EQ(m.Dropped, c.Dropped);
    EXPECT_EQ(!m.Exif.empty(), c.ExifKept);
    EXPECT_EQ(!m.Gps.empty(), c.GpsKept);
    EXPECT_EQ(!m.Xmp.empty(), c.XmpKept);
    EXPECT_EQ(m.IccProfile, SrgbProfile());
    EXPECT_EQ(DroppedWarning(m), "Metadata not copied: " + c.Dropped[0]);

    // What is left still makes a good output.
    const std::string out = dir.File("out.tif");
    WriteOutput(out, &m, 12, 8, "w", Writer::Scanlines);
    const ImageMetadata back = ReadFile(out);
    EXPECT_TRUE(back.Dropped.empty());
    EXPECT_EQ(back.IccProfile, m.IccProfile);
    EXPECT_EQ(back.Exif.size(), m.Exif.size());
  }
}

// Photoshop gives IPTC the type LONG; its bytes are a stream all the same,
// which a big-endian file's must not lose by being turned as numbers.
TEST(MetadataRead, IptcTypedLongKeepsItsBytes) {
  TempDir dir;
  const std::string in = dir.File("in.tif");
  InputOptions o;
  o.Mode = "wb";
  o.Exif = o.Gps = false;
  o.Iptc.assign(kIptc.begin(), kIptc.begin() + 28);
  WriteInput(in, o);
  std::vector<std::uint8_t> b = test::ReadBytes(in);
  const auto get16 = [&b](std::size_t at) { return (b[at] << 8) | b[at + 1]; };
  const std::uint32_t main = (get16(4) << 16) | get16(6);
  bool patched = false;
  for (int i = 0, n = get16(main); i < n; ++i) {
    const std::size_t at = main + 2 + 12 * i;
    if (get16(at) != 33723) continue;
    b[at + 2] = 0;
    b[at + 3] = kTiffLong;
    b[at + 4] = b[at + 5] = b[at + 6] = 0;
    b[at + 7] = 7;  // 28 bytes as 7 LONGs
    patched = true;
  }
  ASSERT_TRUE(patched);
  test::WriteBytes(in, b);
  const ImageMetadata m = ReadFile(in);
  EXPECT_EQ(m.Iptc, o.Iptc);
  EXPECT_TRUE(m.Dropped.empty());
}

TEST(MetadataRead, BlockAboveSixteenMebibytesIsDropped) {
  TempDir dir;
  const std::string in = dir.File("in.tif");
  InputOptions o;
  o.Xmp.assign(kMaxMetadataBlockBytes + 1, ' ');
  WriteInput(in, o);
  const ImageMetadata m = ReadFile(in);
  EXPECT_TRUE(m.Xmp.empty());
  EXPECT_EQ(m.Dropped, std::vector<std::string>{"XMP (larger than 16 MiB)"});
  EXPECT_EQ(m.IccProfile, SrgbProfile());
  EXPECT_EQ(m.Iptc, kIptc);
  EXPECT_FALSE(m.Exif.empty());
  EXPECT_EQ(MetadataKinds(m), "EXIF, GPS, IPTC");

  // Exactly the bound is still a block.
  o.Xmp.resize(kMaxMetadataBlockBytes);
  WriteInput(in, o);
  EXPECT_EQ(ReadFile(in).Xmp.size(), kMaxMetadataBlockBytes);
}

// ---------------------------------------------------------------------------

TEST(MetadataBytes, BoundsWhatWritingAdds) {
  TempDir dir;
  const std::string in = dir.File("in.tif");
  WriteInput(in, {});
  const ImageMetadata m = ReadFile(in);
  for (const char* mode : {"w", "w8"}) {
    const std::string plain = dir.File("plain.tif");
    const std::string with = dir.File("with.tif");
    WriteOutput(plain, nullptr, 20, 10, mode, Writer::Scanlines);
    WriteOutput(with, &m, 20, 10, mode, Writer::Scanlines);
    const std::uint64_t added =
        test::ReadBytes(with).size() - test::ReadBytes(plain).size();
    EXPECT_LE(added, MetadataBytes(m)) << mode;
    // The bound is close: it is what decides a BigTIFF.
    EXPECT_GE(added, MetadataBytes(m) * 3 / 4);
  }
}

TEST(MetadataExif, PixelDimensionsFollowTheOutputOrGo) {
  ImageMetadata m;
  TiffEntry shortWidth{kExifPixelXDimension, kTiffShort, 1, {0x10, 0x00}};
  TiffEntry other{33434, kTiffRational, 1, {1, 0, 0, 0, 250, 0, 0, 0}};
  m.Exif = {other, shortWidth};
  SetExifPixelDimensions(m, 150000, 7);
  const TiffEntry* w = Find(m.Exif, kExifPixelXDimension);
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(w->Type, kTiffLong);  // 150000 does not fit a SHORT
  EXPECT_EQ(LongValue(*w), 150000u);
  EXPECT_EQ(Find(m.Exif, kExifPixelYDimension), nullptr);  // not invented
  RemoveExifPixelDimensions(m);
  ASSERT_EQ(m.Exif.size(), 1u);
  EXPECT_EQ(m.Exif[0].Tag, 33434);
}

TEST(MetadataExif, TiffBlobForOtherContainersReadsBack) {
  TempDir dir;
  const std::string in = dir.File("in.tif");
  WriteInput(in, {});
  const ImageMetadata m = ReadFile(in);
  const std::vector<std::uint8_t> blob = ExifTiffBlob(m);
  ASSERT_FALSE(blob.empty());
  const std::string file = dir.File("exif.tif");
  test::WriteBytes(file, blob);

  // libtiff opens no TIFF without an image: exiftool is the reader here.
  if (!HaveExiftool()) GTEST_SKIP() << "exiftool is not installed";
  auto tags = Exiftool(file);
  EXPECT_EQ(tags.count("Error"), 0u) << tags["Error"];
  EXPECT_EQ(tags.count("Warning"), 0u) << tags["Warning"];
  const auto source = Exiftool(in);
  for (const char* tag : kExiftoolTags) {
    EXPECT_FALSE(tags[tag].empty()) << tag;
    EXPECT_EQ(tags[tag], source.at(tag)) << tag;
  }
}

TEST(MetadataProfile, DescribedByLittleCms) {
  const std::vector<std::uint8_t> srgb = SrgbProfile();
  EXPECT_NE(DescribeProfile(srgb).find("sRGB"), std::string::npos)
      << DescribeProfile(srgb);
  std::vector<std::uint8_t> cut(srgb.begin(), srgb.begin() + 100);
  std::vector<std::uint8_t> noise(500);
  for (std::size_t i = 0; i < noise.size(); ++i)
    noise[i] = static_cast<std::uint8_t>(i * 37 + 11);
  for (const auto& bad : {std::vector<std::uint8_t>{}, cut, noise})
    EXPECT_EQ(DescribeProfile(bad), "(unreadable)");
}

}  // namespace
}  // namespace trelvi
