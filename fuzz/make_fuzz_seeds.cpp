// Writes the seed corpora of the fuzz targets from files that the program
// itself writes: images converted and split by the engine, the names of the
// tiles, and a saved settings file.
//
//   make_fuzz_seeds <folder>   creates <folder>/<target>/ for every target

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/trelvi.h"
#include "engine/utils.h"
#include "fuzz_common.h"
#include "memory_tiff.h"
#include "ui/settings.h"

using namespace trelvi;
namespace fs = std::filesystem;

namespace {

std::vector<std::uint8_t> ReadAll(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

int seedCount = 0;

void Seed(const fs::path& folder, const std::vector<std::uint8_t>& bytes) {
  fs::create_directories(folder);
  const fs::path name = folder / ("seed-" + std::to_string(++seedCount));
  fuzz::WriteFile(name.string(), bytes.data(), bytes.size());
}

// A RAW picture whose samples differ from pixel to pixel and channel to
// channel, named with its size as the engine names RAW files.
std::string WriteSource(const fs::path& dir, std::uint32_t w, std::uint32_t h,
                        int bits) {
  const std::string name =
      (dir / ("src_" + std::to_string(w) + "X" + std::to_string(h) + ".raw"))
          .string();
  std::vector<std::uint8_t> bytes;
  const int bps = bits / 8;
  for (std::uint32_t y = 0; y < h; ++y)
    for (std::uint32_t x = 0; x < w; ++x)
      for (int c = 0; c < 3; ++c)
        for (int b = 0; b < bps; ++b)
          bytes.push_back(
              static_cast<std::uint8_t>(x * 7 + y * 13 + c * 61 + b * 101));
  fuzz::WriteFile(name, bytes.data(), bytes.size());
  return name;
}

bool Describe(TTrelvi& engine, const std::string& file) {
  engine.InInfo = TFileInfo{};
  engine.InInfo.FileName = file;
  engine.ReadInputInfo(false);
  return engine.InInfo.ImageIsOk;
}

// The image seed of a file the engine wrote, for both image targets.
void ImageSeed(const fs::path& seeds, const std::string& written) {
  const std::string name = FileNamePart(written);
  const std::string upper = UpperAscii(name);
  fuzz::Kind kind = fuzz::Kind::Tif;
  std::string text;
  if (upper.size() > 4 && upper.substr(upper.size() - 4) == ".KRO") {
    kind = fuzz::Kind::Kro;
  } else if (upper.size() > 4 && upper.substr(upper.size() - 4) == ".RAW") {
    kind = fuzz::Kind::Raw;
    // The fuzz input names its file "in" + text + ".raw": keep the size
    // suffix (and a tile position, if any) of the written name.
    const std::size_t us = name.find('_');
    text = us == std::string::npos ? "" : name.substr(us, name.size() - us - 4);
  }
  const auto bytes = fuzz::MakeImageInput(kind, text, ReadAll(written));
  Seed(seeds / "fuzz_describe", bytes);
  Seed(seeds / "fuzz_convert", bytes);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <seed folder>\n", argv[0]);
    return 2;
  }
  const fs::path seeds(argv[1]);
  const fs::path work = fuzz::ScratchDir();
  const std::string outDir = (work / "out").string() + "/";
  fs::create_directories(outDir);

  struct Output {
    FileType Type;
    bool Lzw;
    bool Big;
  };
  const Output outputs[] = {{FileType::RAW, false, false},
                            {FileType::KRO4, false, false},
                            {FileType::TIF, false, false},
                            {FileType::TIF, true, false},
                            {FileType::TIF, false, true}};
  // Small pictures, and one whose LZW rows are wide enough to be
  // compressed on several threads.
  const struct {
    std::uint32_t W, H;
  } sizes[] = {{7, 5}, {1, 1}, {33, 3}, {6000, 2}};

  for (const auto& size : sizes)
    for (int bits : {8, 16}) {
      if (size.W == 6000 && bits == 16) continue;
      const std::string source = WriteSource(work, size.W, size.H, bits);
      for (const Output& o : outputs) {
        TTrelvi engine;
        engine.InitEngine();
        if (!Describe(engine, source)) return 1;
        engine.OutInfo.ImageType = o.Type;
        engine.UseLzw = o.Lzw;
        engine.ForceBigTiff = o.Big;
        engine.CropImage(0, 0, static_cast<std::int32_t>(size.W),
                         static_cast<std::int32_t>(size.H), outDir, "");
        if (engine.Aborted || !FileExists(engine.OutInfo.FileName)) return 1;
        const std::string written = engine.OutInfo.FileName;
        ImageSeed(seeds, written);

        // Every output read back as an input, 4 channels for KRO, then
        // split: the tiles are seeds too, and their names those of the
        // name and selection targets.
        if (size.W <= 33 && !o.Big) {
          TTrelvi again;
          if (!Describe(again, written)) return 1;
          again.OutInfo.ImageType = o.Type;
          again.UseLzw = o.Lzw;
          std::vector<std::string> list;
          const std::string tileDir = (work / "tiles").string() + "/";
          fs::create_directories(tileDir);
          again.SplitImage(4, 2, list, tileDir, "");
          if (again.Aborted) return 1;
          for (const std::string& tile : list) ImageSeed(seeds, tile);
          std::vector<std::uint8_t> names, selection{0};
          for (const std::string& tile : list) {
            names.insert(names.end(), tile.begin(), tile.end());
            names.push_back(0);
            selection.insert(selection.end(), tile.begin(), tile.end());
            selection.push_back('\n');
          }
          if (!selection.empty() && selection.back() == '\n')
            selection.pop_back();
          Seed(seeds / "fuzz_naming", names);
          Seed(seeds / "fuzz_tile_selection", selection);
          selection[0] = 1;  // the same list, dropped on the window
          Seed(seeds / "fuzz_tile_selection", selection);
          fs::remove_all(tileDir);
        }
        fs::remove(written);
      }
      fs::remove(source);
    }

  // Settings files as the window saves them.
  for (const SetupValues& values :
       {kFirstRunSetup, SetupValues{-32000, 2147483647, false},
        SetupValues{0, -1, true}}) {
    TSetup setup;
    const std::string ini = (work / "trelvi.ini").string();
    setup.Create(ini);
    if (!setup.Save(values)) return 1;
    Seed(seeds / "fuzz_settings", ReadAll(ini));
    fs::remove(ini);
  }
  // TIFFs carrying every kind of metadata, in each layout.
  for (const auto& bytes : fuzz::MetadataSeeds())
    Seed(seeds / "fuzz_metadata", bytes);

  std::printf("%d seeds written to %s\n", seedCount, seeds.string().c_str());
  return 0;
}
