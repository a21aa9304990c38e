// Golden outputs: every operation of the engine runs on a fixed set of
// generated inputs, and the name, size and hash of every file it leaves,
// together with the sequence of hook calls it makes, are compared with the
// values recorded in golden_table.inc. Any change of behaviour, down to one
// byte of a TIFF directory or one status text, shows as a difference; a
// change that is meant must come with a regenerated table.
//
// Regenerating the table (after checking that the difference is intended):
//   TRELVI_GOLDEN_PRINT=$PWD/tests/golden/golden_table.inc
//   build/dev/tests/golden_tests
// (one command line) writes the file; TRELVI_GOLDEN_PRINT=1 prints it on
// standard output instead. Either way the test then passes without
// comparing. TRELVI_GOLDEN_TRACE=1 prints the hook calls of every case, so
// that two builds' traces can be compared line by line when a #hooks entry
// differs.
//
// TIFF outputs are written by libtiff: the table holds for the libtiff
// version named in its first line.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "engine/formats/tiff/strip_writer.h"
#include "engine/trelvi.h"
#include "resize/resize_pipeline.h"
#include "support/fixtures.h"
#include "support/fnv_hash.h"
#include "support/scripted_ui.h"
#include "ui/window_rules.h"

namespace trelvi {
namespace {

namespace fs = std::filesystem;
using rules::OutputChoice;
using test::TempDir;

struct GoldenEntry {
  const char* Key;     // case/file, case#hooks or input#info
  std::uint64_t Size;  // file bytes; for #hooks the number of calls
  std::uint64_t Hash;  // FNV-1a of the bytes or of the calls
};

#include "golden_table.inc"  // kGoldenLibtiff, kGolden

// The first line of libtiff's version text.
std::string LibtiffVersion() {
  const std::string text = TIFFGetVersion();
  return text.substr(0, text.find('\n'));
}

// ---------------------------------------------------------------------------
// Inputs

// Photo-like samples: smooth gradients, a disc and bars with hard edges,
// thin diagonal lines and a little noise from a fixed generator, so that
// LZW, tile seams and the resize filters meet something like a real
// picture. Integer arithmetic only: the same bytes on every machine.
std::uint64_t SplitMix64(std::uint64_t& state) {
  std::uint64_t z = (state += 0x9e3779b97f4a7c15ull);
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
  return z ^ (z >> 31);
}

std::vector<std::uint8_t> Photo(std::uint32_t w, std::uint32_t h, int channels,
                                int bits, std::uint64_t seed) {
  std::uint64_t state = seed;
  const std::size_t bps = static_cast<std::size_t>(bits / 8);
  std::vector<std::uint8_t> out(static_cast<std::size_t>(w) * h * channels *
                                bps);
  const std::int64_t cx = w * 35ll / 100, cy = h / 2;
  const std::int64_t r = std::max<std::int64_t>(2, std::min(w, h) * 3ll / 8);
  std::size_t i = 0;
  for (std::int64_t y = 0; y < h; ++y)
    for (std::int64_t x = 0; x < w; ++x)
      for (int c = 0; c < channels; ++c) {
        std::int64_t v;
        if (c == 3) {
          v = 65535 - x * 30000 / w - y * 20000 / h;  // a soft alpha ramp
        } else {
          v = 6000 + x * 36000 / w + y * 14000 / h + c * 4000;
          const std::int64_t dx = x - cx, dy = y - cy;
          if (dx * dx + dy * dy <= r * r) v += 9000 + 3000 * c;
          if (x % 64 >= 40 && x % 64 < 46) v -= 12000;
          if ((x + 2 * y) % 97 < 3) v = 60000 - 5000 * c;
        }
        v += static_cast<std::int64_t>(SplitMix64(state) >> 55) - 256;
        v = std::clamp<std::int64_t>(v, 0, 65535);
        if (bits == 8) {
          out[i++] = static_cast<std::uint8_t>(v >> 8);
        } else {
          out[i++] = static_cast<std::uint8_t>(v & 0xFF);
          out[i++] = static_cast<std::uint8_t>(v >> 8);
        }
      }
  return out;
}

struct Input {
  std::string Key;   // names the cases made from it
  std::string File;  // full path
};

std::string SizeName(const std::string& base, std::uint32_t w,
                     std::uint32_t h) {
  return base + "_" + std::to_string(w) + "X" + std::to_string(h) + ".raw";
}

// The readable kinds, at both depths.
enum class Kind { Raw, Kro, Tif, TifAlpha, TifLzw, TifTiled, TifPlanar };

Input MakeInput(const fs::path& dir, Kind kind, int bits, std::uint32_t w,
                std::uint32_t h, const std::string& key, std::uint64_t seed) {
  Input in;
  in.Key = key;
  const auto file = [&](const std::string& name) {
    return (dir / name).string();
  };
  if (kind == Kind::Raw) {
    in.File = file(SizeName(key, w, h));
    test::WriteBytes(in.File, Photo(w, h, 3, bits, seed));
    return in;
  }
  if (kind == Kind::Kro) {
    in.File = file(key + ".kro");
    test::WriteBytes(in.File,
                     test::MakeKro(w, h, bits, Photo(w, h, 4, bits, seed)));
    return in;
  }
  test::TiffSpec spec;
  spec.Width = w;
  spec.Height = h;
  spec.Bits = bits;
  spec.Channels = 3;
  spec.RowsPerStrip = 5;
  switch (kind) {
    case Kind::TifAlpha:
      spec.Channels = 4;
      spec.RowsPerStrip = 7;
      break;
    case Kind::TifLzw:
      spec.Compression = COMPRESSION_LZW;
      spec.RowsPerStrip = 4;
      break;
    case Kind::TifTiled:
      spec.TileWidth = 32;  // partial tiles on the right and at the bottom
      spec.TileHeight = 16;
      break;
    case Kind::TifPlanar:
      spec.Planar = PLANARCONFIG_SEPARATE;
      spec.RowsPerStrip = 3;
      break;
    default:
      break;
  }
  in.File = file(key + ".tif");
  test::WriteTiff(in.File, spec, Photo(w, h, spec.Channels, bits, seed));
  return in;
}

// ---------------------------------------------------------------------------
// Output kinds

struct OutKind {
  const char* Name;
  OutputChoice Choice;
  bool Big;  // ForceBigTiff
};
const OutKind kTif{"tif", OutputChoice::Tif, false};
const OutKind kTifLzw{"tif-lzw", OutputChoice::TifLzw, false};
const OutKind kRaw{"raw", OutputChoice::Raw, false};
const OutKind kKro{"kro", OutputChoice::Kro, false};
const OutKind kBigTif{"big-tif", OutputChoice::Tif, true};
const OutKind kBigTifLzw{"big-tif-lzw", OutputChoice::TifLzw, true};
const OutKind kConvertKinds[] = {kTif, kTifLzw, kRaw,
                                 kKro, kBigTif, kBigTifLzw};
const OutKind kPlainKinds[] = {kTif, kTifLzw, kRaw, kKro};
// Split and merge rotate through these, input by input; an odd count gives
// every kind both depths.
const OutKind kTileKinds[] = {kTif, kTifLzw, kRaw, kKro, kBigTif};

// ---------------------------------------------------------------------------
// Recording

// Every hook call, in order, as text; the temporary folder is written "$/"
// so that the record does not depend on where the test runs.
class CallLog {
 public:
  CallLog(TTrelvi& engine, std::string root, bool resize)
      : root_(std::move(root)), resize_(resize) {
    engine.OnError = [this](const std::string& m) { Add("E" + m); };
    engine.OnStatus = [this](const std::string& m) {
      // While tiles are resized the pipeline polls its workers and repeats
      // this status as often as the timing makes it; the progress values
      // around it are fixed and stay in the record.
      if (resize_ && m.rfind("Resizing tile ", 0) == 0) return;
      Add("S" + m);
    };
    // A progress start clears the stop flag, as the window and the command
    // line do.
    engine.OnShowProgress = [this, &engine](std::int32_t max,
                                            const std::string& d) {
      Add("P" + std::to_string(max) + " " + d);
      engine.Aborted = false;
    };
    engine.OnUpdateProgress = [this](std::int32_t c) {
      Add("U" + std::to_string(c));
    };
    engine.OnHideProgress = [this] { Add("H"); };
  }

