#include <gtest/gtest.h>
#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/formats/psd/psd_format.h"
#include "engine/formats/psd/psd_reader.h"
#include "engine/formats/psd/psd_rle.h"
#include "engine/formats/psd/psd_writer.h"
#include "support/fixtures.h"

// The large-document format's reader and writer: our files read back, read
// by psd-tools and ImageMagick, files of theirs read by us, and hand-made
// files for every refusal and every kind of damage.
namespace trelvi::psd {
namespace {

using test::MakePixels;
using test::ReadBytes;
using test::TempDir;
using test::WriteBytes;

using Bytes = std::vector<std::uint8_t>;

void Put16(Bytes& b, std::uint32_t v) {
  b.push_back(static_cast<std::uint8_t>(v >> 8));
  b.push_back(static_cast<std::uint8_t>(v));
}
void Put32(Bytes& b, std::uint32_t v) {
  Put16(b, v >> 16);
  Put16(b, v & 0xFFFF);
}
void Put64(Bytes& b, std::uint64_t v) {
  Put32(b, static_cast<std::uint32_t>(v >> 32));
  Put32(b, static_cast<std::uint32_t>(v));
}
void PutText(Bytes& b, const char* text) {
  b.insert(b.end(), text, text + std::strlen(text));
}

// Pixels with runs of many lengths (a whole row of one value among them)
// and stretches without any, so that both PackBits codes occur and cross
// the 128-byte limits; 16-bit samples least significant byte first.
Bytes RunnyPixels(std::uint32_t w, std::uint32_t h, int channels, int bits) {
  Bytes out;
  for (std::uint32_t y = 0; y < h; ++y)
    for (std::uint32_t x = 0; x < w; ++x)
      for (int c = 0; c < channels; ++c) {
        std::uint32_t v;
        switch (y % 4) {
          case 0:
            v = 200 + c;  // one run over the row
            break;
          case 1:
            v = x * 37 + y + c * 11;  // no runs
            break;
          default:
            v = (x / (1 + y % 7 + c)) * 29;
        }
        if (bits == 16) v = v * 257 + c;
        out.push_back(static_cast<std::uint8_t>(v));
        if (bits == 16) out.push_back(static_cast<std::uint8_t>(v >> 8));
      }
  return out;
}

// Interleaved pixels (16-bit least significant first) as the format's
// planes: every row of channel 0, then of channel 1, ..., big-endian.
std::vector<Bytes> Planes(const Bytes& pixels, std::uint32_t w, std::uint32_t h,
                          int channels, int bits) {
  const int bps = bits / 8;
  std::vector<Bytes> planes(static_cast<std::size_t>(channels));
  for (int c = 0; c < channels; ++c)
    for (std::uint64_t i = 0; i < std::uint64_t{w} * h; ++i) {
      const std::uint8_t* s = &pixels[(i * channels + c) * bps];
      if (bps == 2) planes[c].push_back(s[1]);
      planes[c].push_back(s[0]);
    }
  return planes;
}

Bytes Joined(const std::vector<Bytes>& planes) {
  Bytes out;
  for (const Bytes& p : planes) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// The RLE composite of the planes (after the compression word): the row
// counts, then the coded rows.
Bytes RleComposite(const std::vector<Bytes>& planes, std::uint32_t w,
                   std::uint32_t h, int bits, bool psb) {
  const std::size_t rowBytes = std::size_t{w} * (bits / 8);
  Bytes table, rows;
  Bytes coded(PackBitsBound(rowBytes));
  for (const Bytes& p : planes)
    for (std::uint32_t y = 0; y < h; ++y) {
      const std::size_t n =
          PackBitsRow(&p[y * rowBytes], rowBytes, coded.data());
      if (psb)
        Put32(table, static_cast<std::uint32_t>(n));
      else
        Put16(table, static_cast<std::uint32_t>(n));
      rows.insert(rows.end(), coded.begin(), coded.begin() + n);
    }
  table.insert(table.end(), rows.begin(), rows.end());
  return table;
}

// A file built field by field.
struct HandPsd {
  std::uint16_t Version = 1;
  std::uint16_t Channels = 3;
  std::uint32_t Width = 5;
  std::uint32_t Height = 4;
  std::uint16_t Depth = 8;
  std::uint16_t Mode = 3;
  Bytes ColorData;
  // Written as given: resource blocks, or anything.
  Bytes ResourceSection;
  Bytes LayerSection;  // the content after the section's length
  std::uint16_t Compression = 0;
  Bytes Composite;  // after the compression word

  Bytes Build() const {
    Bytes b;
    PutText(b, "8BPS");
    Put16(b, Version);
    b.insert(b.end(), 6, 0);
    Put16(b, Channels);
    Put32(b, Height);
    Put32(b, Width);
    Put16(b, Depth);
    Put16(b, Mode);
    Put32(b, static_cast<std::uint32_t>(ColorData.size()));
    b.insert(b.end(), ColorData.begin(), ColorData.end());
    Put32(b, static_cast<std::uint32_t>(ResourceSection.size()));
    b.insert(b.end(), ResourceSection.begin(), ResourceSection.end());
    if (Version == 2)
      Put64(b, LayerSection.size());
    else
      Put32(b, static_cast<std::uint32_t>(LayerSection.size()));
    b.insert(b.end(), LayerSection.begin(), LayerSection.end());
    Put16(b, Compression);
    b.insert(b.end(), Composite.begin(), Composite.end());
    return b;
  }
};

void PutResource(Bytes& section, std::uint16_t id, const Bytes& data) {
  PutText(section, "8BIM");
  Put16(section, id);
  Put16(section, 0);
  Put32(section, static_cast<std::uint32_t>(data.size()));
  section.insert(section.end(), data.begin(), data.end());
  if (data.size() & 1) section.push_back(0);
}

// A layer section whose layer info holds only a layer count.
Bytes LayerCountSection(std::int16_t count, bool psb) {
  Bytes s;
  if (psb)
    Put64(s, 2);
  else
    Put32(s, 2);
  Put16(s, static_cast<std::uint16_t>(count));
  Put32(s, 0);  // no global layer mask
  return s;
}

// Every row of an open reader, in order; fails the test on a short read.
Bytes ReadAllRows(PsdReader& reader) {
  const std::uint64_t rowBytes = reader.Info().RowBytes();
  Bytes out(rowBytes * reader.Info().Height);
  for (std::uint32_t y = 0; y < reader.Info().Height; ++y) {
    EXPECT_TRUE(reader.ReadRow(y, &out[y * rowBytes])) << "row " << y;
  }
  return out;
}

Bytes ReadPsdFile(const std::string& path, PsdInfo* info = nullptr) {
  PsdReader reader;
  const PsdOpenResult result = reader.Open(path);
  EXPECT_EQ(result, PsdOpenResult::Ok) << path;
  if (result != PsdOpenResult::Ok) return {};
  if (info) *info = reader.Info();
  return ReadAllRows(reader);
}

// The first row ReadRow refuses, or the height when every row reads.
std::uint32_t FirstFailingRow(PsdReader& reader) {
  Bytes row(reader.Info().RowBytes());
  for (std::uint32_t y = 0; y < reader.Info().Height; ++y)
    if (!reader.ReadRow(y, row.data())) return y;
  return reader.Info().Height;
}

bool WritePsdFile(const std::string& path, const PsdWriteSpec& spec,
                  const Bytes& pixels) {
  PsdWriter writer;
  if (!writer.Create(path, spec)) return false;
  for (std::uint32_t y = 0; y < spec.Height; ++y)
    if (!writer.WriteRow(&pixels[y * writer.RowBytes()])) return false;
  return writer.Finish();
}

PsdWriteSpec Spec(std::uint32_t w, std::uint32_t h, int bits,
                  PsdCompression compression = PsdCompression::Raw,
                  std::optional<PsdVersion> version = std::nullopt) {
  PsdWriteSpec s;
  s.Width = w;
  s.Height = h;
  s.Depth = static_cast<std::uint16_t>(bits);
  s.Compression = compression;
  s.Version = version;
  return s;
}

// ---------------------------------------------------------------- PackBits

TEST(PsdPackBits, RowsSurviveCodingWithinTheBound) {
  for (std::size_t n : {1u, 2u, 3u, 127u, 128u, 129u, 130u, 257u, 1000u}) {
    for (int pattern = 0; pattern < 4; ++pattern) {
      Bytes row(n);
      for (std::size_t i = 0; i < n; ++i) {
        switch (pattern) {
          case 0:
            row[i] = 7;
            break;
          case 1:
            row[i] = static_cast<std::uint8_t>(i * 31);
            break;
          case 2:
            row[i] = static_cast<std::uint8_t>((i / 3) * 17);  // runs of 3
            break;
          default:
            row[i] = static_cast<std::uint8_t>(i % 5 < 2 ? 9 : i);
        }
      }
      Bytes coded(PackBitsBound(n));
      const std::size_t size = PackBitsRow(row.data(), n, coded.data());
      ASSERT_LE(size, PackBitsBound(n));
      Bytes back(n);
      ASSERT_TRUE(UnpackBitsRow(coded.data(), size, back.data(), n))
          << n << " " << pattern;
      EXPECT_EQ(back, row) << n << " " << pattern;
    }
  }
}

TEST(PsdPackBits, CodesThatDoNotFillTheRowExactlyAreRefused) {
  struct Case {
    const char* What;
    Bytes Code;
    std::size_t RowBytes;
    bool Ok;
  };
  const Case cases[] = {
      {"literal", {2, 1, 2, 3}, 3, true},
      {"repeat", {0xFE, 5}, 3, true},
      {"no-op bytes skipped", {0x80, 0xFE, 5, 0x80}, 3, true},
      {"literal past the row", {3, 1, 2, 3, 4}, 3, false},
      {"repeat past the row", {0xFD, 5}, 3, false},
      {"row left short", {1, 1, 2}, 3, false},
      {"literal past the code", {4, 1, 2}, 3, false},
      {"repeat without its byte", {0xFE}, 3, false},
      {"code left over", {2, 1, 2, 3, 0}, 3, false},
      {"empty code", {}, 3, false},
  };
  for (const Case& c : cases) {
    Bytes out(c.RowBytes + 8, 0xAA);
    EXPECT_EQ(
        UnpackBitsRow(c.Code.data(), c.Code.size(), out.data(), c.RowBytes),
        c.Ok)
        << c.What;
    for (std::size_t i = c.RowBytes; i < out.size(); ++i)
      ASSERT_EQ(out[i], 0xAA) << c.What << ": wrote past the row";
  }
}

// --------------------------------------------------------------- Round trip

TEST(PsdRoundTrip, OurFilesReadBackInEveryVariant) {
  TempDir dir;
  struct Size {
    std::uint32_t W, H;
  };
  for (Size size : {Size{1, 1}, Size{13, 7}, Size{129, 5}, Size{300, 9}})
    for (int bits : {8, 16})
      for (PsdCompression comp : {PsdCompression::Raw, PsdCompression::Rle})
        for (PsdVersion version : {PsdVersion::Psd, PsdVersion::Psb}) {
          SCOPED_TRACE(::testing::Message()
                       << size.W << "x" << size.H << " bits " << bits << " rle "
                       << (comp == PsdCompression::Rle) << " psb "
                       << (version == PsdVersion::Psb));
          const Bytes pixels = RunnyPixels(size.W, size.H, 3, bits);
          const std::string path = dir.File("r.psd");
          ASSERT_TRUE(WritePsdFile(
              path, Spec(size.W, size.H, bits, comp, version), pixels));
          PsdInfo info;
          EXPECT_EQ(ReadPsdFile(path, &info), pixels);
          EXPECT_EQ(info.Version, version);
          EXPECT_EQ(info.Width, size.W);
          EXPECT_EQ(info.Height, size.H);
          EXPECT_EQ(info.Depth, bits);
          EXPECT_EQ(info.Channels, 3);
          EXPECT_EQ(info.Compression, comp);
          EXPECT_FALSE(info.MergedAlpha);
        }
}

TEST(PsdRoundTrip, RowsReadInAnyOrder) {
  // Jumps, repeats, and a whole pass backward, in a small file and in one
  // whose channels are larger than the reader's window of a channel.
  TempDir dir;
  struct Size {
    std::uint32_t W, H;
  };
  for (Size size : {Size{41, 23}, Size{1000, 700}})
    for (PsdCompression comp : {PsdCompression::Raw, PsdCompression::Rle}) {
      SCOPED_TRACE(::testing::Message()
                   << size.W << " rle " << (comp == PsdCompression::Rle));
      const std::uint32_t w = size.W, h = size.H;
      const Bytes pixels = comp == PsdCompression::Raw
                               ? RunnyPixels(w, h, 3, 16)
                               : MakePixels(w, h, 3, 16);
      const std::string path = dir.File("o.psb");
      ASSERT_TRUE(WritePsdFile(path, Spec(w, h, 16, comp), pixels));
      PsdReader reader;
      ASSERT_EQ(reader.Open(path), PsdOpenResult::Ok);
      const std::uint64_t rb = reader.Info().RowBytes();
      Bytes row(rb);
      std::vector<std::uint32_t> order = {h - 1,     0, h / 2, h / 2 + 1,
                                          h / 2 + 2, 5, h - 1, 1};
      for (std::uint32_t y = h; y-- > 0;) order.push_back(y);
      for (std::uint32_t y : order) {
        ASSERT_TRUE(reader.ReadRow(y, row.data())) << y;
        ASSERT_TRUE(std::equal(row.begin(), row.end(), &pixels[y * rb])) << y;
      }
      EXPECT_FALSE(reader.ReadRow(h, row.data()));
    }
}

TEST(PsdRoundTrip, ResourcesAreCarriedAndTheDefaultsAdded) {
  TempDir dir;
  const Bytes icc = {1, 2, 3, 4, 5};  // odd sizes need the pad byte
  const Bytes xmp = {'<', 'x', '/', '>'};
  const Bytes iptc = {0x1C, 2, 0, 0, 1, 'A', 9};
  const Bytes exif = {'M', 'M', 0, 42, 0, 0, 0, 8};
  const Bytes pixels = MakePixels(6, 3, 3, 8);

  PsdWriteSpec spec = Spec(6, 3, 8);
  spec.Resources = {{kResIccProfile, icc},
                    {kResXmp, xmp},
                    {kResIptc, iptc},
                    {kResExif1, exif},
                    {kResVersionInfo, MakeVersionInfoData(false)}};
  const std::string path = dir.File("m.psd");
  ASSERT_TRUE(WritePsdFile(path, spec, pixels));
  PsdReader reader;
  ASSERT_EQ(reader.Open(path), PsdOpenResult::Ok);  // ours says merged
  for (const PsdResource& r : spec.Resources) {
    if (r.Id == kResVersionInfo) continue;
    const PsdResource* got = reader.Resource(r.Id);
    ASSERT_NE(got, nullptr) << r.Id;
    EXPECT_EQ(got->Data, r.Data) << r.Id;
  }
  double x = 0, y = 0;
  ASSERT_NE(reader.Resource(kResResolution), nullptr);
  ASSERT_TRUE(ParseResolutionData(reader.Resource(kResResolution)->Data, x, y));
  EXPECT_EQ(x, 240.0);
  EXPECT_EQ(y, 240.0);
  const PsdResource* version = reader.Resource(kResVersionInfo);
  ASSERT_NE(version, nullptr);
  bool merged = false;
  ASSERT_TRUE(
      ParseVersionInfoData(version->Data.data(), version->Data.size(), merged));
  EXPECT_TRUE(merged);
  EXPECT_EQ(ReadAllRows(reader), pixels);

  // A resolution given is written instead of the default.
  spec.Resources = {{kResResolution, MakeResolutionData(300.5, 72)}};
  ASSERT_TRUE(WritePsdFile(path, spec, pixels));
  ASSERT_EQ(reader.Open(path), PsdOpenResult::Ok);
  ASSERT_TRUE(ParseResolutionData(reader.Resource(kResResolution)->Data, x, y));
  EXPECT_EQ(x, 300.5);
  EXPECT_EQ(y, 72.0);
}

TEST(PsdRoundTrip, ContentDecidesNotTheName) {
  TempDir dir;
  const Bytes pixels = MakePixels(9, 4, 3, 8);
  const std::string psdAsPsb = dir.File("a.psb");
  const std::string psbAsPsd = dir.File("b.PSD");
  ASSERT_TRUE(WritePsdFile(psdAsPsb, Spec(9, 4, 8), pixels));
  ASSERT_TRUE(WritePsdFile(
      psbAsPsd, Spec(9, 4, 8, PsdCompression::Rle, PsdVersion::Psb), pixels));
  PsdInfo info;
  EXPECT_EQ(ReadPsdFile(psdAsPsb, &info), pixels);
  EXPECT_EQ(info.Version, PsdVersion::Psd);
  EXPECT_EQ(ReadPsdFile(psbAsPsd, &info), pixels);
  EXPECT_EQ(info.Version, PsdVersion::Psb);

  // A TIFF named .psd is not this format.
  test::TiffSpec tiff;
  tiff.Width = 4;
  tiff.Height = 2;
  test::WriteTiff(dir.File("t.psd"), tiff);
  PsdReader reader;
  EXPECT_EQ(reader.Open(dir.File("t.psd")), PsdOpenResult::NotPsd);
  EXPECT_EQ(reader.Open(dir.File("missing.psd")), PsdOpenResult::CannotOpen);
  const Bytes head = ReadBytes(psbAsPsd);
  EXPECT_EQ(DetectPsd(head.data(), head.size()), PsdVersion::Psb);
  EXPECT_EQ(DetectPsd(head.data(), 5), std::nullopt);
}

TEST(PsdLargeFiles, RowsBeyondFourGibibytesAreFoundInSparseFiles) {
  // A PSB whose last rows lie past 4 GiB (6 to 13 GB into a sparse file):
  // only those rows are written, so positions computed in 32 bits would
  // read zeros or fail.
  TempDir dir;
  const std::uint32_t w = 100000, h = 30000;
  const std::uint64_t plane = w;
  Bytes rows[3];
  for (int c = 0; c < 3; ++c) {
    rows[c].resize(plane);
    for (std::uint64_t x = 0; x < plane; ++x)
      rows[c][x] = static_cast<std::uint8_t>(x / (c + 2) * 13 + c);
  }
  auto check = [&](const std::string& path) {
    PsdReader reader;
    ASSERT_EQ(reader.Open(path), PsdOpenResult::Ok);
    Bytes row(reader.Info().RowBytes());
    ASSERT_TRUE(reader.ReadRow(h - 1, row.data()));
    for (std::uint64_t x = 0; x < plane; ++x)
      for (int c = 0; c < 3; ++c)
        ASSERT_EQ(row[x * 3 + c], rows[c][x]) << x << " " << c;
  };
  auto place = [&](const std::string& path, const Bytes& head,
                   const std::vector<std::pair<std::uint64_t, Bytes>>& parts,
                   std::uint64_t size) {
    WriteBytes(path, head);
    std::error_code ec;
    std::filesystem::resize_file(path, size, ec);
    if (ec) return false;
    std::fstream f(path, std::ios::binary | std::ios::in | std::ios::out);
    for (const auto& [at, bytes] : parts) {
      f.seekp(static_cast<std::streamoff>(at));
      f.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    }
    return f.good();
  };

  HandPsd p;
  p.Version = 2;
  p.Width = w;
  p.Height = h;
  const Bytes head = p.Build();  // ends with the compression word
  std::vector<std::pair<std::uint64_t, Bytes>> parts;
  for (int c = 0; c < 3; ++c)
    parts.push_back(
        {head.size() + (std::uint64_t(c) * h + h - 1) * plane, rows[c]});
  if (!place(dir.File("raw.psb"), head, parts, head.size() + 3 * h * plane))
    GTEST_SKIP() << "no sparse files here";
  check(dir.File("raw.psb"));

  // RLE: every row's count is 150000 (its code padded with no-op bytes),
  // so that the counts add up past 4 GiB.
  const std::uint64_t count = 150000;
  p.Compression = 1;
  p.Composite.clear();
  for (std::uint64_t i = 0; i < 3 * std::uint64_t{h}; ++i)
    Put32(p.Composite, static_cast<std::uint32_t>(count));
  const Bytes rleHead = p.Build();
  parts.clear();
  for (int c = 0; c < 3; ++c) {
    Bytes coded(PackBitsBound(plane));
    coded.resize(PackBitsRow(rows[c].data(), plane, coded.data()));
    ASSERT_LE(coded.size(), count);
    coded.resize(count, 0x80);
    parts.push_back(
        {rleHead.size() + (std::uint64_t(c) * h + h - 1) * count, coded});
  }
  ASSERT_TRUE(place(dir.File("rle.psb"), rleHead, parts,
                    rleHead.size() + 3 * h * count));
  check(dir.File("rle.psb"));
}

// ------------------------------------------------------- Version and writer

TEST(PsdWriterChoice, PsdOnlyWhereBothSidesAndTheSizeFit) {
  struct Case {
    std::uint32_t W, H;
    int Bits;
    PsdCompression Comp;
    PsdVersion Want;
  };
  const Case cases[] = {
      {30000, 20000, 8, PsdCompression::Raw, PsdVersion::Psd},  // 1.8 GB
      {30000, 30000, 8, PsdCompression::Raw, PsdVersion::Psb},  // 2.7 GB
      {30001, 10, 8, PsdCompression::Raw, PsdVersion::Psb},
      {10, 30001, 8, PsdCompression::Raw, PsdVersion::Psb},
      {20000, 20000, 16, PsdCompression::Raw, PsdVersion::Psb},  // 2.4 GB
      {25000, 14000, 16, PsdCompression::Raw, PsdVersion::Psd},  // 2.1e9
      // RLE is judged by the most it can take.
      {30000, 23800, 8, PsdCompression::Raw, PsdVersion::Psd},
      {30000, 23800, 8, PsdCompression::Rle, PsdVersion::Psb},
      {150000, 150000, 16, PsdCompression::Raw, PsdVersion::Psb},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ChoosePsdVersion(Spec(c.W, c.H, c.Bits, c.Comp)), c.Want)
        << c.W << "x" << c.H << " " << c.Bits;
  }
  // The size limit is the exact file size, resources included.
  PsdWriteSpec edge = Spec(30000, 23860, 8);
  const std::uint64_t bytes = PsdFileBytes(edge, PsdVersion::Psd);
  ASSERT_LT(bytes, kPsdMaxFileBytes);
  // An XMP block (12 bytes of block header, the data, a pad byte after odd
  // data) that brings the file to exactly 2 GiB, and one 2 bytes smaller.
  std::uint64_t xmp = kPsdMaxFileBytes - bytes - 12;
  xmp -= xmp & 1;
  edge.Resources = {{kResXmp, Bytes(xmp, 0)}};
  EXPECT_EQ(PsdFileBytes(edge, PsdVersion::Psd), kPsdMaxFileBytes);
  EXPECT_EQ(ChoosePsdVersion(edge), PsdVersion::Psb);
  edge.Resources[0].Data.resize(xmp - 2);
  EXPECT_EQ(ChoosePsdVersion(edge), PsdVersion::Psd);
  EXPECT_STREQ(PsdExtension(PsdVersion::Psd), ".psd");
  EXPECT_STREQ(PsdExtension(PsdVersion::Psb), ".psb");
}

TEST(PsdWriterChoice, RawFilesHaveTheSizeAnnounced) {
  TempDir dir;
  for (PsdVersion v : {PsdVersion::Psd, PsdVersion::Psb}) {
    PsdWriteSpec spec = Spec(17, 5, 16, PsdCompression::Raw, v);
    spec.Resources = {{kResIccProfile, Bytes(33, 7)}};
    ASSERT_TRUE(
        WritePsdFile(dir.File("s.psd"), spec, MakePixels(17, 5, 3, 16)));
    EXPECT_EQ(std::uint64_t(test::ReadBytes(dir.File("s.psd")).size()),
              PsdFileBytes(spec, v));
  }
}

TEST(PsdWriterFailures, NothingIsLeftOfAFileThatCannotBeCompleted) {
  TempDir dir;
  const std::string path = dir.File("f.psd");
  const Bytes pixels = MakePixels(8, 4, 3, 8);
  for (PsdCompression comp : {PsdCompression::Raw, PsdCompression::Rle}) {
    {
      // Too few rows.
      PsdWriter writer;
      ASSERT_TRUE(writer.Create(path, Spec(8, 4, 8, comp)));
      for (std::uint32_t y = 0; y < 3; ++y)
        ASSERT_TRUE(writer.WriteRow(&pixels[y * writer.RowBytes()]));
      EXPECT_FALSE(writer.Finish());
      EXPECT_FALSE(std::filesystem::exists(path));
    }
    {
      // Abandoned: the destructor removes it.
      PsdWriter writer;
      ASSERT_TRUE(writer.Create(path, Spec(8, 4, 8, comp)));
      ASSERT_TRUE(writer.WriteRow(pixels.data()));
    }
    EXPECT_FALSE(std::filesystem::exists(path));
    {
      // One row too many is refused; the file stays good.
      PsdWriter writer;
      ASSERT_TRUE(writer.Create(path, Spec(8, 4, 8, comp)));
      for (std::uint32_t y = 0; y < 4; ++y)
        ASSERT_TRUE(writer.WriteRow(&pixels[y * writer.RowBytes()]));
      EXPECT_FALSE(writer.WriteRow(pixels.data()));
      EXPECT_TRUE(writer.Finish());
      EXPECT_EQ(ReadPsdFile(path), pixels);
    }
  }
  // Specs that cannot be written create nothing.
  PsdWriter writer;
  EXPECT_FALSE(writer.Create(path + "x", Spec(0, 4, 8)));
  EXPECT_FALSE(writer.Create(path + "x", Spec(4, 4, 12)));
  EXPECT_FALSE(writer.Create(
      path + "x", Spec(30001, 4, 8, PsdCompression::Raw, PsdVersion::Psd)));
  EXPECT_FALSE(writer.Create(path + "x", Spec(300001, 4, 8)));
  EXPECT_FALSE(std::filesystem::exists(path + "x"));
  EXPECT_FALSE(writer.Create(dir.File("no/such/folder.psd"), Spec(4, 4, 8)));

  // The spill files of an RLE writer leave nothing in the folder.
  ASSERT_TRUE(WritePsdFile(path, Spec(8, 4, 8, PsdCompression::Rle), pixels));
  int files = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir.Path())) {
    (void)e;
    ++files;
  }
  EXPECT_EQ(files, 1);
}

