#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <tiffio.h>
#include <unistd.h>

#include <filesystem>
#include <memory>

#include "engine/format_table.h"
#include "engine/image_metadata.h"
#include "engine/trelvi.h"
#include "engine/utils.h"
#include "support/fixtures.h"
#include "support/scripted_ui.h"

namespace trelvi {
namespace {

namespace fs = std::filesystem;
using test::ScriptedUi;
using test::TempDir;

// Describes a RAW file by hand, as the readers would.
void DescribeRaw(TTrelvi& engine, const std::string& name, std::uint32_t w,
                 std::uint32_t h, int bits) {
  engine.InInfo.FileName = name;
  engine.InInfo.ImageType = FileType::RAW;
  engine.InInfo.ImageTypeDesc = "RAW";
  engine.InInfo.Width = w;
  engine.InInfo.Height = h;
  engine.InInfo.Bits = static_cast<std::uint8_t>(bits);
  engine.InInfo.Channels = 3;
  engine.InInfo.BytesPerPixel = static_cast<std::uint8_t>(3 * bits / 8);
  engine.InInfo.IsLsb = true;
  engine.InInfo.ImageIsOk = true;
}

class FreeSpace {
 public:
  explicit FreeSpace(std::uint64_t bytes) {
    SetFreeSpaceQuery([bytes](const std::string&) { return bytes; });
  }
  ~FreeSpace() { SetFreeSpaceQuery(nullptr); }
};

// The output's metadata needs room with its pixels, and can be what takes
// a TIFF past the classic limit.
TEST(CreateOutFile, MetadataCountsForTheSpaceAndTheBigTiff) {
  auto metadata = std::make_shared<ImageMetadata>();
  metadata->Xmp.assign(200000, ' ');
  const std::uint64_t extra = MetadataBytes(*metadata);
  // 36514² RGB: 183412 bytes below the limit.
  const std::uint64_t pixels = 36514ull * 36514 * 3;
  for (const bool withMetadata : {false, true}) {
    SCOPED_TRACE(withMetadata);
    TempDir dir;
    ScriptedUi ui;
    TTrelvi engine(ui);
    std::vector<std::string> errors;
    engine.OnError = [&](const std::string& m) { errors.push_back(m); };
    DescribeRaw(engine, dir.File("in.raw"), 36514, 36514, 8);
    engine.OutInfo.ImageType = FileType::TIF;
    engine.OutInfo.Width = engine.OutInfo.Height = 36514;
    if (withMetadata) engine.OutInfo.Metadata = metadata;
    FreeSpace space(pixels + (withMetadata ? extra : 0));
    EXPECT_FALSE(engine.CreateOutFile(dir.File("big")));
    EXPECT_EQ(engine.OutInfo.FileName,
              dir.File(withMetadata ? "big.big.tif" : "big.tif"));
    EXPECT_EQ(errors,
              std::vector<std::string>{
                  "There is not enough space on the destination directory"});
  }
}

TEST(CreateOutFile, DescriptorAndNameFollowTheOutputType) {
  const struct {
    FileType type;
    int bits;
    const char* ext;
    int channels, bpp;
    bool lsb;
  } cases[] = {
      {FileType::KRO4, 8, ".kro", 4, 4, false},
      {FileType::KRO4, 16, ".kro", 4, 8, false},
      {FileType::RAW, 8, ".raw", 3, 3, true},
      {FileType::RAW, 16, ".raw", 3, 6, true},
      {FileType::TIF, 8, ".tif", 3, 3, true},
      {FileType::TIF, 16, ".tif", 3, 6, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.ext + std::to_string(c.bits));
    TempDir dir;
    ScriptedUi ui;
    TTrelvi engine(ui);
    DescribeRaw(engine, dir.File("in.raw"), 7, 3, c.bits);
    engine.InInfo.Channels = 4;  // the input's channels never matter
    engine.OutInfo.ImageType = c.type;
    engine.OutInfo.Width = 7;
    engine.OutInfo.Height = 3;
    ASSERT_TRUE(engine.CreateOutFile(dir.File("out")));
    EXPECT_TRUE(engine.OutOpen);
    EXPECT_EQ(engine.OutInfo.FileName, dir.File(std::string("out") + c.ext));
    EXPECT_EQ(engine.OutInfo.Channels, c.channels);
    EXPECT_EQ(engine.OutInfo.BytesPerPixel, c.bpp);
    EXPECT_EQ(engine.OutInfo.Bits, c.bits);
    EXPECT_EQ(engine.OutInfo.IsLsb, c.lsb);
    EXPECT_EQ(engine.OutInfo.ScanLineSize, 7u * c.bpp);
    // Written under a partial name until it is whole.
    EXPECT_TRUE(fs::exists(engine.OutInfo.FileName + ".partial"));
    EXPECT_FALSE(fs::exists(engine.OutInfo.FileName));
    EXPECT_TRUE(ui.Messages.empty());
    EXPECT_TRUE(engine.CloseOutFile());
    EXPECT_EQ(engine.OutInfo.ScanLine, nullptr);
    EXPECT_TRUE(fs::exists(engine.OutInfo.FileName));
    EXPECT_FALSE(fs::exists(engine.OutInfo.FileName + ".partial"));
  }
}

TEST(CreateOutFile, BigTiffDecisionAndFreeSpaceAreOnTheUncompressedSize) {
  const struct {
    std::uint32_t side;
    int bits;
    bool lzw;
    const char* ext;
    std::uint64_t size;
  } cases[] = {
      {36514, 8, false, ".tif", 3999816588ull},
      {36515, 8, false, ".big.tif", 4000035675ull},
      {36515, 8, true, ".big.tif", 4000035675ull},
      // LZW can grow noisy data by half: from two thirds of the limit on,
      // an LZW output is a BigTIFF.
      {29814, 8, true, ".tif", 2666623788ull},
      {29815, 8, true, ".big.tif", 2666802675ull},
      {29815, 8, false, ".tif", 2666802675ull},
      {36514, 8, true, ".big.tif", 3999816588ull},
      {30000, 16, false, ".big.tif", 5400000000ull},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.side);
    TempDir dir;
    ScriptedUi ui;
    TTrelvi engine(ui);
    std::vector<std::string> errors;
    engine.OnError = [&](const std::string& m) { errors.push_back(m); };
    DescribeRaw(engine, dir.File("in.raw"), c.side, c.side, c.bits);
    engine.OutInfo.ImageType = FileType::TIF;
    engine.OutInfo.Width = c.side;
    engine.OutInfo.Height = c.side;
    engine.UseLzw = c.lzw;
    // Exactly as much room as the pixels need is not enough.
    FreeSpace space(c.size);
    EXPECT_FALSE(engine.CreateOutFile(dir.File("big")));
    EXPECT_EQ(engine.OutInfo.FileName, dir.File(std::string("big") + c.ext));
    EXPECT_EQ(errors,
              std::vector<std::string>{
                  "There is not enough space on the destination directory"});
    EXPECT_FALSE(engine.OutOpen);
    EXPECT_FALSE(fs::exists(engine.OutInfo.FileName));
    EXPECT_TRUE(ui.Messages.empty());
  }
}

TEST(CreateOutFile, DeflateAndZstdOutputsTakeTheLzwBigTiffRule) {
  for (OutputChoice choice : {OutputChoice::TifDeflate, OutputChoice::TifZstd})
    for (const auto& [side, ext] :
         {std::pair<std::uint32_t, const char*>{29814, ".tif"},
          {29815, ".big.tif"}}) {
      SCOPED_TRACE(side);
      TempDir dir;
      ScriptedUi ui;
      TTrelvi engine(ui);
      DescribeRaw(engine, dir.File("in.raw"), side, side, 8);
      SetOutputType(engine, choice);
      engine.OutInfo.Width = side;
      engine.OutInfo.Height = side;
      FreeSpace space(1);  // stops before anything is written
      EXPECT_FALSE(engine.CreateOutFile(dir.File("big")));
      EXPECT_EQ(engine.OutInfo.FileName, dir.File(std::string("big") + ext));
      EXPECT_FALSE(fs::exists(engine.OutInfo.FileName));
    }
}

TEST(CreateOutFile, OneByteMoreThanNeededIsEnough) {
  TempDir dir;
  TTrelvi engine;
  DescribeRaw(engine, dir.File("in.raw"), 10, 10, 8);
  engine.OutInfo.ImageType = FileType::RAW;
  engine.OutInfo.Width = 10;
  engine.OutInfo.Height = 10;
  FreeSpace space(301);
  EXPECT_TRUE(engine.CreateOutFile(dir.File("out")));
  engine.CloseOutFile();
}

TEST(CreateOutFile, ForcedBigTiffIsWrittenAndReadsBack) {
  TempDir dir;
  const auto pixels = test::MakePixels(10, 10, 3, 16);
  test::WriteBytes(dir.File("in.raw"), pixels);
  TTrelvi engine;
  DescribeRaw(engine, dir.File("in.raw"), 10, 10, 16);
  ASSERT_TRUE(engine.OpenInFile(engine.InInfo.FileName));
  engine.ForceBigTiff = true;
  engine.OutInfo.ImageType = FileType::TIF;
  engine.OutInfo.Width = 10;
  engine.OutInfo.Height = 10;
  ASSERT_TRUE(engine.CreateOutFile(dir.File("small")));
  EXPECT_EQ(engine.OutInfo.FileName, dir.File("small.big.tif"));
  for (std::uint32_t y = 0; y < 10; ++y) {
    ASSERT_EQ(engine.ReadLine(y), 60);
    engine.ConvertLine(engine.InInfo, 0, engine.OutInfo, 0, 10);
    ASSERT_EQ(engine.WriteLine(y), 60);
  }
  ASSERT_TRUE(engine.CloseOutFile());
  engine.CloseInFile();
  const auto img = test::ReadTiff(dir.File("small.big.tif"));
  EXPECT_TRUE(img.BigTiff);
  EXPECT_EQ(img.Bits, 16);
  EXPECT_EQ(img.Pixels, pixels);
}

TEST(CreateOutFile, TiffTagsOfPlainAndLzwOutputs) {
  for (bool lzw : {false, true}) {
    TempDir dir;
    TTrelvi engine;
    DescribeRaw(engine, dir.File("in.raw"), 5, 2, 8);
    engine.UseLzw = lzw;
    engine.OutInfo.ImageType = FileType::TIF;
    engine.OutInfo.Width = 5;
    engine.OutInfo.Height = 2;
    ASSERT_TRUE(engine.CreateOutFile(dir.File("t")));
    std::fill_n(engine.OutInfo.ScanLine, 15, 9);
    ASSERT_EQ(engine.WriteLine(0), 15);
    ASSERT_EQ(engine.WriteLine(1), 15);
    ASSERT_TRUE(engine.CloseOutFile());

    TIFF* t = TIFFOpen(dir.File("t.tif").c_str(), "r");
    ASSERT_NE(t, nullptr);
    std::uint32_t width = 0, height = 0, rps = 0;
    std::uint16_t bits = 0, spp = 0, comp = 0, planar = 0, photo = 0, unit = 0;
    float xres = 0, yres = 0;
    TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(t, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetField(t, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetField(t, TIFFTAG_SAMPLESPERPIXEL, &spp);
    TIFFGetField(t, TIFFTAG_ROWSPERSTRIP, &rps);
    TIFFGetField(t, TIFFTAG_COMPRESSION, &comp);
    TIFFGetField(t, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &photo);
    TIFFGetField(t, TIFFTAG_XRESOLUTION, &xres);
    TIFFGetField(t, TIFFTAG_YRESOLUTION, &yres);
    TIFFGetField(t, TIFFTAG_RESOLUTIONUNIT, &unit);
    EXPECT_EQ(width, 5u);
    EXPECT_EQ(height, 2u);
    EXPECT_EQ(bits, 8);
    EXPECT_EQ(spp, 3);
    EXPECT_EQ(rps, 1u);
    EXPECT_EQ(comp, lzw ? COMPRESSION_LZW : COMPRESSION_NONE);
    EXPECT_EQ(planar, PLANARCONFIG_CONTIG);
    EXPECT_EQ(photo, PHOTOMETRIC_RGB);
    EXPECT_FLOAT_EQ(xres, 240.0f);
    EXPECT_FLOAT_EQ(yres, 240.0f);
    EXPECT_EQ(unit, RESUNIT_INCH);
    EXPECT_FALSE(TIFFIsTiled(t));
    TIFFClose(t);
  }
}

TEST(CreateOutFile, NeverOverwritesTheInputWhateverItsSpelling) {
  TempDir dir;
  fs::create_directories(dir.Path() / "sub");
  fs::create_symlink(dir.File("in_4X4.raw"), dir.File("link_4X4.raw"));
  const auto original = test::MakePixels(4, 4, 3, 8);
  test::WriteBytes(dir.File("in_4X4.raw"), original);
  const std::string spellings[] = {
      dir.File("in_4X4.raw"),
      dir.File("sub/../in_4X4.raw"),
      dir.File("link_4X4.raw"),
  };
  for (const auto& input : spellings) {
    SCOPED_TRACE(input);
    ScriptedUi ui;
    ui.AnswerYesNo(MsgResult::Yes);  // must never be asked
    TTrelvi engine(ui);
    DescribeRaw(engine, input, 4, 4, 8);
    engine.OutInfo.ImageType = FileType::RAW;
    engine.OutInfo.Width = 4;
    engine.OutInfo.Height = 4;
    EXPECT_FALSE(engine.CreateOutFile(dir.File("in_4X4")));
    ASSERT_EQ(ui.Messages.size(), 1u);
    EXPECT_EQ(ui.Messages[0].Text, "Cannot overwrite input file");
    EXPECT_TRUE(ui.Messages[0].IsDialog);
    EXPECT_EQ(ui.Messages[0].Icon, MsgIcon::Error);
    EXPECT_EQ(ui.Messages[0].Buttons, MsgButtons::Ok);
    EXPECT_FALSE(engine.OutOpen);
    EXPECT_EQ(test::ReadBytes(dir.File("in_4X4.raw")), original);
  }
}

TEST(CreateOutFile, ExistingOutputIsReplacedOnlyAfterYes) {
  for (MsgResult answer : {MsgResult::No, MsgResult::Yes}) {
    TempDir dir;
    const std::vector<std::uint8_t> old(1000, 0xAB);
    test::WriteBytes(dir.File("out.raw"), old);
    ScriptedUi ui;
    ui.AnswerYesNo(answer);
    TTrelvi engine(ui);
    DescribeRaw(engine, dir.File("in.raw"), 2, 1, 8);
    engine.OutInfo.ImageType = FileType::RAW;
    engine.OutInfo.Width = 2;
    engine.OutInfo.Height = 1;
    const bool created = engine.CreateOutFile(dir.File("out"));
    ASSERT_EQ(ui.Messages.size(), 1u);
    EXPECT_EQ(ui.Messages[0].Text,
              "Output file exists. Do you want to overwrite it?");
    EXPECT_EQ(ui.Messages[0].Icon, MsgIcon::Question);
    EXPECT_EQ(ui.Messages[0].Buttons, MsgButtons::YesNo);
    if (answer == MsgResult::No) {
      EXPECT_FALSE(created);
      EXPECT_FALSE(engine.OutOpen);
      EXPECT_EQ(test::ReadBytes(dir.File("out.raw")), old);
    } else {
      ASSERT_TRUE(created);
      std::fill_n(engine.OutInfo.ScanLine, 6, 1);
      EXPECT_EQ(engine.WriteLine(0), 6);
      EXPECT_TRUE(engine.CloseOutFile());
      EXPECT_EQ(test::ReadBytes(dir.File("out.raw")),
                std::vector<std::uint8_t>(6, 1));
    }
  }
}

TEST(CreateOutFile, UncreatableFileIsAWriteError) {
  for (FileType type : {FileType::RAW, FileType::KRO4, FileType::TIF}) {
    ScriptedUi ui;
    TTrelvi engine(ui);
    DescribeRaw(engine, "/nonexistent/in.raw", 2, 1, 8);
    engine.OutInfo.ImageType = type;
    engine.OutInfo.Width = 2;
    engine.OutInfo.Height = 1;
    FreeSpace space(1u << 30);
    EXPECT_FALSE(engine.CreateOutFile("/nonexistent/folder/out"));
    EXPECT_EQ(ui.Texts(), std::vector<std::string>{"Write to file error"});
    EXPECT_FALSE(engine.OutOpen);
    engine.CloseOutFile();
  }
}

// Runs body in a child process whose files may not grow past limitBytes, and
// returns the child's exit status.
template <class Body>
int WithFileSizeLimit(rlim_t limitBytes, Body body) {
  const pid_t pid = fork();
  if (pid == 0) {
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit{limitBytes, limitBytes};
    setrlimit(RLIMIT_FSIZE, &limit);
    _exit(body());
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 100;
}

TEST(WriteLine, AFullDiskIsNeverReportedAsSuccess) {
  for (FileType type : {FileType::RAW, FileType::KRO4, FileType::TIF}) {
    SCOPED_TRACE(static_cast<int>(type));
    TempDir dir;
    const int code = WithFileSizeLimit(100000, [&] {
      TTrelvi engine;
      DescribeRaw(engine, dir.File("in.raw"), 10000, 100, 8);
      engine.OutInfo.ImageType = type;
      engine.OutInfo.Width = 10000;
      engine.OutInfo.Height = 100;
      if (!engine.CreateOutFile(dir.File("out"))) return 2;
      for (std::uint32_t y = 0; y < 100; ++y) {
        if (engine.WriteLine(y) !=
            static_cast<std::int32_t>(engine.OutInfo.ScanLineSize))
          return 0;  // the failure was seen at a row
      }
      return engine.CloseOutFile() ? 1 : 0;  // or when completing the file
    });
    EXPECT_EQ(code, 0);
  }
}

// A RAW input described by hand streams into every output format.
TEST(Engine, RawInputStreamsIntoEveryFormat) {
  const struct {
    FileType type;
    bool lzw;
    const char* name;
  } outputs[] = {{FileType::TIF, false, "o.tif"},
                 {FileType::TIF, true, "o.tif"},
                 {FileType::RAW, false, "o.raw"},
                 {FileType::KRO4, false, "o.kro"}};
  for (int bits : {8, 16})
    for (const auto& o : outputs) {
      SCOPED_TRACE(std::string(o.name) + " lzw=" + std::to_string(o.lzw) +
                   " bits=" + std::to_string(bits));
      TempDir dir;
      const std::uint32_t w = 37, h = 23;
      const auto pixels = test::MakePixels(w, h, 3, bits);
      test::WriteBytes(dir.File("in.raw"), pixels);
      TTrelvi engine;
      DescribeRaw(engine, dir.File("in.raw"), w, h, bits);
      ASSERT_TRUE(engine.OpenInFile(engine.InInfo.FileName));
      engine.OutInfo.ImageType = o.type;
      engine.UseLzw = o.lzw;
      engine.OutInfo.Width = w;
      engine.OutInfo.Height = h;
      ASSERT_TRUE(engine.CreateOutFile(dir.File("o")));
      for (std::uint32_t y = 0; y < h; ++y) {
        ASSERT_GT(engine.ReadLine(y), 0);
        engine.ConvertLine(engine.InInfo, 0, engine.OutInfo, 0, w);
        ASSERT_EQ(engine.WriteLine(y),
                  static_cast<std::int32_t>(engine.OutInfo.ScanLineSize));
      }
      ASSERT_TRUE(engine.CloseOutFile());
      engine.CloseInFile();

      const std::string out = dir.File(o.name);
      if (o.type == FileType::TIF) {
        const auto img = test::ReadTiff(out);
        EXPECT_EQ(img.Compression, o.lzw ? COMPRESSION_LZW : COMPRESSION_NONE);
        EXPECT_EQ(img.Pixels, pixels);
      } else if (o.type == FileType::RAW) {
        EXPECT_EQ(test::ReadBytes(out), pixels);
      } else {
        std::vector<std::uint8_t> rgba;
        const int bps = bits / 8;
        for (std::size_t i = 0; i < pixels.size(); i += 3 * bps) {
          rgba.insert(rgba.end(), pixels.begin() + i,
                      pixels.begin() + i + 3 * bps);
          for (int b = 0; b < bps; ++b) rgba.push_back(0xFF);
        }
        EXPECT_EQ(test::ReadBytes(out), test::MakeKro(w, h, bits, rgba));
      }
    }
}

}  // namespace
}  // namespace trelvi