  void Add(const std::string& call) { calls_.push_back(Clean(call)); }
  std::string Clean(std::string text) const {
    for (std::size_t at; (at = text.find(root_)) != std::string::npos;)
      text.replace(at, root_.size(), "$/");
    return text;
  }
  const std::vector<std::string>& Calls() const { return calls_; }

 private:
  std::string root_;
  bool resize_;
  std::vector<std::string> calls_;
};

struct Result {
  std::uint64_t Size = 0, Hash = 0;
};

class GoldenRun {
 public:
  GoldenRun() {
    fs::create_directories(root_.Path() / "in");
    fs::create_directories(root_.Path() / "out");
  }

  fs::path InDir() const { return root_.Path() / "in"; }

  // Runs one case in a fresh output folder of its own and records the hook
  // calls, the messages shown, the outcome and everything left in the
  // folder.
  void Case(const std::string& key, bool resize,
            const std::function<void(TTrelvi&, const std::string& outDir,
                                     CallLog&)>& body) {
    SCOPED_TRACE(key);
    const fs::path out = root_.Path() / "out" / key;
    fs::create_directories(out);
    test::ScriptedUi ui;
    TTrelvi engine(ui);
    engine.InitEngine();
    CallLog log(engine, root_.Dir(), resize);
    body(engine, out.string() + "/", log);
    for (const auto& m : ui.Messages) log.Add("M" + m.Text);
    log.Add("A" + std::to_string(engine.Aborted));
    log.Add("F" + engine.OutInfo.FileName);
    EXPECT_FALSE(engine.Aborted);
    EXPECT_TRUE(ui.Messages.empty()) << ui.LastText();

    test::Fnv1a64 calls;
    for (const auto& c : log.Calls()) calls.Add(c).Add("\n", 1);
    if (const char* trace = std::getenv("TRELVI_GOLDEN_TRACE");
        trace && *trace) {
      std::printf("== %s\n", key.c_str());
      for (const auto& c : log.Calls()) std::printf("   %s\n", c.c_str());
    }
    Record(key + "#hooks", log.Calls().size(), calls.Value());

    std::vector<fs::path> left;
    for (const auto& e : fs::recursive_directory_iterator(out))
      left.push_back(e.path());
    std::sort(left.begin(), left.end());
    for (const auto& p : left) {
      const std::string name = key + "/" + fs::relative(p, out).string();
      if (fs::is_directory(p)) {
        Record(name + "/", 0, 0);
      } else {
        const auto bytes = test::ReadBytes(p.string());
        Record(name, bytes.size(), test::Fnv1a(bytes));
      }
    }
  }

