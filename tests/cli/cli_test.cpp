#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>
#include <tuple>

#include "engine/formats/psd/psd_reader.h"
#include "engine/utils.h"
#include "operations/pyramid_op.h"
#include "support/fixtures.h"
#include "support/metadata_fixture.h"

namespace trelvi {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

struct Result {
  int Code = -1;
  std::string Out;
  std::string Err;
  std::vector<std::string> ErrLines() const {
    std::vector<std::string> lines;
    std::string line;
    for (char c : Err) {
      if (c == '\n') {
        lines.push_back(line);
        line.clear();
      } else {
        line += c;
      }
    }
    if (!line.empty()) lines.push_back(line);
    return lines;
  }
  std::string LastErrLine() const {
    auto lines = ErrLines();
    return lines.empty() ? std::string() : lines.back();
  }
};

// Starts the command line with its standard input from /dev/null and its
// output into files of dir; onStarted may act on the running child.
Result RunCli(const TempDir& dir, std::vector<std::string> args,
              const std::function<void(pid_t)>& onStarted = nullptr) {
  const std::string out = dir.File(".stdout"), err = dir.File(".stderr");
  args.insert(args.begin(), TRELVI_CLI_PATH);
  const pid_t pid = fork();
  if (pid == 0) {
    const int in = open("/dev/null", O_RDONLY);
    const int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(in, 0);
    dup2(o, 1);
    dup2(e, 2);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  if (onStarted) onStarted(pid);
  int status = 0;
  waitpid(pid, &status, 0);
  Result r;
  r.Code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  auto bytes = test::ReadBytes(out);
  r.Out.assign(bytes.begin(), bytes.end());
  bytes = test::ReadBytes(err);
  r.Err.assign(bytes.begin(), bytes.end());
  fs::remove(out);
  fs::remove(err);
  return r;
}

std::string WriteRaw(const TempDir& dir, const std::string& name,
                     std::uint32_t w, std::uint32_t h) {
  test::WriteBytes(dir.File(name), test::MakePixels(w, h, 3, 8));
  return dir.File(name);
}

TEST(Cli, VersionAndUsageErrors) {
  TempDir dir;
  const std::string raw = WriteRaw(dir, "p_300X300.raw", 300, 300);
  auto r = RunCli(dir, {"--version"});
  EXPECT_EQ(r.Code, 0);
  EXPECT_EQ(r.Out, "trelvi 2.1.0\n");

  const std::vector<std::vector<std::string>> usage = {
      {},
      {"explode", raw},
      {"convert", raw, "--bogus"},
      {"convert", raw, "-f", "png"},
      {"convert"},
      {"crop", raw, "--x", "1", "--y", "1", "--width", "5"},
      {"crop", raw, "--x", "-1", "--y", "1", "--width", "5", "--height", "5"},
      {"split", raw, "--tile", "255x300"},
      {"split", raw, "--tile", "30001x300"},
      {"split", raw, "--tile", "abc"},
      {"info", raw, "--raw-size", "10x"},
      {"info", raw, "--raw-size", "10x10"},
      {"info", raw, "--bits", "12"},
  };
  for (const auto& args : usage) {
    r = RunCli(dir, args);
    EXPECT_EQ(r.Code, 2) << testing::PrintToString(args) << "\n" << r.Err;
  }
  EXPECT_EQ(fs::directory_iterator(dir.Path())->path(), raw)
      << "nothing was written";
}

TEST(Cli, InfoPrintsTheInfoBox) {
  TempDir dir;
  // A sparse file: the size is what matters, not the pixels.
  const std::string name = dir.File("pano_40000X30000.raw");
  { std::ofstream f(name, std::ios::binary); }
  fs::resize_file(name, 3600000000ull);
  const auto r = RunCli(dir, {"info", name});
  EXPECT_EQ(r.Code, 0) << r.Err;
  EXPECT_EQ(r.Out,
            "Type: RAW\nFile size: 3.600.000.000\nWidth: 40.000\n"
            "Height: 30.000\nBits: 8\nChannels: 3\nImage: 1.20 Gigapixels\n");
}

// The info box's two lines about metadata, when the input has it.
TEST(Cli, InfoNamesTheColourProfileAndTheMetadata) {
  TempDir dir;
  const std::string box =
      "Type: TIF\nFile size: %s\nWidth: 40\nHeight: 30\nBits: 8\n"
      "Channels: 3\nImage: 1.20 Kilopixels\n";
  std::vector<std::uint8_t> noise(300);
  for (std::size_t i = 0; i < noise.size(); ++i)
    noise[i] = static_cast<std::uint8_t>(i * 37 + 11);
  struct Case {
    const char* Name;
    std::function<void(test::MetadataSpec&)> Change;
    std::vector<std::string> Lines;
  } cases[] = {
      {"everything",
       [](auto&) {},
       {"Colour profile: sRGB built-in", "Metadata: EXIF, GPS, XMP, IPTC"}},
      {"a profile Little CMS cannot read",
       [&noise](auto& s) {
         s.Icc = noise;
         s.Exif = s.Gps = false;
         s.Iptc.clear();
       },
       {"Colour profile: (unreadable)", "Metadata: XMP"}},
      {"EXIF alone",
       [](auto& s) {
         s.Icc.clear();
         s.Xmp.clear();
         s.Iptc.clear();
         s.Gps = false;
       },
       {"Metadata: EXIF"}},
      {"strings and resolution only",
       [](auto& s) {
         s.Icc.clear();
         s.Xmp.clear();
         s.Iptc.clear();
         s.Exif = s.Gps = false;
       },
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    test::MetadataSpec spec;
    c.Change(spec);
    const std::string input = dir.File("in.tif");
    test::WriteMetadataTiff(input, spec);
    const auto r = RunCli(dir, {"info", input});
    EXPECT_EQ(r.Code, 0) << r.Err;
    EXPECT_EQ(r.Err, "");
    std::string expected(box.size() + 32, '\0');
    expected.resize(static_cast<std::size_t>(
        std::snprintf(expected.data(), expected.size(), box.c_str(),
                      FormatGrouped(FileSizeByName(input)).c_str())));
    for (const std::string& line : c.Lines) expected += line + "\n";
    EXPECT_EQ(r.Out, expected);

    // Whatever Little CMS makes of the profile, it is copied as it is.
    TempDir out;
    ASSERT_EQ(RunCli(dir, {"convert", input, "-o", out.Dir()}).Code, 0);
    EXPECT_EQ(test::ReadMetadataView(out.File("in.tif")).Icc, spec.Icc);
  }
}

// A block that cannot be kept is named once, whatever the number of
// outputs, and the operation goes on with the rest.
TEST(Cli, DroppedMetadataIsNamedOnceAndTheRestIsKept) {
  TempDir dir;
  struct Case {
    const char* Name;
    std::function<void(const std::string&)> Make;
    const char* Warning;
    bool ExifKept, XmpKept;
  } cases[] = {
      {"EXIF directory past the end of the file",
       [](const std::string& file) {
         test::WriteMetadataTiff(file, {});
         auto bytes = test::ReadBytes(file);
         ASSERT_TRUE(test::PatchEntryValue(bytes, 34665, 0xFFFFFF00u));
         test::WriteBytes(file, bytes);
       },
       "Metadata not copied: EXIF (unreadable)", false, true},
      {"XMP above 16 MiB",
       [](const std::string& file) {
         test::MetadataSpec spec;
         spec.Xmp.assign((std::size_t{16} << 20) + 1, ' ');
         test::WriteMetadataTiff(file, spec);
       },
       "Metadata not copied: XMP (larger than 16 MiB)", true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string input = dir.File("in.tif");
    c.Make(input);
    for (const bool split : {false, true}) {
      TempDir out;
      std::vector<std::string> args = {
          split ? "split" : "convert", input, "-o", out.Dir(), "-f", "tif-lzw"};
      if (split) args.insert(args.end(), {"--tile", "256x256"});
      auto r = RunCli(dir, args);
      EXPECT_EQ(r.Code, 0) << r.Err;
      EXPECT_EQ(r.ErrLines(),
                (std::vector<std::string>{c.Warning,
                                          "Operation completed successfully"}));
      const std::string file = out.File(split ? "in_40X30_x1y1.tif" : "in.tif");
      const test::TiffMetadataView v = test::ReadMetadataView(file);
      EXPECT_EQ(v.HasExif, c.ExifKept);
      EXPECT_EQ(!v.Xmp.empty(), c.XmpKept);
      EXPECT_EQ(v.Icc, test::SrgbProfile());
      EXPECT_EQ(v.Iptc, test::SampleIptc());
      EXPECT_TRUE(v.HasGps);
      EXPECT_EQ(test::ReadTiff(file).Pixels, test::MakePixels(40, 30, 3, 8));
    }
    // Quiet, the warning is all there is to say.
    TempDir out;
    const auto r = RunCli(dir, {"convert", input, "-o", out.Dir(), "-q"});
    EXPECT_EQ(r.Code, 0);
    EXPECT_EQ(r.ErrLines(), std::vector<std::string>{c.Warning});
  }
}

TEST(Cli, ConvertWritesTheFileAndSaysSo) {
  TempDir dir, out;
  const std::string raw = WriteRaw(dir, "p_40X30.raw", 40, 30);
  auto r = RunCli(dir, {"convert", raw, "-f", "tif-lzw", "-o", out.Dir()});
  EXPECT_EQ(r.Code, 0) << r.Err;
  EXPECT_EQ(r.LastErrLine(), "Operation completed successfully");
  EXPECT_EQ(test::ReadTiff(out.File("p.tif")).Pixels, test::ReadBytes(raw));
  EXPECT_EQ(r.Out, "");

  r = RunCli(dir, {"convert", raw, "-f", "kro", "-q"});
  EXPECT_EQ(r.Code, 0);
  EXPECT_EQ(r.Err, "") << "quiet success says nothing";
  EXPECT_TRUE(fs::exists(dir.File("p.kro")));
}

TEST(Cli, SyncWritesTheSameFileAndLeavesNoPartial) {
  TempDir dir, plain, synced;
  const std::string raw = WriteRaw(dir, "p_40X30.raw", 40, 30);
  for (const char* f : {"tif", "tif-lzw", "raw", "kro"}) {
    SCOPED_TRACE(f);
    auto r = RunCli(dir, {"convert", raw, "-f", f, "-y", "-o", plain.Dir()});
    ASSERT_EQ(r.Code, 0) << r.Err;
    r = RunCli(dir,
               {"convert", raw, "-f", f, "-y", "--sync", "-o", synced.Dir()});
    ASSERT_EQ(r.Code, 0) << r.Err;
  }
  for (const auto& e : fs::directory_iterator(plain.Path()))
    EXPECT_EQ(test::ReadBytes(synced.File(e.path().filename().string())),
              test::ReadBytes(e.path().string()))
        << e.path();
  EXPECT_EQ(std::distance(fs::directory_iterator(synced.Path()),
                          fs::directory_iterator()),
            3);  // p.tif twice, p_40X30.raw, p.kro
}

TEST(Cli, ExistingOutputIsKeptUnlessOverwriteIsGiven) {
  TempDir dir;
  const std::string raw = WriteRaw(dir, "p_4X3.raw", 4, 3);
  test::WriteBytes(dir.File("p.tif"), {1, 2, 3});
  auto r = RunCli(dir, {"convert", raw});
  EXPECT_EQ(r.Code, 1);
  EXPECT_EQ(r.ErrLines(),
            (std::vector<std::string>{
                "Output file exists. Do you want to overwrite it?",
                "Operation aborted"}));
  EXPECT_EQ(test::ReadBytes(dir.File("p.tif")),
            (std::vector<std::uint8_t>{1, 2, 3}));

  r = RunCli(dir, {"convert", raw, "--overwrite"});
  EXPECT_EQ(r.Code, 0) << r.Err;
  EXPECT_EQ(test::ReadTiff(dir.File("p.tif")).Pixels, test::ReadBytes(raw));
}

TEST(Cli, RefusalsShowTheWindowsMessagesAndWriteNothing) {
  TempDir dir;
  const std::string raw = WriteRaw(dir, "p_40X30.raw", 40, 30);
  test::WriteBytes(dir.File("notes.txt"), {1});
  test::WriteBytes(dir.File("photo.raw"),
                   std::vector<std::uint8_t>(1200 * 3, 5));
  const struct {
    std::vector<std::string> args;
    std::vector<std::string> messages;
  } cases[] = {
      {{"convert", dir.File("notes.txt")}, {"Then file type is invalid"}},
      {{"convert", raw, "-o", dir.File("nowhere")},
       {"Output directory doesn't exists"}},
      {{"crop", raw, "--x", "40", "--y", "0", "--width", "1", "--height", "1"},
       {"X must >= 0 and < 40"}},
      {{"crop", raw, "--x", "0", "--y", "30", "--width", "1", "--height", "1"},
       {"Y must >= 0 and < 30"}},
      {{"crop", raw, "--x", "30", "--y", "0", "--width", "11", "--height", "1"},
       {"Width must > 0 and <= 10"}},
      {{"crop", raw, "--x", "0", "--y", "5", "--width", "1", "--height", "26"},
       {"Height must > 0 and <= 25"}},
      {{"convert", dir.File("photo.raw")}, {"Invalid width, height or bits"}},
      {{"convert", dir.File("photo.raw"), "--raw-size", "30x30", "--bits", "8"},
       {"Invalid width, height or bits"}},
      {{"merge", raw, dir.File("notes.txt")}, {"Then file type is invalid"}},
      {{"merge", dir.File("a_x1y1.raw"), dir.File("a_x2y2.raw")},
       {"The number of selected files must be : 4"}},
      {{"merge", raw}, {"Can't merge the selected files"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    const auto before = std::distance(fs::directory_iterator(dir.Path()),
                                      fs::directory_iterator());
    const auto r = RunCli(dir, c.args);
    EXPECT_EQ(r.Code, 1);
    auto expected = c.messages;
    expected.push_back("Operation aborted");
    EXPECT_EQ(r.ErrLines(), expected);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()),
                            fs::directory_iterator()),
              before);
  }
}

TEST(Cli, RawSizeTakesThePlaceOfTheDialog) {
  TempDir dir;
  const auto pixels = test::MakePixels(30, 40, 3, 8);
  test::WriteBytes(dir.File("photo.raw"), pixels);
  const auto r = RunCli(dir, {"convert", dir.File("photo.raw"), "--raw-size",
                              "30x40", "--bits", "8", "-f", "raw"});
  EXPECT_EQ(r.Code, 0) << r.Err;
  EXPECT_EQ(test::ReadBytes(dir.File("photo_30X40.raw")), pixels);
}

bool HasTool(const std::string& tool) {
  return std::system(("command -v " + tool + " > /dev/null 2>&1").c_str()) == 0;
}

int Shell(const std::string& command) {
  return std::system((command + " > /dev/null 2>&1").c_str());
}

// Every compressed output decodes to the input's colour pixels in libtiff,
// in our own reader, in tiffcp and in libvips: 8 and 16 bits, RGB and RGBA
// inputs, rows wide enough for the threads and rows that stay on one.
TEST(Cli, DeflateAndZstdOutputsRoundTripThroughEveryDecoder) {
  const bool vips = HasTool("vips");
  ASSERT_TRUE(HasTool("tiffcp"));
  for (const char* format : {"tif-deflate", "tif-zstd"})
    for (int bits : {8, 16})
      for (int channels : {3, 4})
        for (std::uint32_t w : {6000u, 33u}) {
          SCOPED_TRACE(testing::Message()
                       << format << " bits " << bits << " channels " << channels
                       << " w " << w);
          TempDir dir, out, plain;
          const std::uint32_t h = 5;
          test::TiffSpec spec;
          spec.Width = w;
          spec.Height = h;
          spec.Bits = bits;
          spec.Channels = channels;
          const auto pixels = test::MakePixels(w, h, channels, bits);
          test::WriteTiff(dir.File("p.tif"), spec, pixels);
          const auto rgb = test::DropAlpha(pixels, channels, bits);

          auto r = RunCli(dir, {"convert", dir.File("p.tif"), "-f", format,
                                "-o", out.Dir(), "-q"});
          ASSERT_EQ(r.Code, 0) << r.Err;
          const std::string packed = out.File("p.tif");
          const auto img = test::ReadTiff(packed);
          EXPECT_EQ(img.Channels, 3);
          EXPECT_EQ(img.Bits, bits);
          EXPECT_EQ(img.Pixels, rgb) << "libtiff";

          r = RunCli(dir,
                     {"convert", packed, "-f", "tif", "-o", plain.Dir(), "-q"});
          ASSERT_EQ(r.Code, 0) << r.Err;
          EXPECT_EQ(test::ReadTiff(plain.File("p.tif")).Pixels, rgb)
              << "our reader";

          const std::string copied = dir.File("tiffcp.tif");
          ASSERT_EQ(Shell("tiffcp -c none " + packed + " " + copied), 0);
          EXPECT_EQ(test::ReadTiff(copied).Pixels, rgb) << "tiffcp";
          if (vips) {
            const std::string v = dir.File("vips.tif");
            ASSERT_EQ(
                Shell("vips copy " + packed + " '" + v + "[compression=none]'"),
                0);
            EXPECT_EQ(test::ReadTiff(v).Pixels, rgb) << "libvips";
          }
        }
}

TEST(Cli, TheLevelIsForDeflateAndZstdWithinTheirRanges) {
  TempDir dir;
  const auto pixels = test::MakePixels(3000, 20, 3, 8);
  test::WriteBytes(dir.File("p_3000X20.raw"), pixels);
  const std::string raw = dir.File("p_3000X20.raw");
  const std::vector<std::vector<std::string>> usage = {
      {"-f", "tif-deflate", "--level", "0"},
      {"-f", "tif-deflate", "--level", "13"},
      {"-f", "tif-zstd", "--level", "20"},
      {"-f", "tif-zstd", "--level", "-1"},
      {"-f", "tif-zstd", "--level", "x"},
      {"--level", "5"},
      {"-f", "tif", "--level", "5"},
      {"-f", "tif-lzw", "--level", "5"},
      {"-f", "raw", "--level", "5"},
      {"-f", "kro", "--level", "5"},
  };
  for (const auto& extra : usage) {
    std::vector<std::string> args = {"convert", raw};
    args.insert(args.end(), extra.begin(), extra.end());
    const auto r = RunCli(dir, args);
    EXPECT_EQ(r.Code, 2) << testing::PrintToString(extra) << "\n" << r.Err;
  }
  EXPECT_FALSE(fs::exists(dir.File("p.tif")));

  // The ends of each range are accepted and change the file.
  for (const auto& [format, low, high] :
       {std::tuple<const char*, const char*, const char*>{"tif-deflate", "1",
                                                          "12"},
        {"tif-zstd", "1", "19"}}) {
    SCOPED_TRACE(format);
    std::vector<std::int64_t> sizes;
    for (const char* level : {low, "", high}) {
      std::vector<std::string> args = {"convert", raw,  "-f",
                                       format,    "-y", "-q"};
      if (*level) args.insert(args.end(), {"--level", level});
      const auto r = RunCli(dir, args);
      ASSERT_EQ(r.Code, 0) << level << r.Err;
      EXPECT_EQ(test::ReadTiff(dir.File("p.tif")).Pixels, pixels);
      sizes.push_back(FileSizeByName(dir.File("p.tif")));
    }
    EXPECT_GT(sizes[0], sizes[1]) << "the lowest level packs least";
    EXPECT_GE(sizes[1], sizes[2]) << "the highest level packs most";
  }
}

TEST(Cli, SplitAndMergeRoundTrip) {
  TempDir dir, tiles, merged;
  const auto pixels = test::MakePixels(700, 300, 3, 16);
  test::WriteBytes(dir.File("big_700X300.raw"), pixels);
  auto r = RunCli(dir, {"split", dir.File("big_700X300.raw"), "--tile",
                        "256x256", "-o", tiles.Dir(), "-f", "tif"});
  ASSERT_EQ(r.Code, 0) << r.Err;
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(tiles.Path()))
    names.push_back(e.path().string());
  ASSERT_EQ(names.size(), 6u);
  std::vector<std::string> args = {"merge"};
  args.insert(args.end(), names.begin(), names.end());
  args.insert(args.end(), {"-o", merged.Dir(), "-f", "raw"});
  r = RunCli(dir, args);
  ASSERT_EQ(r.Code, 0) << r.Err;
  EXPECT_EQ(r.LastErrLine(), "Operation completed successfully");
  EXPECT_EQ(test::ReadBytes(merged.File("big_700X300.raw")), pixels);
}

TEST(Cli, PyramidWritesTheDescriptorAndTilesAndChecksItsLimits) {
  TempDir dir, out;
  const std::string raw = WriteRaw(dir, "p_300X200.raw", 300, 200);
  const std::vector<std::vector<std::string>> usage = {
      {"pyramid", raw, "--tile-size", "63"},
      {"pyramid", raw, "--tile-size", "4097"},
      {"pyramid", raw, "--overlap", "17"},
      {"pyramid", raw, "--overlap", "-1"},
      {"pyramid", raw, "--quality", "0"},
      {"pyramid", raw, "--quality", "101"},
      {"pyramid", raw, "--tile-format", "gif"},
      {"pyramid", raw, "-f", "tif"},
  };
  for (const auto& args : usage) {
    const auto r = RunCli(dir, args);
    EXPECT_EQ(r.Code, 2) << testing::PrintToString(args) << "\n" << r.Err;
  }
  EXPECT_EQ(fs::directory_iterator(dir.Path())->path(), raw)
      << "nothing was written";

  auto r = RunCli(dir, {"pyramid", raw, "-o", out.Dir(), "--tile-size", "64",
                        "--overlap", "0", "--tile-format", "png", "-q"});
  ASSERT_EQ(r.Code, 0) << r.Err;
  const auto dzi = test::ReadBytes(out.File("p.dzi"));
  EXPECT_EQ(std::string(dzi.begin(), dzi.end()),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<Image xmlns=\"http://schemas.microsoft.com/deepzoom/2008\" "
            "Format=\"png\" Overlap=\"0\" TileSize=\"64\">\n"
            "<Size Width=\"300\" Height=\"200\"/>\n"
            "</Image>\n");
  // Level 9 is full size: 5 x 4 tiles of 64.
  EXPECT_TRUE(fs::exists(out.File("p_files/9/4_3.png")));
  EXPECT_FALSE(fs::exists(out.File("p_files/9/5_0.png")));
  EXPECT_TRUE(fs::exists(out.File("p_files/0/0_0.png")));

  // Again: the question is declined without -y, and the pyramid stays.
  r = RunCli(dir, {"pyramid", raw, "-o", out.Dir()});
  EXPECT_EQ(r.Code, 1);
  EXPECT_TRUE(fs::exists(out.File("p_files/9/4_3.png")));
  r = RunCli(dir, {"pyramid", raw, "-o", out.Dir(), "-y", "-q"});
  EXPECT_EQ(r.Code, 0) << r.Err;
  EXPECT_TRUE(fs::exists(out.File("p_files/9/1_0.jpg")));
  EXPECT_FALSE(fs::exists(out.File("p_files/9/4_3.png")));
}

// The command line finds the viewer's script where the window does; without
// it the pyramid is written all the same, after a warning.
TEST(Cli, PyramidWarnsWhenTheViewerScriptIsMissingElseWritesThePage) {
  TempDir dir, out;
  const std::string raw = WriteRaw(dir, "p_300X200.raw", 300, 200);
  const auto r = RunCli(dir, {"pyramid", raw, "-o", out.Dir(), "-q"});
  ASSERT_EQ(r.Code, 0) << r.Err;
  EXPECT_TRUE(fs::exists(out.File("p.dzi")));
  const std::string script = DefaultViewerScript();
  if (script.empty()) {
    EXPECT_EQ(r.ErrLines(),
              (std::vector<std::string>{
                  "Warning: openseadragon.min.js not found; the pyramid is "
                  "written without its page"}));
    EXPECT_FALSE(fs::exists(out.File("p.html")));
  } else {
    EXPECT_TRUE(fs::exists(out.File("p.html")));
    EXPECT_EQ(test::ReadBytes(out.File("openseadragon.min.js")),
              test::ReadBytes(script));
  }
}

TEST(Cli, ResizeScalesToTheWidthAndRefusesSmallImages) {
  TempDir dir, out;
  const std::string raw = WriteRaw(dir, "wide_10000X200.raw", 10000, 200);
  auto r = RunCli(dir, {"resize", raw, "--width", "1000", "--fast", "-f", "raw",
                        "-o", out.Dir()});
  EXPECT_EQ(r.Code, 0) << r.Err;
  EXPECT_EQ(r.LastErrLine(), "Operation completed successfully");
  EXPECT_EQ(FileSizeByName(out.File("wide_1000X20.raw")), 1000 * 20 * 3);
  EXPECT_FALSE(fs::exists(out.File("$$$TEMP$$$RESIZER$$$")));
  // Beside the input, in the input's own format, the output could replace
  // it: refused.
  r = RunCli(dir, {"resize", raw, "--width", "1000", "-f", "raw"});
  EXPECT_EQ(r.Code, 1);
  EXPECT_EQ(r.ErrLines(),
            (std::vector<std::string>{"Cannot overwrite input file",
                                      "Operation aborted"}));

  const std::string small = WriteRaw(dir, "small_900X30.raw", 900, 30);
  r = RunCli(dir, {"resize", small, "--width", "600"});
  EXPECT_EQ(r.Code, 1);
  EXPECT_EQ(r.ErrLines(),
            (std::vector<std::string>{
                "Width and height of the input file must be > 10000",
                "Operation aborted"}));
  EXPECT_EQ(RunCli(dir, {"resize", raw, "--width", "511"}).Code, 2);
}

// The composite of a PSD or PSB as interleaved rows; empty when unreadable.
std::vector<std::uint8_t> PsdComposite(const std::string& fileName) {
  psd::PsdReader reader;
  if (reader.Open(fileName) != psd::PsdOpenResult::Ok) return {};
  const std::uint64_t row = reader.Info().RowBytes();
  std::vector<std::uint8_t> all(row * reader.Info().Height);
  for (std::uint32_t y = 0; y < reader.Info().Height; ++y)
    if (!reader.ReadRow(y, all.data() + y * row)) return {};
  return all;
}

// The resize's last pass writes a PSD as it writes a RAW, from a RAW or a
// PSD input; and `info` tells a PSB's facts.
TEST(Cli, ResizeWritesAndReadsPsdAndInfoTellsAPsb) {
  TempDir dir, psdIn, out, ref;
  const std::string raw = WriteRaw(dir, "wide_10000X200.raw", 10000, 200);
  auto r = RunCli(dir, {"convert", raw, "-f", "psd", "-o", psdIn.Dir()});
  ASSERT_EQ(r.Code, 0) << r.Err;
  const std::string psdFile = psdIn.File("wide.psd");
  ASSERT_EQ(PsdComposite(psdFile), test::ReadBytes(raw));

  r = RunCli(dir,
             {"resize", raw, "--width", "1000", "-f", "raw", "-o", ref.Dir()});
  ASSERT_EQ(r.Code, 0) << r.Err;
  const auto expected = test::ReadBytes(ref.File("wide_1000X20.raw"));
  ASSERT_EQ(expected.size(), 1000u * 20 * 3);
  for (const std::string& input : {raw, psdFile}) {
    SCOPED_TRACE(input);
    TempDir o;
    r = RunCli(
        dir, {"resize", input, "--width", "1000", "-f", "psd", "-o", o.Dir()});
    ASSERT_EQ(r.Code, 0) << r.Err;
    EXPECT_EQ(PsdComposite(o.File("wide.psd")), expected);
  }

  const std::string wide = WriteRaw(dir, "pano_30001X2.raw", 30001, 2);
  r = RunCli(dir, {"convert", wide, "-f", "psd", "-o", out.Dir()});
  ASSERT_EQ(r.Code, 0) << r.Err;
  r = RunCli(dir, {"info", out.File("pano.psb")});
  ASSERT_EQ(r.Code, 0) << r.Err;
  EXPECT_EQ(r.Out,
            "Type: PSB\nFile size: 180.152\nWidth: 30.001\nHeight: 2\n"
            "Bits: 8\nChannels: 3\nImage: 60.00 Kilopixels\n");
}

TEST(Cli, InterruptAbortsAndCleansUp) {
  TempDir dir;
  // A sparse 1.2 GB input: large enough to be interrupted mid-copy.
  const std::string input = dir.File("huge_20000X20000.raw");
  { std::ofstream f(input, std::ios::binary); }
  fs::resize_file(input, 20000ull * 20000 * 3);
  const std::string output = dir.File("huge.kro");
  const auto r = RunCli(dir, {"convert", input, "-f", "kro"}, [&](pid_t pid) {
    // Wait for the output (under its partial name until it is whole) to
    // appear and grow, then press Ctrl-C.
    for (int i = 0; i < 2000 && FileSizeByName(output + ".partial") < (1 << 20);
         ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    kill(pid, SIGINT);
  });
  EXPECT_EQ(r.Code, 1) << r.Err;
  EXPECT_EQ(r.LastErrLine(), "Operation aborted");
  EXPECT_FALSE(fs::exists(output));
  EXPECT_FALSE(fs::exists(output + ".partial"));
  EXPECT_EQ(FileSizeByName(input), 20000ll * 20000 * 3);
}

}  // namespace
}  // namespace trelvi
