#include "support/metadata_fixture.h"

#include <gtest/gtest.h>
#include <lcms2.h>
#include <tiffio.h>

#include <cstdio>
#include <cstdlib>

#include "support/fixtures.h"

namespace trelvi::test {

const std::vector<std::uint8_t>& SrgbProfile() {
  // Made once: Little CMS stamps a profile with the time it was made.
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

const std::vector<std::uint8_t>& SampleXmp() {
  static const std::string xmp =
      "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>"
      "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF "
      "xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">"
      "<rdf:Description rdf:about=\"\" "
      "xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\" xmp:Rating=\"4\"/>"
      "</rdf:RDF></x:xmpmeta><?xpacket end=\"w\"?>";
  static const std::vector<std::uint8_t> bytes(xmp.begin(), xmp.end());
  return bytes;
}

const std::vector<std::uint8_t>& SampleIptc() {
  static const std::vector<std::uint8_t> iptc = {
      0x1C, 0x02, 0x05, 0x00, 0x05, 'D',  'u',  'n',  'e',
      's',  0x1C, 0x02, 0x78, 0x00, 0x06, 'S',  'a',  'n',
      'd',  ' ',  'a',  0x1C, 0x02, 0x00, 0x00, 0x02, 0x00};
  return iptc;
}

void WriteMetadataTiff(const std::string& fileName, const MetadataSpec& s) {
  TIFFSetWarningHandler(nullptr);
  TIFFSetErrorHandler(nullptr);
  TIFF* t = TIFFOpen(fileName.c_str(), "w");
  ASSERT_NE(t, nullptr);
  // The EXIF and GPS directories first: libtiff writes custom directories
  // only ahead of the image's own.
  std::uint64_t exifAt = 0, gpsAt = 0;
  if (s.Exif) {
    ASSERT_EQ(TIFFCreateEXIFDirectory(t), 0);
    TIFFSetField(t, EXIFTAG_EXPOSURETIME, 1.0 / 250);
    const std::uint16_t iso = 200;
    TIFFSetField(t, EXIFTAG_ISOSPEEDRATINGS, 1, &iso);
    TIFFSetField(t, EXIFTAG_LENSMODEL, s.LensModel.c_str());
    TIFFSetField(t, EXIFTAG_PIXELXDIMENSION, s.Width);
    TIFFSetField(t, EXIFTAG_PIXELYDIMENSION, s.Height);
    ASSERT_EQ(TIFFWriteCustomDirectory(t, &exifAt), 1);
    TIFFFreeDirectory(t);
  }
  if (s.Gps) {
    ASSERT_EQ(TIFFCreateGPSDirectory(t), 0);
    const std::uint8_t version[4] = {2, 3, 0, 0};
    TIFFSetField(t, GPSTAG_VERSIONID, version);
    TIFFSetField(t, GPSTAG_LATITUDEREF, "N");
    const double lat[3] = {48, 51, 24.25};
    TIFFSetField(t, GPSTAG_LATITUDE, lat);
    TIFFSetField(t, GPSTAG_LONGITUDEREF, "E");
    const double lon[3] = {2, 21, 3.5};
    TIFFSetField(t, GPSTAG_LONGITUDE, lon);
    ASSERT_EQ(TIFFWriteCustomDirectory(t, &gpsAt), 1);
    TIFFFreeDirectory(t);
  }
  if (s.Exif || s.Gps) {
    ASSERT_EQ(TIFFCreateDirectory(t), 0);
  }

  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, s.Width);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, s.Height);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 3);
  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, s.RowsPerStrip);
  TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
  if (s.ResX > 0) {
    TIFFSetField(t, TIFFTAG_XRESOLUTION, s.ResX);
    TIFFSetField(t, TIFFTAG_YRESOLUTION, s.ResY);
    TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, s.ResUnit);
  }
  if (!s.Icc.empty())
    TIFFSetField(t, TIFFTAG_ICCPROFILE,
                 static_cast<std::uint32_t>(s.Icc.size()), s.Icc.data());
  if (!s.Xmp.empty())
    TIFFSetField(t, TIFFTAG_XMLPACKET, static_cast<std::uint32_t>(s.Xmp.size()),
                 s.Xmp.data());
  if (!s.Iptc.empty())
    TIFFSetField(t, TIFFTAG_RICHTIFFIPTC,
                 static_cast<std::uint32_t>(s.Iptc.size()), s.Iptc.data());
  if (s.Texts) {
    TIFFSetField(t, TIFFTAG_IMAGEDESCRIPTION, "Dunes at dawn");
    TIFFSetField(t, TIFFTAG_MAKE, "Trelvi Optics");
    TIFFSetField(t, TIFFTAG_MODEL, "TX-1");
    TIFFSetField(t, TIFFTAG_DATETIME, "2026:06:01 05:42:10");
    TIFFSetField(t, TIFFTAG_ARTIST, "A. Photographer");
    TIFFSetField(t, TIFFTAG_COPYRIGHT, "(c) 2026 A. Photographer");
  }
  if (s.Orientation) TIFFSetField(t, TIFFTAG_ORIENTATION, s.Orientation);
  if (s.Exif) TIFFSetField(t, TIFFTAG_EXIFIFD, exifAt);
  if (s.Gps) TIFFSetField(t, TIFFTAG_GPSIFD, gpsAt);
  const auto pixels = MakePixels(s.Width, s.Height, 3, 8);
  const std::size_t row = static_cast<std::size_t>(s.Width) * 3;
  for (std::uint32_t y = 0; y < s.Height; ++y)
    ASSERT_EQ(TIFFWriteScanline(
                  t, const_cast<std::uint8_t*>(pixels.data()) + y * row, y, 0),
              1);
  TIFFClose(t);
}