  // What the engine makes of an input: its descriptor as the info command
  // shows it and as the operations use it.
  void Info(const Input& in) {
    TTrelvi engine;
    engine.InitEngine();
    engine.InInfo.FileName = in.File;
    engine.ReadInputInfo(false);
    const TFileInfo& i = engine.InInfo;
    std::ostringstream text;
    text << i.ImageTypeDesc << ' ' << static_cast<int>(i.ImageType) << ' '
         << i.FileSize << ' ' << i.Width << 'x' << i.Height << ' '
         << int{i.Bits} << ' ' << int{i.Channels} << ' ' << int{i.BytesPerPixel}
         << ' ' << i.IsLsb << ' ' << i.ImageIsOk;
    Record(in.Key + "#info", static_cast<std::uint64_t>(i.FileSize),
           test::Fnv1a(text.str()));
  }

  const std::map<std::string, Result>& Results() const { return got_; }

 private:
  void Record(const std::string& key, std::uint64_t size, std::uint64_t hash) {
    EXPECT_TRUE(got_.emplace(key, Result{size, hash}).second) << key;
  }

  TempDir root_;
  std::map<std::string, Result> got_;
};

void Describe(TTrelvi& engine, const Input& in) {
  engine.InInfo = TFileInfo{};
  engine.InInfo.FileName = in.File;
  engine.ReadInputInfo(false);
  ASSERT_TRUE(engine.InInfo.ImageIsOk) << in.File;
}

void SetOutput(TTrelvi& engine, const OutKind& kind) {
  rules::SetOutputType(engine, kind.Choice);
  engine.ForceBigTiff = kind.Big;
}

struct Rect {
  std::int32_t X, Y, W, H;
};

// Convert (a crop of the whole image) into every kind, a crop into every
// plain kind, a split into tiles and a merge of those tiles.
void ImageOperations(GoldenRun& run, const Input& in, const Rect& crop,
                     std::uint32_t tileW, std::uint32_t tileH,
                     const OutKind& splitKind, const OutKind& mergeKind) {
  run.Info(in);
  for (const OutKind& kind : kConvertKinds)
    run.Case(in.Key + "/convert-" + kind.Name, false,
             [&](TTrelvi& e, const std::string& out, CallLog&) {
               Describe(e, in);
               SetOutput(e, kind);
               e.CropImage(0, 0, static_cast<std::int32_t>(e.InInfo.Width),
                           static_cast<std::int32_t>(e.InInfo.Height), out, "");
             });
  for (const OutKind& kind : kPlainKinds)
    run.Case(in.Key + "/crop-" + std::string(kind.Name), false,
             [&](TTrelvi& e, const std::string& out, CallLog&) {
               Describe(e, in);
               SetOutput(e, kind);
               e.CropImage(crop.X, crop.Y, crop.W, crop.H, out, "Crop");
             });

  std::vector<std::string> tiles;
  std::uint32_t cols = 0, rows = 0;
  run.Case(in.Key + "/split-" + std::string(splitKind.Name), false,
           [&](TTrelvi& e, const std::string& out, CallLog& log) {
             Describe(e, in);
             SetOutput(e, splitKind);
             cols = rules::TileCount(e.InInfo.Width, tileW);
             rows = rules::TileCount(e.InInfo.Height, tileH);
             e.SplitImage(tileW, tileH, tiles, out, "Split");
             for (const auto& t : tiles) log.Add("W" + t);
           });
  ASSERT_EQ(tiles.size(), std::size_t{cols} * rows);
  // The tiles as a person may pick them: in no particular order.
  std::reverse(tiles.begin(), tiles.end());
  run.Case(in.Key + "/merge-" + std::string(mergeKind.Name), false,
           [&](TTrelvi& e, const std::string& out, CallLog&) {
             SetOutput(e, mergeKind);
             e.MergeTiles(cols, rows, tiles, out, "Merge");
           });
}

struct ResizeCase {
  const char* Key;
  Kind InputKind;
  int Bits;
  std::uint32_t W, H;
  std::int32_t NewW;
  bool Fast;
  OutKind Output;
  int Cores;
};

// ---------------------------------------------------------------------------

TEST(GoldenOutputs, EveryOperationWritesTheRecordedBytes) {
  const auto started = std::chrono::steady_clock::now();
  // The parallel LZW writer is used whatever the machine, so that its
  // output is the one recorded.
  SetCompressionThreads(3);
  GoldenRun run;

  const struct {
    Kind InputKind;
    const char* Name;
  } kinds[] = {{Kind::Raw, "raw"},         {Kind::Kro, "kro"},
               {Kind::Tif, "tif"},         {Kind::TifAlpha, "tifa"},
               {Kind::TifLzw, "lzw"},      {Kind::TifTiled, "tiled"},
               {Kind::TifPlanar, "planar"}};
  std::uint64_t seed = 1;
  std::size_t n = 0;
  for (const auto& k : kinds)
    for (int bits : {8, 16}) {
      const Input in = MakeInput(run.InDir(), k.InputKind, bits, 97, 61,
                                 k.Name + std::to_string(bits), seed++);
      // 97 x 61 in 40 x 25 tiles: a narrower last column, a lower last row.
      ImageOperations(run, in, {13, 7, 41, 29}, 40, 25,
                      kTileKinds[n % std::size(kTileKinds)],
                      kTileKinds[(n + 1) % std::size(kTileKinds)]);
      ++n;
    }

  // Rows of 18000 and 36000 bytes: LZW rows go through the parallel writer,
  // and so do the 16-bit tiles of 2800 pixels.
  for (int bits : {8, 16}) {
    const Input in = MakeInput(run.InDir(), Kind::Raw, bits, 6000, 23,
                               "wide" + std::to_string(bits), seed++);
    ImageOperations(run, in, {1234, 5, 3100, 11}, 2800, 10, kTifLzw, kTifLzw);
  }

  // The resize wants 10000 pixels on one side; thin images keep it cheap.
  const ResizeCase resizes[] = {
      // Three tiles subsampled, merged, written.
      {"resize-fast-tiled", Kind::Tif, 8, 25000, 40, 2400, true, kTif, 1},
      // One Lanczos pass on the whole image.
      // (The height must shrink by more than 100 pixels, or the image is
      // only copied.)
      {"resize-slow-single", Kind::Raw, 16, 10500, 200, 5000, false, kRaw, 1},
      // Two tiled Lanczos passes, two workers at a time.
      {"resize-slow-multipass", Kind::Raw, 8, 30000, 20, 7000, false, kKro, 2},
      // A KRO input goes through a RAW copy first.
      {"resize-fast-kro16", Kind::Kro, 16, 12000, 30, 1000, true, kTifLzw, 2},
  };
  for (const ResizeCase& c : resizes) {
    const Input in =
        MakeInput(run.InDir(), c.InputKind, c.Bits, c.W, c.H, c.Key, seed++);
    run.Info(in);
    run.Case(std::string(c.Key) + "/" + c.Output.Name, true,
             [&](TTrelvi& e, const std::string& out, CallLog&) {
               Describe(e, in);
               TResizePipeline pipeline(e);
               pipeline.PollInterval = std::chrono::milliseconds(1);
               TResizeParams p;
               p.NewW = c.NewW;
               p.NewH = static_cast<std::int32_t>(rules::ResizedHeight(
                   c.W, c.H, static_cast<std::uint32_t>(c.NewW)));
               p.FastMethod = c.Fast;
               p.OutputFolder = out;
               p.Output = c.Output.Choice;
               p.NumOfCores = c.Cores;
               pipeline.DoResize(p);
             });
  }
  SetCompressionThreads(0);

  const auto& got = run.Results();
  const char* print = std::getenv("TRELVI_GOLDEN_PRINT");
  if (print && *print) {
    std::ostringstream table;
    table << "// libtiff: " << LibtiffVersion() << "\n"
          << "// Written by golden_tests with TRELVI_GOLDEN_PRINT set; see\n"
          << "// golden_output_test.cpp. Do not edit by hand.\n"
          << "// clang-format off\n"
          << "const char* const kGoldenLibtiff = \"" << LibtiffVersion()
          << "\";\n"
          << "const std::vector<GoldenEntry> kGolden = {\n";
    char line[64];
    for (const auto& [key, e] : got) {
      std::snprintf(line, sizeof line, "%" PRIu64 ", 0x%016" PRIx64 "ull",
                    e.Size, e.Hash);
      table << "    {\"" << key << "\", " << line << "},\n";
    }
    table << "};\n// clang-format on\n";
    if (std::string(print) == "1") {
      std::fputs(table.str().c_str(), stdout);
    } else {
      std::ofstream f(print, std::ios::binary | std::ios::trunc);
      f << table.str();
      ASSERT_TRUE(f.good()) << print;
    }
    return;
  }

  std::map<std::string, const GoldenEntry*> expected;
  for (const GoldenEntry& e : kGolden) expected[e.Key] = &e;
  std::vector<std::string> differences;
  for (const auto& [key, e] : got) {
    const auto it = expected.find(key);
    char line[160];
    if (it == expected.end()) {
      std::snprintf(line, sizeof line, "new: %s (%" PRIu64 ", %016" PRIx64 ")",
                    key.c_str(), e.Size, e.Hash);
      differences.push_back(line);
    } else if (it->second->Size != e.Size || it->second->Hash != e.Hash) {
      std::snprintf(line, sizeof line,
                    "changed: %s (%" PRIu64 ", %016" PRIx64 ") -> (%" PRIu64
                    ", %016" PRIx64 ")",
                    key.c_str(), it->second->Size, it->second->Hash, e.Size,
                    e.Hash);
      differences.push_back(line);
    }
  }
  for (const auto& [key, e] : expected)
    if (!got.count(key)) differences.push_back("missing: " + key);

  std::ostringstream report;
  for (std::size_t i = 0; i < differences.size() && i < 60; ++i)
    report << differences[i] << '\n';
  if (differences.size() > 60)
    report << "... and " << differences.size() - 60 << " more\n";
  EXPECT_TRUE(differences.empty())
      << differences.size() << " of " << got.size()
      << " recorded outputs differ from the table (libtiff here: "
      << LibtiffVersion() << "; table: " << kGoldenLibtiff << "):\n"
      << report.str()
      << "If the change is intended, regenerate the table as described at "
         "the top of golden_output_test.cpp.";

  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started)
          .count();
  RecordProperty("outputs", static_cast<int>(got.size()));
  std::printf("[ golden   ] %zu outputs recorded in %.2f s\n", got.size(),
              seconds);
}

}  // namespace
}  // namespace trelvi
