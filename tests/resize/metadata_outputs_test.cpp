// What a photograph carries, from a TIFF input into the TIFF outputs of every
// operation: convert (both TIFF codecs), crop, split (every tile), merge
// (from the tile at x1 y1) and resize (through RAW temporaries to the final
// output). Read back with libtiff and, when installed, exiftool.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <tiffio.h>

#include <functional>
#include <string>
#include <vector>

#include "engine/format_table.h"
#include "engine/image_metadata.h"
#include "resize/resize_pipeline.h"
#include "support/fault_injection.h"
#include "support/fixtures.h"
#include "support/hook_recorder.h"
#include "support/metadata_fixture.h"
#include "support/scripted_ui.h"

namespace trelvi {
namespace {

using test::MetadataSpec;
using test::TempDir;

// An output and the pixels it must hold.
struct Written {
  std::string File;
  std::uint32_t W = 0, H = 0;
  std::vector<std::uint8_t> Pixels;  // empty: not compared (resampled)
};

std::vector<std::uint8_t> Rect(std::uint32_t width, std::uint32_t height,
                               std::uint32_t x, std::uint32_t y,
                               std::uint32_t w, std::uint32_t h) {
  const auto all = test::MakePixels(width, height, 3, 8);
  std::vector<std::uint8_t> out;
  for (std::uint32_t r = y; r < y + h; ++r) {
    const auto start = all.begin() + (std::size_t{r} * width + x) * 3;
    out.insert(out.end(), start, start + std::size_t{w} * 3);
  }
  return out;
}

struct Engine {
  test::ScriptedUi ui;
  TTrelvi e{ui};
  test::HookRecorder hooks{e};
  Engine() { e.InitEngine(); }
  bool Load(const std::string& file) {
    e.InInfo = TFileInfo{};
    e.InInfo.FileName = file;
    e.ReadInputInfo(false);
    return e.InInfo.ImageIsOk;
  }
};

// Every kind the input has, in an output of w × h.
void ExpectKept(const Written& out, const MetadataSpec& s) {
  SCOPED_TRACE(out.File);
  const test::TiffImage img = test::ReadTiff(out.File);
  ASSERT_EQ(img.Width, out.W);
  ASSERT_EQ(img.Height, out.H);
  if (!out.Pixels.empty()) {
    EXPECT_EQ(img.Pixels, out.Pixels);
  }

  const test::TiffMetadataView v = test::ReadMetadataView(out.File);
  EXPECT_EQ(v.Icc, s.Icc);
  EXPECT_EQ(v.Xmp, s.Xmp);
  EXPECT_EQ(v.Iptc, s.Iptc);
  EXPECT_EQ(v.Description, "Dunes at dawn");
  EXPECT_EQ(v.Make, "Trelvi Optics");
  EXPECT_EQ(v.Model, "TX-1");
  EXPECT_EQ(v.DateTime, "2026:06:01 05:42:10");
  EXPECT_EQ(v.Artist, "A. Photographer");
  EXPECT_EQ(v.Copyright, "(c) 2026 A. Photographer");
  EXPECT_EQ(v.Orientation, s.Orientation);
  EXPECT_NEAR(v.ResX, s.ResX, 1e-3);
  EXPECT_NEAR(v.ResY, s.ResY, 1e-3);
  EXPECT_EQ(v.ResUnit, RESUNIT_CENTIMETER);
  EXPECT_TRUE(v.HasGps);
  ASSERT_TRUE(v.HasExif);
  EXPECT_EQ(v.LensModel, s.LensModel);
  EXPECT_EQ(v.ExifWidth, out.W);
  EXPECT_EQ(v.ExifHeight, out.H);

  if (!test::HaveExiftool()) return;
  auto tags = test::ExiftoolTags(
      out.File, {"ExifImageWidth", "ExifImageHeight", "Orientation",
                 "XResolution", "ResolutionUnit", "LensModel", "ISO",
                 "ExposureTime", "GPSLatitude", "GPSLongitudeRef"});
  EXPECT_EQ(tags.count("Warning"), 0u) << tags["Warning"];
  EXPECT_EQ(tags.count("Error"), 0u) << tags["Error"];
  EXPECT_EQ(tags["ExifImageWidth"], std::to_string(out.W));
  EXPECT_EQ(tags["ExifImageHeight"], std::to_string(out.H));
  EXPECT_EQ(tags["Orientation"], std::to_string(s.Orientation));
  EXPECT_EQ(tags["ResolutionUnit"], "3");
  EXPECT_NEAR(std::stod(tags["XResolution"]), s.ResX, 1e-3);
  EXPECT_EQ(tags["LensModel"], s.LensModel);
  EXPECT_EQ(tags["ISO"], "200");
  EXPECT_NEAR(std::stod(tags["ExposureTime"]), 0.004, 1e-9);
  EXPECT_NEAR(std::stod(tags["GPSLatitude"]), 48 + 51 / 60.0 + 24.25 / 3600,
              1e-6);
  EXPECT_EQ(tags["GPSLongitudeRef"], "E");
}

// The tags of every output written without metadata, as always.
const std::vector<std::uint32_t> kTodaysTags = {
    TIFFTAG_IMAGEWIDTH,      TIFFTAG_IMAGELENGTH,  TIFFTAG_BITSPERSAMPLE,
    TIFFTAG_COMPRESSION,     TIFFTAG_PHOTOMETRIC,  TIFFTAG_STRIPOFFSETS,
    TIFFTAG_SAMPLESPERPIXEL, TIFFTAG_ROWSPERSTRIP, TIFFTAG_STRIPBYTECOUNTS,
    TIFFTAG_XRESOLUTION,     TIFFTAG_YRESOLUTION,  TIFFTAG_PLANARCONFIG,
    TIFFTAG_RESOLUTIONUNIT};

std::vector<std::uint32_t> Sorted(std::vector<std::uint32_t> tags) {
  std::sort(tags.begin(), tags.end());
  return tags;
}

constexpr std::uint32_t kW = 40, kH = 30;

struct OperationCase {
  const char* Name;
  OutputChoice Output;
  // Runs the operation on the described input; the outputs it wrote.
  std::function<std::vector<Written>(TTrelvi&, const TempDir& out)> Run;
};

std::vector<Written> Convert(TTrelvi& e, const TempDir& out) {
  e.CropImage(0, 0, kW, kH, out.Dir(), "");
  return {{e.OutInfo.FileName, kW, kH, Rect(kW, kH, 0, 0, kW, kH)}};
}

const OperationCase kOperations[] = {
    {"convert tif", OutputChoice::Tif, Convert},
    {"convert tif-lzw", OutputChoice::TifLzw, Convert},
    {"crop", OutputChoice::Tif,
     [](TTrelvi& e, const TempDir& out) -> std::vector<Written> {
       e.CropImage(7, 5, 21, 13, out.Dir(), "");
       return {{e.OutInfo.FileName, 21, 13, Rect(kW, kH, 7, 5, 21, 13)}};
     }},
    {"split", OutputChoice::TifLzw,
     [](TTrelvi& e, const TempDir& out) {
       std::vector<std::string> list;
       e.SplitImage(25, 20, list, out.Dir(), "");
       std::vector<Written> tiles;
       const std::uint32_t xs[] = {0, 25}, ys[] = {0, 20};
       const std::uint32_t ws[] = {25, 15}, hs[] = {20, 10};
       EXPECT_EQ(list.size(), 4u);
       for (std::size_t i = 0; i < list.size() && i < 4; ++i) {
         const std::size_t col = i % 2, row = i / 2;
         tiles.push_back({list[i], ws[col], hs[row],
                          Rect(kW, kH, xs[col], ys[row], ws[col], hs[row])});
       }
       return tiles;
     }},
};

TEST(MetadataOutputs, EveryOperationKeepsEveryKind) {
  TempDir in;
  const MetadataSpec spec;
  const std::string input = in.File("dunes.tif");
  test::WriteMetadataTiff(input, spec);
  for (const OperationCase& c : kOperations) {
    SCOPED_TRACE(c.Name);
    TempDir out;
    Engine run;
    ASSERT_TRUE(run.Load(input));
    ASSERT_NE(run.e.InInfo.Metadata, nullptr);
    rules::SetOutputType(run.e, c.Output);
    const std::vector<Written> written = c.Run(run.e, out);
    ASSERT_FALSE(run.e.Aborted);
    EXPECT_TRUE(run.hooks.Errors.empty());
    ASSERT_FALSE(written.empty());
    for (const Written& w : written) ExpectKept(w, spec);
  }
}

// The merged image is described by the tile at x1 y1, wherever the list
// has it; the other tiles' metadata is not looked at.
TEST(MetadataOutputs, MergeKeepsTheFirstTilesMetadata) {
  TempDir in, out;
  MetadataSpec first;
  first.Width = 20;
  first.Height = 15;
  first.LensModel = "Tile one";
  MetadataSpec other = first;
  other.LensModel = "Other tile";
  other.Icc.clear();
  other.Orientation = 3;
  std::vector<std::string> files;
  for (const char* pos : {"x2y2", "x1y2", "x2y1", "x1y1"}) {
    files.push_back(in.File(std::string("m_20X15_") + pos + ".tif"));
    test::WriteMetadataTiff(files.back(),
                            std::string(pos) == "x1y1" ? first : other);
  }
  Engine run;
  rules::SetOutputType(run.e, OutputChoice::Tif);
  run.e.MergeTiles(2, 2, files, out.Dir(), "");
  ASSERT_FALSE(run.e.Aborted);
  const auto tile = test::MakePixels(20, 15, 3, 8);
  std::vector<std::uint8_t> merged;
  for (std::uint32_t y = 0; y < 30; ++y)
    for (int col = 0; col < 2; ++col)
      merged.insert(merged.end(), tile.begin() + (y % 15) * 60,
                    tile.begin() + (y % 15) * 60 + 60);
  ExpectKept({out.File("m.tif"), 40, 30, merged}, first);
}

// One side above 10000 makes a resize: split into RAW tiles, resized,
// merged and copied out. Only the final output is a TIFF with metadata.
TEST(MetadataOutputs, ResizeKeepsItOnTheFinalOutputOnly) {
  TempDir in, out;
  MetadataSpec spec;
  spec.Width = 20001;
  spec.Height = 240;
  spec.RowsPerStrip = 16;
  const std::string input = in.File("pano.tif");
  test::WriteMetadataTiff(input, spec);
  Engine run;
  ASSERT_TRUE(run.Load(input));
  const auto metadata = run.e.InInfo.Metadata;
  TResizeParams p;
  p.NewW = 1000;
  p.NewH = 12;
  p.FastMethod = true;
  p.OutputFolder = out.Dir();
  p.Output = OutputChoice::Tif;
  p.Scale.Threads = 1;
  TResizePipeline pipeline(run.e);
  pipeline.PollInterval = std::chrono::milliseconds(1);
  pipeline.DoResize(p);
  ASSERT_FALSE(run.e.Aborted) << testing::PrintToString(run.hooks.Errors);
  EXPECT_EQ(run.e.InInfo.Metadata, metadata) << "the input is as it was";
  const test::TiffImage img = test::ReadTiff(run.e.OutInfo.FileName);
  ASSERT_LT(img.Width, spec.Width);
  ExpectKept({run.e.OutInfo.FileName, img.Width, img.Height, {}}, spec);
}

// Outputs with no room for metadata, and inputs without any, are exactly
// what they were: the bytes of an input without metadata.
TEST(MetadataOutputs, RawKroOutputsAndPlainInputsAreAsBefore) {
  TempDir in;
  MetadataSpec full;
  MetadataSpec none;
  none.Exif = none.Gps = none.Texts = false;
  none.Icc.clear();
  none.Xmp.clear();
  none.Iptc.clear();
  none.Orientation = 0;
  none.ResX = 0;
  test::WriteMetadataTiff(in.File("full.tif"), full);
  test::WriteMetadataTiff(in.File("none.tif"), none);
  test::WriteBytes(in.File("raw_40X30.raw"), test::MakePixels(kW, kH, 3, 8));

  const auto convert = [](const std::string& input, OutputChoice choice,
                          const TempDir& out) {
    Engine run;
    EXPECT_TRUE(run.Load(input));
    rules::SetOutputType(run.e, choice);
    run.e.CropImage(0, 0, kW, kH, out.Dir(), "");
    EXPECT_FALSE(run.e.Aborted);
    return run.e.OutInfo.FileName;
  };
  for (OutputChoice choice : {OutputChoice::Raw, OutputChoice::Kro}) {
    TempDir a, b;
    EXPECT_EQ(test::ReadBytes(convert(in.File("full.tif"), choice, a)),
              test::ReadBytes(convert(in.File("none.tif"), choice, b)));
  }
  for (OutputChoice choice : {OutputChoice::Tif, OutputChoice::TifLzw}) {
    TempDir a, b;
    const std::string plain = convert(in.File("none.tif"), choice, a);
    const std::string fromRaw = convert(in.File("raw_40X30.raw"), choice, b);
    EXPECT_EQ(test::ReadBytes(fromRaw), test::ReadBytes(plain));
    // Listed in increasing order, as TIFF requires.
    EXPECT_EQ(test::FirstDirectoryTags(fromRaw), Sorted(kTodaysTags));
  }
}

// The EXIF and GPS directories are the first thing written after the
// header: a disk full right there leaves no file behind.
TEST(MetadataOutputs, DirectoriesThatCannotBeWrittenLeaveNoOutput) {
  MetadataSpec none;
  none.Exif = none.Gps = none.Texts = false;
  none.Icc.clear();
  none.Xmp.clear();
  none.Iptc.clear();
  none.Orientation = 0;
  none.ResX = 0;
  for (const bool withMetadata : {true, false}) {
    SCOPED_TRACE(withMetadata);
    TempDir in, out;
    const std::string input = in.File("dunes.tif");
    test::WriteMetadataTiff(input, withMetadata ? MetadataSpec{} : none);
    const test::Outcome o = test::InChild([&] {
      Engine run;
      test::Outcome result;
      if (!run.Load(input)) return result;
      rules::SetOutputType(run.e, OutputChoice::Tif);
      // Room for libtiff's 8-byte header, not a byte more.
      signal(SIGXFSZ, SIG_IGN);
      rlimit limit{8, 8};
      setrlimit(RLIMIT_FSIZE, &limit);
      run.e.CropImage(0, 0, kW, kH, out.Dir(), "");
      result.OutOpen = run.e.OutOpen;
      result.Errors = run.hooks.Errors;
      result.Shown = run.ui.Texts();
      return result;
    });
    ASSERT_TRUE(o.Ran);
    // Without metadata the file is created and its first row fails.
    const std::vector<std::string> failure = {"Write to file error"};
    EXPECT_EQ(o.Shown, withMetadata ? failure : std::vector<std::string>{});
    EXPECT_EQ(o.Errors, withMetadata ? std::vector<std::string>{} : failure);
    EXPECT_FALSE(o.OutOpen);
    EXPECT_EQ(test::Listing(out.Path()), std::vector<std::string>{});
  }
}

}  // namespace
}  // namespace trelvi