TEST(PsdWriterFailures, AFileThatCannotGrowIsReportedAndRemoved) {
  // The file size limit of a child process stands in for a full disk: a
  // write past it fails as on a full volume.
  TempDir dir;
  const Bytes pixels = RunnyPixels(200, 100, 3, 8);
  for (PsdCompression comp : {PsdCompression::Raw, PsdCompression::Rle}) {
    const std::string path = dir.File("big.psd");
    EXPECT_EXIT(
        {
          std::signal(SIGXFSZ, SIG_IGN);
          struct rlimit limit {};
          limit.rlim_cur = limit.rlim_max = 20000;
          setrlimit(RLIMIT_FSIZE, &limit);
          PsdWriter writer;
          bool ok = writer.Create(path, Spec(200, 100, 8, comp));
          for (std::uint32_t y = 0; ok && y < 100; ++y)
            ok = writer.WriteRow(&pixels[y * writer.RowBytes()]);
          ok = ok && writer.Finish();
          std::_Exit(!ok && !std::filesystem::exists(path) ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
  }
}

// ---------------------------------------------------------------- Refusals

TEST(PsdRefusals, EachHasItsMessage) {
  const Bytes planes8(5 * 4 * 3, 9);
  auto rgb = [&] {
    HandPsd p;
    p.Composite = planes8;
    return p;
  };
  Bytes noMerged, merged, truncatedInfo;
  PutResource(noMerged, kResVersionInfo, MakeVersionInfoData(false));
  PutResource(merged, kResVersionInfo, MakeVersionInfoData(true));
  {
    Bytes data = MakeVersionInfoData(false);
    data.resize(data.size() - 1);  // the file version cut short
    PutResource(truncatedInfo, kResVersionInfo, data);
  }
  struct Case {
    const char* What;
    HandPsd File;
    PsdOpenResult Want;
    const char* Message;
  };
  std::vector<Case> cases;
  auto add = [&](const char* what, auto change, PsdOpenResult want,
                 const char* message) {
    HandPsd p = rgb();
    change(p);
    cases.push_back({what, p, want, message});
  };
  add(
      "rgb", [](HandPsd&) {}, PsdOpenResult::Ok, "");
  add(
      "greyscale", [](HandPsd& p) { p.Mode = 1; }, PsdOpenResult::NotRgb,
      "The image must be RGB");
  add(
      "cmyk",
      [](HandPsd& p) {
        p.Mode = 4;
        p.Channels = 4;
      },
      PsdOpenResult::NotRgb, "The image must be RGB");
  add(
      "indexed with a palette",
      [](HandPsd& p) {
        p.Mode = 2;
        p.Channels = 1;
        p.ColorData.assign(768, 1);
      },
      PsdOpenResult::NotRgb, "The image must be RGB");
  add(
      "bitmap",
      [](HandPsd& p) {
        p.Mode = 0;
        p.Depth = 1;
        p.Channels = 1;
      },
      PsdOpenResult::NotRgb, "The image must be RGB");
  add(
      "1 bit rgb", [](HandPsd& p) { p.Depth = 1; },
      PsdOpenResult::NotEightOrSixteenBits, "The image must be 8 or 16 bits");
  add(
      "32 bits", [](HandPsd& p) { p.Depth = 32; },
      PsdOpenResult::NotEightOrSixteenBits, "The image must be 8 or 16 bits");
  add(
      "zip", [](HandPsd& p) { p.Compression = 2; },
      PsdOpenResult::CompressionNotSupported,
      "The image compression is not supported");
  add(
      "zip with prediction", [](HandPsd& p) { p.Compression = 3; },
      PsdOpenResult::CompressionNotSupported,
      "The image compression is not supported");
  add(
      "unknown compression", [](HandPsd& p) { p.Compression = 9; },
      PsdOpenResult::CompressionNotSupported,
      "The image compression is not supported");
  add(
      "no merged image", [&](HandPsd& p) { p.ResourceSection = noMerged; },
      PsdOpenResult::NoMergedImage,
      "The file holds no merged image: save it with maximum compatibility");
  add(
      "merged image", [&](HandPsd& p) { p.ResourceSection = merged; },
      PsdOpenResult::Ok, "");
  add(
      "version information missing a field is ignored",
      [&](HandPsd& p) { p.ResourceSection = truncatedInfo; }, PsdOpenResult::Ok,
      "");
  add(
      "zero width", [](HandPsd& p) { p.Width = 0; }, PsdOpenResult::ZeroSize,
      "Height or Width = 0");
  add(
      "zero height", [](HandPsd& p) { p.Height = 0; }, PsdOpenResult::ZeroSize,
      "Height or Width = 0");
  add(
      "psd beyond 30000", [](HandPsd& p) { p.Width = 30001; },
      PsdOpenResult::Damaged, "Read file error");
  add(
      "psb beyond 300000",
      [](HandPsd& p) {
        p.Version = 2;
        p.Height = 300001;
      },
      PsdOpenResult::Damaged, "Read file error");
  add(
      "two channels", [](HandPsd& p) { p.Channels = 2; },
      PsdOpenResult::Damaged, "Read file error");
  add(
      "57 channels", [](HandPsd& p) { p.Channels = 57; },
      PsdOpenResult::Damaged, "Read file error");
  add(
      "version 3", [](HandPsd& p) { p.Version = 3; }, PsdOpenResult::NotPsd,
      "");

  TempDir dir;
  for (const Case& c : cases) {
    const std::string path = dir.File("h.psd");
    WriteBytes(path, c.File.Build());
    PsdReader reader;
    EXPECT_EQ(reader.Open(path), c.Want) << c.What;
    EXPECT_STREQ(PsdOpenMessage(c.Want), c.Message) << c.What;
    EXPECT_EQ(reader.IsOpen(), c.Want == PsdOpenResult::Ok) << c.What;
  }
}

TEST(PsdRefusals, RefusedFilesStillTellTheirFacts) {
  TempDir dir;
  HandPsd p;
  p.Mode = 4;
  p.Channels = 5;
  p.Width = 640;
  p.Height = 480;
  p.Depth = 16;
  WriteBytes(dir.File("c.psd"), p.Build());
  PsdReader reader;
  ASSERT_EQ(reader.Open(dir.File("c.psd")), PsdOpenResult::NotRgb);
  EXPECT_EQ(reader.Info().Width, 640u);
  EXPECT_EQ(reader.Info().Height, 480u);
  EXPECT_EQ(reader.Info().Depth, 16);
  EXPECT_EQ(reader.Info().Channels, 5);
  EXPECT_EQ(reader.Info().ColorMode, 4);
}

// ----------------------------------------------------------- Extra channels

TEST(PsdChannels, AFourthChannelIsAlphaOnlyWhenMarkedAsMergedTransparency) {
  TempDir dir;
  const std::uint32_t w = 7, h = 3;
  struct Case {
    const char* What;
    int Channels;
    int Bits;
    bool Psb;
    // Builds the layer section (the content after its length).
    Bytes Layers;
    bool Alpha;
  };
  auto tagged = [](const char* key, const Bytes& data, bool longLength) {
    Bytes s;
    PutText(s, "8BIM");
    PutText(s, key);
    if (longLength)
      Put64(s, data.size());
    else
      Put32(s, static_cast<std::uint32_t>(data.size()));
    s.insert(s.end(), data.begin(), data.end());
    return s;
  };
  auto globalBlocks = [&](const Bytes& blocks, bool psb) {
    Bytes s;
    if (psb)
      Put64(s, 0);
    else
      Put32(s, 0);  // empty layer info
    Put32(s, 0);    // empty global layer mask
    s.insert(s.end(), blocks.begin(), blocks.end());
    return s;
  };
  Bytes negative;
  Put16(negative, 0xFFFF);  // -1 layers
  Bytes positive;
  Put16(positive, 1);
  const Case cases[] = {
      {"no layer section", 4, 8, false, {}, false},
      {"negative layer count", 4, 8, false, LayerCountSection(-1, false), true},
      {"positive layer count", 4, 8, false, LayerCountSection(1, false), false},
      {"negative count, psb", 4, 16, true, LayerCountSection(-2, true), true},
      {"five channels: the fourth is alpha, the fifth ignored", 5, 8, false,
       LayerCountSection(-1, false), true},
      {"five channels, no transparency", 5, 16, false, {}, false},
      {"16-bit layers block with a negative count", 4, 16, false,
       globalBlocks(tagged("Lr16", negative, false), false), true},
      {"16-bit layers block, psb", 4, 16, true,
       globalBlocks(tagged("Lr16", negative, true), true), true},
      {"layers block with a positive count", 4, 16, false,
       globalBlocks(tagged("Lr16", positive, false), false), false},
      {"merged transparency block", 4, 8, false,
       globalBlocks(Joined({tagged("Patt", Bytes(6, 0), false),
                            tagged("Mtrn", Bytes(4, 0), false)}),
                    false),
       true},
      {"three channels and a negative count", 3, 8, false,
       LayerCountSection(-1, false), false},
  };
  for (const Case& c : cases) {
    for (bool rle : {false, true}) {
      SCOPED_TRACE(::testing::Message() << c.What << " rle " << rle);
      const Bytes pixels = RunnyPixels(w, h, c.Channels, c.Bits);
      const auto planes = Planes(pixels, w, h, c.Channels, c.Bits);
      HandPsd p;
      p.Version = c.Psb ? 2 : 1;
      p.Channels = static_cast<std::uint16_t>(c.Channels);
      p.Width = w;
      p.Height = h;
      p.Depth = static_cast<std::uint16_t>(c.Bits);
      p.LayerSection = c.Layers;
      p.Compression = rle ? 1 : 0;
      p.Composite =
          rle ? RleComposite(planes, w, h, c.Bits, c.Psb) : Joined(planes);
      WriteBytes(dir.File("a.psd"), p.Build());
      PsdInfo info;
      const Bytes got = ReadPsdFile(dir.File("a.psd"), &info);
      EXPECT_EQ(info.MergedAlpha, c.Alpha);
      const int kept = c.Alpha ? 4 : 3;
      EXPECT_EQ(info.RowChannels(), kept);
      Bytes want;
      const int bps = c.Bits / 8;
      for (std::size_t i = 0; i < std::size_t{w} * h; ++i)
        want.insert(want.end(), &pixels[i * c.Channels * bps],
                    &pixels[i * c.Channels * bps] + kept * bps);
      EXPECT_EQ(got, want);
    }
  }
}

// ------------------------------------------------- Damaged and hostile files

TEST(PsdDamage, TruncatedFilesFailAtTheRowWhereTheyEnd) {
  TempDir dir;
  const std::uint32_t w = 13, h = 7;
  const Bytes pixels = RunnyPixels(w, h, 3, 8);
  for (PsdCompression comp : {PsdCompression::Raw, PsdCompression::Rle}) {
    const std::string full = dir.File("full.psd");
    ASSERT_TRUE(WritePsdFile(full, Spec(w, h, 8, comp), pixels));
    const Bytes bytes = ReadBytes(full);
    PsdReader reader;
    struct Cut {
      const char* What;
      std::uint64_t Keep;
      std::uint32_t FirstBad;
    };
    const std::uint64_t rowsStart =
        bytes.size() - (comp == PsdCompression::Raw ? 3 * w * h : 0);
    std::vector<Cut> cuts = {
        {"last byte", bytes.size() - 1, h - 1},
    };
    if (comp == PsdCompression::Raw) {
      // Row y needs row y of every channel: without channel 2 no row
      // reads; with its first five rows, five rows do.
      cuts.push_back({"channel 2 missing", rowsStart + 2 * w * h, 0});
      cuts.push_back(
          {"channel 2 ends after row 4", rowsStart + 2 * w * h + 5 * w, 5});
    }
    for (const Cut& cut : cuts) {
      const std::string path = dir.File("cut.psd");
      WriteBytes(path, Bytes(bytes.begin(), bytes.begin() + cut.Keep));
      ASSERT_EQ(reader.Open(path), PsdOpenResult::Ok) << cut.What;
      EXPECT_EQ(FirstFailingRow(reader), cut.FirstBad) << cut.What;
      // The rows before are good.
      Bytes row(reader.Info().RowBytes());
      for (std::uint32_t y = 0; y < cut.FirstBad; ++y) {
        ASSERT_TRUE(reader.ReadRow(y, row.data()));
        EXPECT_TRUE(std::equal(row.begin(), row.end(), &pixels[y * 3 * w]));
      }
    }
  }
  // Cut before the composite: refused as damaged.
  const std::string full = dir.File("full.psd");
  ASSERT_TRUE(WritePsdFile(full, Spec(w, h, 8), pixels));
  const Bytes bytes = ReadBytes(full);
  for (std::uint64_t keep : {20u, 26u, 29u, 40u, 100u}) {
    WriteBytes(dir.File("cut.psd"), Bytes(bytes.begin(), bytes.begin() + keep));
    PsdReader reader;
    EXPECT_EQ(reader.Open(dir.File("cut.psd")), PsdOpenResult::Damaged) << keep;
  }
}

// Bytes the allocator hands out at the moment: what a reader holds.
std::size_t HeapInUse() {
  const struct mallinfo2 m = mallinfo2();
  return m.uordblks + m.hblkhd;
}

TEST(PsdDamage, HostileRleTablesFailTheirRows) {
  TempDir dir;
  const std::uint32_t w = 6, h = 4;
  const Bytes pixels = RunnyPixels(w, h, 3, 8);
  const auto planes = Planes(pixels, w, h, 3, 8);
  const Bytes good = RleComposite(planes, w, h, 8, false);
  const std::size_t table = 3 * h * 2;
  auto count = [&](const Bytes& c, std::size_t i) {
    return std::size_t(c[2 * i]) << 8 | c[2 * i + 1];
  };
  struct Case {
    const char* What;
    Bytes Composite;
    std::uint32_t FirstBad;
  };
  std::vector<Case> cases;
  {
    // Row 2 of channel 0 claims a count past the file's end: every later
    // row, row 0 of the other channels among them, moves past it.
    Bytes c = good;
    c[2 * 2] = 0xFF;
    c[2 * 2 + 1] = 0xF0;
    cases.push_back({"count of channel 0 past the end", c, 0});
    // The same for the last row of the last channel.
    c = good;
    c[table - 2] = 0xFF;
    cases.push_back({"count of the last row past the end", c, h - 1});
  }
  {
    // Row 1 of channel 2 one byte longer: it takes the next row's first
    // code byte, which decodes to more than the row.
    Bytes c = good;
    const std::size_t i = 2 * h + 1;
    const std::size_t n = count(c, i) + 1;
    c[2 * i] = static_cast<std::uint8_t>(n >> 8);
    c[2 * i + 1] = static_cast<std::uint8_t>(n);
    cases.push_back({"row decoding to more", c, 1});
  }
  {
    // Row 3 of channel 2 one byte shorter: the row comes out short.
    Bytes c = good;
    const std::size_t i = 2 * h + 3;
    const std::size_t n = count(c, i) - 1;
    c[2 * i] = static_cast<std::uint8_t>(n >> 8);
    c[2 * i + 1] = static_cast<std::uint8_t>(n);
    c.pop_back();
    cases.push_back({"row decoding to less", c, 3});
  }
  {
    // A literal header claiming more bytes than the row has.
    Bytes c(good.begin(), good.begin() + table);
    for (std::size_t i = 0; i < 3 * h; ++i) {
      c[2 * i] = 0;
      c[2 * i + 1] = 2;
    }
    for (std::size_t i = 0; i < 3 * h; ++i) c.insert(c.end(), {100, 1});
    cases.push_back({"literal longer than the row", c, 0});
  }
  {
    Bytes c(good.begin(), good.begin() + table);
    for (std::size_t i = 0; i < table; ++i) c[i] = 0;
    cases.push_back({"every count 0", c, 0});
  }
  cases.push_back(
      {"table cut short", Bytes(good.begin(), good.begin() + table - 3), 0});
  for (const Case& c : cases) {
    HandPsd p;
    p.Width = w;
    p.Height = h;
    p.Compression = 1;
    p.Composite = c.Composite;
    WriteBytes(dir.File("t.psd"), p.Build());
    PsdReader reader;
    ASSERT_EQ(reader.Open(dir.File("t.psd")), PsdOpenResult::Ok) << c.What;
    EXPECT_EQ(FirstFailingRow(reader), c.FirstBad) << c.What;
  }
}

TEST(PsdDamage, HugeClaimsCostNoMemory) {
  // Headers claiming the largest images over a few hundred bytes: the
  // reader holds only what the file's size and one row justify.
  TempDir dir;
  struct Case {
    const char* What;
    HandPsd File;
  };
  std::vector<Case> cases;
  for (std::uint16_t comp : {0, 1})
    for (std::uint16_t version : {1, 2}) {
      HandPsd p;
      p.Version = version;
      p.Width = version == 2 ? 300000 : 30000;
      p.Height = p.Width;
      p.Channels = 56;
      p.Depth = 16;
      p.Compression = comp;
      p.Composite = Bytes(300, 0x81);
      cases.push_back({comp ? "rle" : "raw", p});
    }
  {
    // An RLE table that fits the file and claims rows far past it.
    HandPsd p;
    p.Width = 30000;
    p.Height = 30000;
    p.Depth = 16;
    p.Compression = 1;
    p.Composite = Bytes(3 * 30000 * 2, 0xFF);
    cases.push_back({"fitting table of long rows", p});
  }
  {
    // Resource and layer section lengths past the end.
    HandPsd p;
    p.ResourceSection = Bytes(12, 0);
    Bytes b = p.Build();
    b[30] = b[31] = b[32] = b[33] = 0xFF;
    WriteBytes(dir.File("res.psd"), b);
    PsdReader reader;
    EXPECT_EQ(reader.Open(dir.File("res.psd")), PsdOpenResult::Damaged);
    HandPsd q;
    q.Version = 2;
    q.LayerSection = Bytes(8, 0xFF);  // the 16-bit count block, garbage
    b = q.Build();
    for (int i = 0; i < 8; ++i) b[34 + i] = 0x7F;
    WriteBytes(dir.File("lay.psb"), b);
    EXPECT_EQ(reader.Open(dir.File("lay.psb")), PsdOpenResult::Damaged);
  }
  for (const Case& c : cases) {
    WriteBytes(dir.File("huge.psd"), c.File.Build());
    const std::size_t before = HeapInUse();
    PsdReader reader;
    ASSERT_EQ(reader.Open(dir.File("huge.psd")), PsdOpenResult::Ok) << c.What;
    EXPECT_EQ(FirstFailingRow(reader), 0u) << c.What;
    // One row of one channel (600 KB at most) plus what the file holds.
    EXPECT_LT(HeapInUse() - before, std::size_t{2} << 20) << c.What;
  }
}

// --------------------------------------------------- Independent programs

std::string Quote(const std::string& s) { return "'" + s + "'"; }

int Shell(const std::string& command) { return std::system(command.c_str()); }

// A Python that has psd-tools, or empty.
const std::string& PsdToolsPython() {
  static const std::string found = [] {
    for (const char* py : {"/usr/bin/python3", "python3"})
      if (Shell(std::string(py) +
                " -c 'import psd_tools, numpy' >/dev/null 2>&1") == 0)
        return std::string(py);
    return std::string();
  }();
  return found;
}

// ImageMagick's convert, or empty (a stand-in of the same name that is not
// ImageMagick does not count).
const std::string& Convert() {
  static const std::string found = [] {
    for (const char* c :
         {"/usr/bin/convert", "/usr/bin/convert-im6.q16", "/usr/bin/magick"})
      if (access(c, X_OK) == 0 &&
          Shell(std::string(c) +
                " -version 2>/dev/null | grep -q '^Version: ImageMagick'") == 0)
        return std::string(c);
    return std::string();
  }();
  return found;
}

// Writes a small ICC-shaped profile: ImageMagick attaches it as it is.
Bytes SmallProfile() {
  Bytes p;
  Put32(p, 132);
  PutText(p, "none");
  Put32(p, 0x02100000);
  PutText(p, "mntrRGB XYZ ");
  p.resize(36, 0);
  PutText(p, "acspAPPL");
  p.resize(128, 0);
  Put32(p, 0);  // no tags
  return p;
}

// psd-tools reads a file: header facts on one line, the decoded planes of
// the composite, and for 8 bits its own RGB picture of it.
const char* kPsdToolsRead = R"(
import sys
from psd_tools import PSDImage
from psd_tools.constants import Resource
p = PSDImage.open(sys.argv[1])
h = p._record.header
open(sys.argv[2], 'wb').write(b''.join(p._record.image_data.get_data(h)))
if h.depth == 8:
    open(sys.argv[3], 'wb').write(p.topil().convert('RGB').tobytes())
icc = p.image_resources.get_data(Resource.ICC_PROFILE) or b''
open(sys.argv[4], 'wb').write(icc)
print(h.version, h.width, h.height, h.depth, h.channels, int(p._record.image_data.compression))
)";

// psd-tools writes a file from planes.
const char* kPsdToolsWrite = R"(
import sys
from psd_tools.psd import PSD
from psd_tools.psd.header import FileHeader
from psd_tools.psd.image_data import ImageData
from psd_tools.psd.image_resources import ImageResources, ImageResource
from psd_tools.constants import ColorMode, Compression, Resource
out, version, w, h, depth, comp, planes, icc = sys.argv[1:]
header = FileHeader(version=int(version), channels=3, height=int(h),
                    width=int(w), depth=int(depth), color_mode=ColorMode.RGB)
data = open(planes, 'rb').read()
n = len(data) // 3
res = ImageResources.new()
res[Resource.ICC_PROFILE] = ImageResource(key=Resource.ICC_PROFILE,
                                          data=open(icc, 'rb').read())
img = ImageData(compression=Compression(int(comp)))
img.set_data([data[i * n:(i + 1) * n] for i in range(3)], header)
with open(out, 'wb') as f:
    PSD(header=header, image_resources=res, image_data=img).write(f)
)";

std::string ReadText(const std::string& path) {
  std::ifstream f(path);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

TEST(PsdOracles, PsdToolsReadsOurFiles) {
  const std::string& py = PsdToolsPython();
  if (py.empty()) GTEST_SKIP() << "psd-tools (python3-psd-tools) is missing";
  TempDir dir;
  const std::string script = dir.File("read.py");
  WriteBytes(script,
             Bytes(kPsdToolsRead, kPsdToolsRead + std::strlen(kPsdToolsRead)));
  const Bytes profile = SmallProfile();
  for (int bits : {8, 16})
    for (PsdCompression comp : {PsdCompression::Raw, PsdCompression::Rle})
      for (PsdVersion version : {PsdVersion::Psd, PsdVersion::Psb}) {
        SCOPED_TRACE(::testing::Message()
                     << "bits " << bits << " rle "
                     << (comp == PsdCompression::Rle) << " psb "
                     << (version == PsdVersion::Psb));
        const std::uint32_t w = 131, h = 9;
        const Bytes pixels = RunnyPixels(w, h, 3, bits);
        PsdWriteSpec spec = Spec(w, h, bits, comp, version);
        spec.Resources = {{kResIccProfile, profile}};
        const std::string path = dir.File("ours.psd");
        ASSERT_TRUE(WritePsdFile(path, spec, pixels));
        ASSERT_EQ(Shell(py + " " + Quote(script) + " " + Quote(path) + " " +
                        Quote(dir.File("planes")) + " " +
                        Quote(dir.File("pil")) + " " + Quote(dir.File("icc")) +
                        " > " + Quote(dir.File("facts"))),
                  0);
        std::ostringstream facts;
        facts << static_cast<int>(version) << " " << w << " " << h << " "
              << bits << " 3 " << static_cast<int>(comp) << "\n";
        EXPECT_EQ(ReadText(dir.File("facts")), facts.str());
        EXPECT_EQ(ReadBytes(dir.File("planes")),
                  Joined(Planes(pixels, w, h, 3, bits)));
        if (bits == 8) {
          EXPECT_EQ(ReadBytes(dir.File("pil")), pixels);
        }
        EXPECT_EQ(ReadBytes(dir.File("icc")), profile);
      }
}

TEST(PsdOracles, ImageMagickReadsOurFiles) {
  const std::string& convert = Convert();
  if (convert.empty()) GTEST_SKIP() << "ImageMagick is missing";
  TempDir dir;
  for (int bits : {8, 16})
    for (PsdCompression comp : {PsdCompression::Raw, PsdCompression::Rle})
      for (PsdVersion version : {PsdVersion::Psd, PsdVersion::Psb}) {
        SCOPED_TRACE(::testing::Message()
                     << "bits " << bits << " rle "
                     << (comp == PsdCompression::Rle) << " psb "
                     << (version == PsdVersion::Psb));
        const std::uint32_t w = 131, h = 9;
        const Bytes pixels = RunnyPixels(w, h, 3, bits);
        const std::string path =
            dir.File(std::string("ours") + PsdExtension(version));
        ASSERT_TRUE(
            WritePsdFile(path, Spec(w, h, bits, comp, version), pixels));
        // [0] is the composite; raw RGB out, 16-bit least significant first.
        ASSERT_EQ(Shell(convert + " " + Quote(path + "[0]") + " -depth " +
                        std::to_string(bits) +
                        " -endian LSB rgb:" + Quote(dir.File("out.rgb")) +
                        " 2>" + Quote(dir.File("err"))),
                  0)
            << ReadText(dir.File("err"));
        EXPECT_EQ(ReadBytes(dir.File("out.rgb")), pixels);
      }
}

TEST(PsdOracles, WeReadFilesOfPsdTools) {
  const std::string& py = PsdToolsPython();
  if (py.empty()) GTEST_SKIP() << "psd-tools (python3-psd-tools) is missing";
  TempDir dir;
  const std::string script = dir.File("write.py");
  WriteBytes(script, Bytes(kPsdToolsWrite,
                           kPsdToolsWrite + std::strlen(kPsdToolsWrite)));
  const Bytes profile = SmallProfile();
  WriteBytes(dir.File("p.icc"), profile);
  for (int bits : {8, 16})
    for (int comp : {0, 1})
      for (int version : {1, 2}) {
        SCOPED_TRACE(::testing::Message() << "bits " << bits << " rle " << comp
                                          << " psb " << (version == 2));
        const std::uint32_t w = 133, h = 11;
        const Bytes pixels = RunnyPixels(w, h, 3, bits);
        WriteBytes(dir.File("planes"), Joined(Planes(pixels, w, h, 3, bits)));
        const std::string path = dir.File("theirs.psd");
        ASSERT_EQ(
            Shell(py + " " + Quote(script) + " " + Quote(path) + " " +
                  std::to_string(version) + " " + std::to_string(w) + " " +
                  std::to_string(h) + " " + std::to_string(bits) + " " +
                  std::to_string(comp) + " " + Quote(dir.File("planes")) + " " +
                  Quote(dir.File("p.icc"))),
            0);
        PsdReader reader;
        ASSERT_EQ(reader.Open(path), PsdOpenResult::Ok);
        EXPECT_EQ(static_cast<int>(reader.Info().Version), version);
        EXPECT_EQ(static_cast<int>(reader.Info().Compression), comp);
        EXPECT_EQ(ReadAllRows(reader), pixels);
        ASSERT_NE(reader.Resource(kResIccProfile), nullptr);
        EXPECT_EQ(reader.Resource(kResIccProfile)->Data, profile);
      }
}

TEST(PsdOracles, WeReadFilesOfImageMagick) {
  const std::string& convert = Convert();
  if (convert.empty()) GTEST_SKIP() << "ImageMagick is missing";
  TempDir dir;
  const Bytes profile = SmallProfile();
  WriteBytes(dir.File("p.icc"), profile);
  for (int bits : {8, 16})
    for (const char* compress : {"None", "RLE"})
      for (bool psb : {false, true})
        for (int channels : {3, 4}) {
          SCOPED_TRACE(::testing::Message()
                       << "bits " << bits << " " << compress << " psb " << psb
                       << " channels " << channels);
          // With alpha, ImageMagick writes the image as a layer too and marks
          // the composite's fourth channel as its transparency.
          const std::uint32_t w = 133, h = 11;
          const Bytes pixels = RunnyPixels(w, h, channels, bits);
          WriteBytes(dir.File("in.rgb"), pixels);
          const std::string path = dir.File(psb ? "theirs.psb" : "theirs.psd");
          const std::string size = std::to_string(w) + "x" + std::to_string(h);
          ASSERT_EQ(Shell(convert + " -size " + size + " -depth " +
                          std::to_string(bits) + " -endian LSB " +
                          (channels == 4 ? "rgba:" : "rgb:") +
                          Quote(dir.File("in.rgb")) + " -profile " +
                          Quote(dir.File("p.icc")) + " -compress " + compress +
                          " " + (psb ? "PSB:" : "PSD:") + Quote(path) + " 2>" +
                          Quote(dir.File("err"))),
                    0)
              << ReadText(dir.File("err"));
          PsdReader reader;
          ASSERT_EQ(reader.Open(path), PsdOpenResult::Ok);
          EXPECT_EQ(reader.Info().Version,
                    psb ? PsdVersion::Psb : PsdVersion::Psd);
          EXPECT_EQ(reader.Info().Compression, std::strcmp(compress, "RLE") == 0
                                                   ? PsdCompression::Rle
                                                   : PsdCompression::Raw);
          EXPECT_EQ(reader.Info().MergedAlpha, channels == 4);
          EXPECT_EQ(ReadAllRows(reader), pixels);
          ASSERT_NE(reader.Resource(kResIccProfile), nullptr);
          EXPECT_EQ(reader.Resource(kResIccProfile)->Data, profile);
        }
}

}  // namespace
}  // namespace trelvi::psd
