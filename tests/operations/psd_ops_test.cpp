#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/format_table.h"
#include "engine/formats/psd/psd_reader.h"
#include "engine/formats/psd/psd_unit.h"
#include "engine/formats/psd/psd_writer.h"
#include "engine/trelvi.h"
#include "operations/ops_fixtures.h"
#include "support/hook_recorder.h"
#include "support/scripted_ui.h"

// The large-document format as one of the program's formats: detected by
// content, refused with its messages, written by every operation and read
// back by us and by psd-tools and ImageMagick.
namespace trelvi {
namespace {

namespace fs = std::filesystem;
using test::HookRecorder;
using test::InputKind;
using test::ScriptedUi;
using test::TempDir;
using Bytes = std::vector<std::uint8_t>;

// A PSD or PSB with the fixture's pixels, whatever its name says.
test::SampleImage MakePsd(const TempDir& dir, const std::string& name,
                          std::uint32_t w, std::uint32_t h, int bits,
                          psd::PsdVersion version,
                          psd::PsdCompression comp = psd::PsdCompression::Raw,
                          std::vector<psd::PsdResource> resources = {}) {
  test::SampleImage img;
  img.Width = w;
  img.Height = h;
  img.Bits = bits;
  img.Rgb = test::MakePixels(w, h, 3, bits);
  img.FileName = dir.File(name);
  psd::PsdWriteSpec spec;
  spec.Width = w;
  spec.Height = h;
  spec.Depth = static_cast<std::uint16_t>(bits);
  spec.Version = version;
  spec.Compression = comp;
  spec.Resources = std::move(resources);
  psd::PsdWriter writer;
  EXPECT_TRUE(writer.Create(img.FileName, spec));
  const std::size_t row = writer.RowBytes();
  for (std::uint32_t y = 0; y < h; ++y)
    EXPECT_TRUE(writer.WriteRow(img.Rgb.data() + y * row));
  EXPECT_TRUE(writer.Finish());
  return img;
}

// The composite of a PSD or PSB as our reader sees it, and its facts.
Bytes PsdPixels(const std::string& fileName, psd::PsdInfo* info = nullptr) {
  psd::PsdReader reader;
  if (reader.Open(fileName) != psd::PsdOpenResult::Ok) return {};
  if (info) *info = reader.Info();
  Bytes all(reader.Info().RowBytes() * reader.Info().Height);
  for (std::uint32_t y = 0; y < reader.Info().Height; ++y)
    if (!reader.ReadRow(y, all.data() + y * reader.Info().RowBytes()))
      return {};
  return all;
}

Bytes AnyPixels(const std::string& fileName, int bits) {
  const std::string ext = fileName.substr(fileName.rfind('.'));
  if (ext == ".psd" || ext == ".psb") return PsdPixels(fileName);
  return test::OutputPixels(fileName, bits);
}

std::string Quote(const std::string& s) { return "'" + s + "'"; }
int Shell(const std::string& c) { return std::system(c.c_str()); }

const std::string& PsdToolsPython() {
  static const std::string found =
      Shell("/usr/bin/python3 -c 'import psd_tools' >/dev/null 2>&1") == 0
          ? std::string("/usr/bin/python3")
          : std::string();
  return found;
}

const std::string& Convert() {
  static const std::string found = [] {
    for (const char* c : {"/usr/bin/convert", "/usr/bin/magick"})
      if (access(c, X_OK) == 0 &&
          Shell(std::string(c) +
                " -version 2>/dev/null | grep -q '^Version: ImageMagick'") == 0)
        return std::string(c);
    return std::string();
  }();
  return found;
}

// Every operation into a PSD, from every kind of input, PSD and PSB ones
// included, at both depths: the pixels and the names.
TEST(PsdOperations, EveryOperationWritesAndReadsIt) {
  enum class In { Tif, Psd, PsbNamedPsd };
  for (In in : {In::Tif, In::Psd, In::PsbNamedPsd})
    for (int bits : {8, 16})
      for (FileType outType : {FileType::PSD, FileType::TIF}) {
        SCOPED_TRACE(testing::Message()
                     << "input " << static_cast<int>(in) << " bits " << bits
                     << " out " << static_cast<int>(outType));
        TempDir inDir, outDir;
        const test::SampleImage img =
            in == In::Tif
                ? test::MakeInput(inDir, InputKind::Tif, 25, 12, bits, "pano")
            : in == In::Psd
                ? MakePsd(inDir, "pano.psd", 25, 12, bits, psd::PsdVersion::Psd,
                          psd::PsdCompression::Rle)
                : MakePsd(inDir, "pano.psd", 25, 12, bits,
                          psd::PsdVersion::Psb);
        const std::string ext = outType == FileType::PSD ? ".psd" : ".tif";

        // Convert: the whole image.
        {
          ScriptedUi ui;
          TTrelvi engine(ui);
          test::Describe(engine, img.FileName);
          ASSERT_TRUE(engine.InInfo.ImageIsOk);
          engine.OutInfo.ImageType = outType;
          engine.CropImage(0, 0, 25, 12, outDir.Dir() + "c_", "");
          ASSERT_FALSE(engine.Aborted) << ui.LastText();
          EXPECT_EQ(engine.OutInfo.FileName, outDir.Dir() + "c_pano" + ext);
          EXPECT_EQ(AnyPixels(engine.OutInfo.FileName, bits), img.Rgb);
        }
        // Crop.
        {
          TTrelvi engine;
          test::Describe(engine, img.FileName);
          engine.OutInfo.ImageType = outType;
          engine.CropImage(5, 4, 11, 7, outDir.Dir() + "r_", "");
          ASSERT_FALSE(engine.Aborted);
          EXPECT_EQ(AnyPixels(engine.OutInfo.FileName, bits),
                    test::Rect(img.Rgb, 25, bits, 5, 4, 11, 7));
        }
        // Split, then merge the tiles back.
        std::vector<std::string> tiles;
        {
          TTrelvi engine;
          test::Describe(engine, img.FileName);
          engine.OutInfo.ImageType = outType;
          engine.SplitImage(10, 10, tiles, outDir.Dir(), "");
          ASSERT_FALSE(engine.Aborted);
          ASSERT_EQ(tiles.size(), 6u);
          EXPECT_EQ(tiles[2], outDir.Dir() + "pano_5X10_x3y1" + ext);
          EXPECT_EQ(AnyPixels(tiles[2], bits),
                    test::Rect(img.Rgb, 25, bits, 20, 0, 5, 10));
        }
        {
          TempDir mergeDir;
          TTrelvi engine;
          HookRecorder hooks(engine);
          engine.OutInfo.ImageType = FileType::PSD;
          engine.MergeTiles(3, 2, tiles, mergeDir.Dir(), "");
          ASSERT_FALSE(engine.Aborted);
          EXPECT_TRUE(hooks.Errors.empty());
          EXPECT_EQ(fs::path(engine.OutInfo.FileName).extension(), ".psd");
          EXPECT_EQ(PsdPixels(engine.OutInfo.FileName), img.Rgb);
        }
      }
}

// The descriptor follows the content: a PSB named .psd is a PSB, and the
// reverse; a file with the extension but other content is no input.
TEST(PsdDetection, ContentDecidesNotTheName) {
  TempDir dir;
  const struct {
    const char* name;
    psd::PsdVersion version;
    const char* desc;
  } cases[] = {{"a.psd", psd::PsdVersion::Psd, "PSD"},
               {"b.PSB", psd::PsdVersion::Psb, "PSB"},
               {"c.psb", psd::PsdVersion::Psd, "PSD"},
               {"d.Psd", psd::PsdVersion::Psb, "PSB"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto img = MakePsd(dir, c.name, 9, 5, 16, c.version);
    ScriptedUi ui;
    TTrelvi engine(ui);
    test::Describe(engine, img.FileName);
    ASSERT_TRUE(engine.InInfo.ImageIsOk);
    EXPECT_TRUE(ui.Messages.empty());
    EXPECT_EQ(engine.InInfo.ImageType, FileType::PSD);
    EXPECT_EQ(engine.InInfo.ImageTypeDesc, c.desc);
    EXPECT_EQ(engine.InInfo.Width, 9u);
    EXPECT_EQ(engine.InInfo.Bits, 16);
    EXPECT_EQ(engine.InInfo.Channels, 3);
  }
  // A TIFF named .psd is not read as a TIFF: extensions of content-detected
  // formats name no other format.
  test::TiffSpec spec;
  spec.Width = 4;
  spec.Height = 4;
  test::WriteTiff(dir.File("tiff.psd"), spec);
  ScriptedUi ui;
  TTrelvi engine(ui);
  test::Describe(engine, dir.File("tiff.psd"));
  EXPECT_FALSE(engine.InInfo.ImageIsOk);
  EXPECT_TRUE(ui.Messages.empty());
  EXPECT_EQ(DetectFormat(dir.File("tiff.psd")), nullptr);
  EXPECT_EQ(DetectFormat(dir.File("missing.psb")), nullptr);
  EXPECT_EQ(DetectFormat(dir.File("a.psd")), FindFormat(FileType::PSD));
}

std::uint32_t Get32(const Bytes& b, std::size_t at) {
  return std::uint32_t{b[at]} << 24 | std::uint32_t{b[at + 1]} << 16 |
         std::uint32_t{b[at + 2]} << 8 | b[at + 3];
}

// Each refusal through the whole describe path, with the message the user
// sees; the file is no input then, and converting it writes nothing.
TEST(PsdDetection, RefusalsShowTheirMessages) {
  enum class Patch { Cmyk, Depth32, Zip, NoMerged };
  const struct {
    Patch patch;
    const char* message;
  } cases[] = {
      {Patch::Cmyk, "The image must be RGB"},
      {Patch::Depth32, "The image must be 8 or 16 bits"},
      {Patch::Zip, "The image compression is not supported"},
      {Patch::NoMerged,
       "The file holds no merged image: save it with maximum compatibility"},
  };
  for (const auto& c : cases)
    for (psd::PsdVersion version :
         {psd::PsdVersion::Psd, psd::PsdVersion::Psb}) {
      SCOPED_TRACE(c.message);
      TempDir dir;
      const auto img = MakePsd(dir, "x.psb", 6, 4, 8, version);
      Bytes file = test::ReadBytes(img.FileName);
      const std::size_t resources = 30;
      const std::size_t layers = resources + 4 + Get32(file, resources);
      const std::size_t compression =
          layers + (version == psd::PsdVersion::Psb ? 8 : 4);
      switch (c.patch) {
        case Patch::Cmyk:
          file[25] = 4;
          break;
        case Patch::Depth32:
          file[23] = 32;
          break;
        case Patch::Zip:
          file[compression + 1] = 2;
          break;
        case Patch::NoMerged: {
          // The version information block: 8BIM, ID 1057, empty name, size,
          // then a 4-byte version before the flag.
          bool patched = false;
          for (std::size_t at = resources + 4; at + 17 < layers; ++at)
            if (std::memcmp(&file[at], "8BIM\x04\x21", 6) == 0) {
              file[at + 16] = 0;
              patched = true;
            }
          ASSERT_TRUE(patched);
          break;
        }
      }
      test::WriteBytes(img.FileName, file);
      ScriptedUi ui;
      TTrelvi engine(ui);
      test::Describe(engine, img.FileName);
      EXPECT_FALSE(engine.InInfo.ImageIsOk);
      EXPECT_EQ(ui.Texts(), std::vector<std::string>{c.message});
    }
}

// A file cut short is described (its header is whole) and then fails at
// the row where it ends, as every input does, leaving no output.
TEST(PsdDetection, TruncatedFileIsAReadErrorAndLeavesNoOutput) {
  for (psd::PsdCompression comp :
       {psd::PsdCompression::Raw, psd::PsdCompression::Rle}) {
    SCOPED_TRACE(static_cast<int>(comp));
    TempDir dir, out;
    const auto img =
        MakePsd(dir, "cut.psb", 40, 30, 8, psd::PsdVersion::Psb, comp);
    Bytes file = test::ReadBytes(img.FileName);
    file.resize(file.size() - 500);
    test::WriteBytes(img.FileName, file);
    ScriptedUi ui;
    TTrelvi engine(ui);
    HookRecorder hooks(engine);
    test::Describe(engine, img.FileName);
    ASSERT_TRUE(engine.InInfo.ImageIsOk);
    EXPECT_TRUE(ui.Messages.empty());
    engine.OutInfo.ImageType = FileType::TIF;
    engine.CropImage(0, 0, 40, 30, out.Dir(), "");
    EXPECT_TRUE(engine.Aborted);
    EXPECT_EQ(hooks.Errors, std::vector<std::string>{"Read file error"});
    EXPECT_TRUE(fs::is_empty(out.Path()));
  }
}

// The automatic choice: a side above 30000 makes a PSB, named so.
TEST(PsdNaming, WideOutputsArePsb) {
  const struct {
    std::uint32_t w, h;
    int bits;
    bool force;
    const char* ext;
  } cases[] = {
      {30000, 23000, 8, false, ".psd"},  // 2.07 GB: below 2 GiB
      {30000, 24000, 8, false, ".psb"},  // 2.16 GB
      {30000, 11000, 16, false, ".psd"}, {30000, 12000, 16, false, ".psb"},
      {30001, 2, 8, false, ".psb"},      {2, 30001, 16, false, ".psb"},
      {100, 100, 8, true, ".psb"}};
  for (const auto& c : cases) {
    OutputRequest request;
    request.BaseName = "out";
    request.Width = c.w;
    request.Height = c.h;
    request.Bits = static_cast<std::uint8_t>(c.bits);
    request.ForceLarge = c.force;
    const OutputName name = psd::NameOutput(request);
    EXPECT_EQ(name.FileName, std::string("out") + c.ext) << c.w << "x" << c.h;
    EXPECT_EQ(name.Large, std::string(c.ext) == ".psb");
  }

  // And through an operation: a RAW of 30001 × 2 converts into a PSB.
  TempDir dir;
  const auto img = test::MakeInput(dir, InputKind::Raw, 30001, 2, 8);
  TTrelvi engine;
  test::Describe(engine, img.FileName);
  ASSERT_TRUE(engine.InInfo.ImageIsOk);
  engine.OutInfo.ImageType = FileType::PSD;
  engine.CropImage(0, 0, 30001, 2, dir.Dir() + "o_", "");
  ASSERT_FALSE(engine.Aborted);
  EXPECT_EQ(engine.OutInfo.FileName, dir.Dir() + "o_pic.psb");
  psd::PsdInfo info;
  EXPECT_EQ(PsdPixels(engine.OutInfo.FileName, &info), img.Rgb);
  EXPECT_EQ(info.Version, psd::PsdVersion::Psb);
}

// Split tiles share one extension: when tile (1, 1) is a PSB, all are.
TEST(PsdNaming, SplitTilesShareTheFlavour) {
  TempDir dir, out;
  const auto img = test::MakeInput(dir, InputKind::Raw, 30005, 2, 8);
  TTrelvi engine;
  test::Describe(engine, img.FileName);
  engine.OutInfo.ImageType = FileType::PSD;
  std::vector<std::string> tiles;
  engine.SplitImage(30001, 2, tiles, out.Dir(), "");
  ASSERT_FALSE(engine.Aborted);
  ASSERT_EQ(tiles.size(), 2u);
  EXPECT_EQ(fs::path(tiles[0]).extension(), ".psb");
  EXPECT_EQ(fs::path(tiles[1]).extension(), ".psb");
  EXPECT_EQ(PsdPixels(tiles[1]), test::Rect(img.Rgb, 30005, 8, 30001, 0, 4, 2));
}

// The unit's own reader and writer carry the metadata resources: what a
// PSD holds comes out of the reader as ImageMetadata, and an ImageMetadata
// given to the writer goes into the resources a reader finds again.
TEST(PsdMetadata, ResourcesMapBothWays) {
  TempDir dir;
  ImageMetadata m;
  m.IccProfile = Bytes(300, 0x11);
  m.Xmp = {'<', 'x', '/', '>'};
  m.Iptc = {0x1C, 0x02, 0x78, 0x00, 0x02, 'h', 'i'};
  m.Orientation = 6;
  m.Make = "Maker";
  m.Model = "Camera";
  TiffEntry exposure;  // a rational, 1/250
  exposure.Tag = 33434;
  exposure.Type = kTiffRational;
  exposure.Count = 1;
  exposure.Value = {1, 0, 0, 0, 250, 0, 0, 0};
  TiffEntry width;
  width.Tag = kExifPixelXDimension;
  width.Type = kTiffShort;
  width.Count = 1;
  width.Value = {0x10, 0x27};
  m.Exif = {exposure, width};
  TiffEntry latRef;
  latRef.Tag = 1;
  latRef.Type = kTiffAscii;
  latRef.Count = 2;
  latRef.Value = {'N', 0};
  m.Gps = {latRef};
  m.Resolution = {true, 100.0, 50.0, ResolutionUnit::Centimetre};

  WriterOptions options;
  options.FileName = dir.File("meta.psd");
  options.Width = 7;
  options.Height = 3;
  options.Bits = 8;
  options.Channels = 3;
  options.RowBytes = 21;
  options.Metadata = &m;
  {
    auto writer = psd::CreateWriter(options);
    ASSERT_TRUE(writer);
    const Bytes row(21, 0x80);
    for (std::uint32_t y = 0; y < 3; ++y)
      ASSERT_TRUE(writer->WriteRow(y, row.data()));
    ASSERT_TRUE(writer->Finish().Complete);
  }

  TFileInfo info;
  info.FileName = options.FileName;
  ScriptedUi ui;
  psd::Describe(info, ui, false);
  ASSERT_TRUE(info.ImageIsOk);
  auto reader = psd::OpenReader(info.FileName, info);
  ASSERT_TRUE(reader);
  ASSERT_NE(reader->Metadata(), nullptr);
  const ImageMetadata& got = *reader->Metadata();
  EXPECT_EQ(got.IccProfile, m.IccProfile);
  EXPECT_EQ(got.Xmp, m.Xmp);
  EXPECT_EQ(got.Iptc, m.Iptc);
  EXPECT_EQ(got.Orientation, 6);
  EXPECT_EQ(got.Make, "Maker");
  EXPECT_EQ(got.Model, "Camera");
  ASSERT_EQ(got.Exif.size(), 2u);
  EXPECT_EQ(got.Exif[0].Tag, 33434);
  EXPECT_EQ(got.Exif[0].Value, exposure.Value);
  // The pixel dimensions are the output's, as a LONG.
  EXPECT_EQ(got.Exif[1].Tag, kExifPixelXDimension);
  EXPECT_EQ(got.Exif[1].Type, kTiffLong);
  EXPECT_EQ(got.Exif[1].Value, (Bytes{7, 0, 0, 0}));
  ASSERT_EQ(got.Gps.size(), 1u);
  EXPECT_EQ(got.Gps[0].Value, latRef.Value);
  ASSERT_TRUE(got.Resolution.Present);
  EXPECT_EQ(got.Resolution.Unit, ResolutionUnit::Centimetre);
  EXPECT_NEAR(got.Resolution.X, 100.0, 1e-3);
  EXPECT_NEAR(got.Resolution.Y, 50.0, 1e-3);
  EXPECT_TRUE(got.Dropped.empty());

  // The resolution resource holds pixels per inch, shown in centimetres.
  psd::PsdReader raw;
  ASSERT_EQ(raw.Open(options.FileName), psd::PsdOpenResult::Ok);
  const psd::PsdResource* res = raw.Resource(psd::kResResolution);
  ASSERT_NE(res, nullptr);
  double x = 0, y = 0;
  ASSERT_TRUE(psd::ParseResolutionData(res->Data, x, y));
  EXPECT_NEAR(x, 254.0, 1e-3);
  EXPECT_EQ(res->Data[5], 2);
  ASSERT_NE(raw.Resource(psd::kResVersionInfo), nullptr);
}

// Without metadata an output says 240 pixels per inch and nothing else; a
// damaged EXIF resource is dropped and named, never half read.
TEST(PsdMetadata, DefaultsAndDamage) {
  TempDir dir;
  MakePsd(dir, "plain.psd", 3, 2, 8, psd::PsdVersion::Psd);
  psd::PsdReader raw;
  ASSERT_EQ(raw.Open(dir.File("plain.psd")), psd::PsdOpenResult::Ok);
  const ImageMetadata plain = psd::MetadataFromResources(raw.Resources());
  ASSERT_TRUE(plain.Resolution.Present);
  EXPECT_NEAR(plain.Resolution.X, 240.0, 1e-3);
  EXPECT_EQ(plain.Resolution.Unit, ResolutionUnit::Inch);
  EXPECT_TRUE(plain.IccProfile.empty());

  ImageMetadata source;
  TiffEntry e;
  e.Tag = 37386;
  e.Type = kTiffRational;
  e.Count = 1;
  e.Value = {5, 0, 0, 0, 1, 0, 0, 0};
  source.Exif = {e};
  const Bytes blob = ExifTiffBlob(source);
  ASSERT_FALSE(blob.empty());
  // Every cut of the blob either parses or is dropped; none reads outside.
  for (std::size_t cut = 0; cut < blob.size(); ++cut) {
    const ImageMetadata m = psd::MetadataFromResources(
        {{psd::kResExif1, Bytes(blob.begin(), blob.begin() + cut)}});
    EXPECT_TRUE(m.Exif.empty()) << cut;
    EXPECT_FALSE(m.Dropped.empty()) << cut;
  }
  const ImageMetadata whole =
      psd::MetadataFromResources({{psd::kResExif1, blob}});
  ASSERT_EQ(whole.Exif.size(), 1u);
  EXPECT_EQ(whole.Exif[0].Value, e.Value);
  EXPECT_EQ(psd::MetadataFromResources(
                {{psd::kResIccProfile, Bytes(kMaxMetadataBlockBytes + 1, 1)}})
                .Dropped,
            std::vector<std::string>{"colour profile (larger than 16 MiB)"});
}

std::string ReadText(const std::string& path) {
  std::ifstream f(path);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

// Our operations' outputs, read by the independent readers pixel for pixel:
// a crop of a 16-bit TIFF into a PSD and a PSB.
TEST(PsdOracles, IndependentReadersReadOurOutputs) {
  const bool havePy = !PsdToolsPython().empty();
  const bool haveIm = !Convert().empty();
  if (!havePy && !haveIm) GTEST_SKIP() << "neither psd-tools nor ImageMagick";
  for (const auto& [w, h] : {std::pair{31u, 9u}, std::pair{30001u, 2u}})
    for (int bits : {8, 16}) {
      SCOPED_TRACE(testing::Message() << w << " bits " << bits);
      TempDir dir;
      const auto img = test::MakeInput(dir, InputKind::Tif, w, h, bits);
      TTrelvi engine;
      test::Describe(engine, img.FileName);
      engine.OutInfo.ImageType = FileType::PSD;
      engine.CropImage(0, 0, w, h, dir.Dir() + "o_", "");
      ASSERT_FALSE(engine.Aborted);
      const std::string out = engine.OutInfo.FileName;
      EXPECT_EQ(fs::path(out).extension(), w > 30000 ? ".psb" : ".psd");
      // ImageMagick's default policy refuses images wider than 16000.
      if (haveIm && w <= 16000) {
        ASSERT_EQ(Shell(Convert() + " " + Quote(out + "[0]") + " -depth " +
                        std::to_string(bits) + " -endian LSB rgb:" +
                        Quote(dir.File("im.rgb")) + " 2>/dev/null"),
                  0);
        EXPECT_EQ(test::ReadBytes(dir.File("im.rgb")), img.Rgb);
      }
      if (havePy) {
        // Interleaved RGB, 16-bit least significant first, from the planes
        // psd-tools decodes.
        const std::string script =
            "import sys, numpy\n"
            "from psd_tools import PSDImage\n"
            "p = PSDImage.open(sys.argv[1]); h = p._record.header\n"
            "d = numpy.dtype('>u2') if h.depth == 16 else numpy.uint8\n"
            "pl = [numpy.frombuffer(c, d) for c in "
            "p._record.image_data.get_data(h)]\n"
            "a = numpy.stack(pl[:3], axis=-1)\n"
            "if h.depth == 16: a = a.astype('<u2')\n"
            "open(sys.argv[2], 'wb').write(a.tobytes())\n"
            "print(h.version, h.width, h.height, h.depth, h.channels)\n";
        std::ofstream(dir.File("read.py")) << script;
        ASSERT_EQ(Shell(PsdToolsPython() + " " + Quote(dir.File("read.py")) +
                        " " + Quote(out) + " " + Quote(dir.File("py.rgb")) +
                        " > " + Quote(dir.File("facts"))),
                  0);
        EXPECT_EQ(ReadText(dir.File("facts")),
                  std::to_string(w > 30000 ? 2 : 1) + " " + std::to_string(w) +
                      " " + std::to_string(h) + " " + std::to_string(bits) +
                      " 3\n");
        EXPECT_EQ(test::ReadBytes(dir.File("py.rgb")), img.Rgb);
      }
    }
}

}  // namespace
}  // namespace trelvi

namespace trelvi {
namespace {

// The photographer's blocks of a PSD input reach every output that can hold
// them, as a TIFF input's do: PSB -> TIFF and PSB -> PSD keep the profile
// byte for byte.
TEST(PsdMetadata, InputResourcesReachTheOutputs) {
  const Bytes icc(700, 0x5A);
  const Bytes xmp = {'<', 'x', ':', 'x', 'm', 'p', '/', '>'};
  for (FileType outType : {FileType::TIF, FileType::PSD}) {
    SCOPED_TRACE(static_cast<int>(outType));
    TempDir inDir, outDir;
    const test::SampleImage img =
        MakePsd(inDir, "pano.psb", 21, 9, 8, psd::PsdVersion::Psb,
                psd::PsdCompression::Raw,
                {{psd::kResIccProfile, icc}, {psd::kResXmp, xmp}});
    TTrelvi engine;
    test::Describe(engine, img.FileName);
    ASSERT_TRUE(engine.InInfo.ImageIsOk);
    ASSERT_TRUE(engine.InInfo.Metadata);
    engine.OutInfo.ImageType = outType;
    engine.CropImage(2, 1, 15, 7, outDir.Dir(), "");
    ASSERT_FALSE(engine.Aborted);

    TTrelvi out;
    test::Describe(out, engine.OutInfo.FileName);
    ASSERT_TRUE(out.InInfo.ImageIsOk);
    ASSERT_TRUE(out.InInfo.Metadata);
    EXPECT_EQ(out.InInfo.Metadata->IccProfile, icc);
    EXPECT_EQ(out.InInfo.Metadata->Xmp, xmp);
  }
}

}  // namespace
}  // namespace trelvi