namespace {
std::vector<std::uint8_t> Block(TIFF* t, ttag_t tag) {
  std::uint32_t n = 0;
  const std::uint8_t* data = nullptr;
  if (TIFFGetField(t, tag, &n, &data) != 1 || !data) return {};
  return std::vector<std::uint8_t>(data, data + n);
}
std::string Text(TIFF* t, ttag_t tag) {
  const char* text = nullptr;
  if (TIFFGetField(t, tag, &text) != 1 || !text) return {};
  return text;
}
}  // namespace

TiffMetadataView ReadMetadataView(const std::string& fileName) {
  TiffMetadataView v;
  TIFF* t = TIFFOpen(fileName.c_str(), "r");
  EXPECT_NE(t, nullptr) << fileName;
  if (!t) return v;
  v.Icc = Block(t, TIFFTAG_ICCPROFILE);
  v.Xmp = Block(t, TIFFTAG_XMLPACKET);
  v.Iptc = Block(t, TIFFTAG_RICHTIFFIPTC);
  v.Description = Text(t, TIFFTAG_IMAGEDESCRIPTION);
  v.Make = Text(t, TIFFTAG_MAKE);
  v.Model = Text(t, TIFFTAG_MODEL);
  v.DateTime = Text(t, TIFFTAG_DATETIME);
  v.Artist = Text(t, TIFFTAG_ARTIST);
  v.Copyright = Text(t, TIFFTAG_COPYRIGHT);
  TIFFGetField(t, TIFFTAG_ORIENTATION, &v.Orientation);
  TIFFGetField(t, TIFFTAG_XRESOLUTION, &v.ResX);
  TIFFGetField(t, TIFFTAG_YRESOLUTION, &v.ResY);
  TIFFGetField(t, TIFFTAG_RESOLUTIONUNIT, &v.ResUnit);
  toff_t gps = 0, exif = 0;
  v.HasGps = TIFFGetField(t, TIFFTAG_GPSIFD, &gps) == 1 && gps != 0;
  if (TIFFGetField(t, TIFFTAG_EXIFIFD, &exif) == 1 && exif != 0 &&
      TIFFReadEXIFDirectory(t, exif) == 1) {
    v.HasExif = true;
    TIFFGetField(t, EXIFTAG_PIXELXDIMENSION, &v.ExifWidth);
    TIFFGetField(t, EXIFTAG_PIXELYDIMENSION, &v.ExifHeight);
    v.LensModel = Text(t, EXIFTAG_LENSMODEL);
  }
  TIFFClose(t);
  return v;
}

std::vector<std::uint32_t> FirstDirectoryTags(const std::string& fileName) {
  const std::vector<std::uint8_t> b = ReadBytes(fileName);
  std::vector<std::uint32_t> tags;
  const auto get16 = [&b](std::size_t at) { return b[at] | (b[at + 1] << 8); };
  if (b.size() < 8 || b[0] != 'I' || get16(2) != 42) {
    ADD_FAILURE() << fileName << " is no classic little-endian TIFF";
    return tags;
  }
  const std::size_t ifd = get16(4) | (static_cast<std::size_t>(get16(6)) << 16);
  if (ifd + 2 > b.size()) return tags;
  const int n = get16(ifd);
  for (int i = 0; i < n && ifd + 2 + 12 * (i + 1) <= b.size(); ++i)
    tags.push_back(get16(ifd + 2 + 12 * static_cast<std::size_t>(i)));
  return tags;
}

bool PatchEntryValue(std::vector<std::uint8_t>& b, std::uint16_t tag,
                     std::uint32_t value) {
  const auto get16 = [&b](std::size_t at) { return b[at] | (b[at + 1] << 8); };
  const std::uint32_t ifd =
      get16(4) | (static_cast<std::uint32_t>(get16(6)) << 16);
  for (int i = 0, n = get16(ifd); i < n; ++i) {
    const std::size_t at = ifd + 2 + 12 * static_cast<std::size_t>(i);
    if (get16(at) != tag) continue;
    for (int k = 0; k < 4; ++k)
      b[at + 8 + k] = static_cast<std::uint8_t>(value >> (8 * k));
    return true;
  }
  return false;
}

bool HaveExiftool() {
  return std::system("exiftool -ver > /dev/null 2>&1") == 0;
}

std::map<std::string, std::string> ExiftoolTags(
    const std::string& fileName, const std::vector<std::string>& tags) {
  std::string command = "exiftool -n -S -a -Warning -Error";
  for (const std::string& tag : tags) command += " -" + tag;
  command += " '" + fileName + "'";
  std::map<std::string, std::string> found;
  FILE* p = popen(command.c_str(), "r");
  if (!p) return found;
  std::string out;
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  pclose(p);
  std::size_t at = 0;
  while (at < out.size()) {
    std::size_t end = out.find('\n', at);
    if (end == std::string::npos) end = out.size();
    const std::string line = out.substr(at, end - at);
    at = end + 1;
    const std::size_t colon = line.find(": ");
    if (colon != std::string::npos)
      found[line.substr(0, colon)] = line.substr(colon + 2);
  }
  return found;
}

}  // namespace trelvi::test
