#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "engine/trelvi.h"
#include "engine/utils.h"
#include "engine/naming.h"

namespace trelvi {

namespace {
bool EndsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() &&
         s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}
}  // namespace

void TTrelvi::SplitImage(std::uint32_t tileW, std::uint32_t tileH,
                         std::vector<std::string>& list,
                         const std::string& outDir, const std::string& desc) {
  if (!FileExists(InInfo.FileName) || !InInfo.ImageIsOk) {
    DoError("File not found or bad file!");
    Aborted = true;
    return;
  }
  if (!OpenInFile(InInfo.FileName)) {
    DoError("Error opening input file");
    Aborted = true;
    CloseInFile();
    return;
  }

  tileW = std::max<std::uint32_t>(1, std::min(tileW, InInfo.Width));
  tileH = std::max<std::uint32_t>(1, std::min(tileH, InInfo.Height));
  std::uint32_t cols = InInfo.Width / tileW;
  const std::uint32_t lastW = InInfo.Width % tileW;
  if (lastW > 0) ++cols;
  std::uint32_t rows = InInfo.Height / tileH;
  const std::uint32_t lastH = InInfo.Height % tileH;
  if (lastH > 0) ++rows;
  auto tileWidth = [&](std::uint32_t col) {
    return col == cols && lastW > 0 ? lastW : tileW;
  };
  auto tileHeight = [&](std::uint32_t row) {
    return row == rows && lastH > 0 ? lastH : tileH;
  };

  const std::string prefix = outDir + GetBaseName(InInfo.FileName) + "_";

  // One engine per column, reused for every row of tiles; they share the
  // user-interface services so that output creation can still ask.
  std::vector<std::unique_ptr<TTrelvi>> tiles(cols + 1);
  for (std::uint32_t col = 1; col <= cols; ++col)
    tiles[col] = std::make_unique<TTrelvi>(Ui());
  std::uint32_t inRow = 0;

  DoShowProgress(static_cast<std::int32_t>(InInfo.Height), desc);
  ForceBigTiff = false;

  for (std::uint32_t row = 1; row <= rows && !Aborted; ++row) {
    const std::uint32_t lines = tileHeight(row);
    bool created = true;
    for (std::uint32_t col = 1; col <= cols; ++col) {
      TTrelvi& tile = *tiles[col];
      tile.ForceBigTiff = ForceBigTiff;
      tile.InInfo = InInfo;  // the depth and the name that must not be hit
      tile.OutInfo.FileName = prefix + std::to_string(tileWidth(col)) + "X" +
                              std::to_string(lines) + "_x" +
                              std::to_string(col) + "y" + std::to_string(row);
      tile.OutInfo.Width = tileWidth(col);
      tile.OutInfo.Height = lines;
      tile.OutInfo.ImageType = OutInfo.ImageType;
      tile.UseLzw = UseLzw;
      if (!tile.CreateOutFile(tile.OutInfo.FileName)) {
        DoError("Cant't create file " + tile.OutInfo.FileName);
        Aborted = true;
        created = false;
        break;
      }
      list.push_back(tile.OutInfo.FileName);
      // Tile (1, 1) is the largest of the set: when it needs a BigTIFF, every
      // tile takes that flavour so that the whole set shares one extension.
      if (col == 1 && EndsWith(tile.OutInfo.FileName, ".big.tif"))
        ForceBigTiff = true;
    }

    for (std::uint32_t k = 0; created && k < lines && !Aborted; ++k) {
      if (ReadLine(inRow) != static_cast<std::int32_t>(InInfo.ScanLineSize)) {
        DoError("Input file read error");
        Aborted = true;
        break;
      }
      ++inRow;
      if (inRow % 7 == 0) {
        DoUpdateProgress(static_cast<std::int32_t>(inRow));
        if (Aborted) break;
        DoStatus("Processing row " + std::to_string(row) + "/" +
                 std::to_string(rows) + " (" + std::to_string(lines - k) + ")");
      }
      std::uint32_t xOff = 0;
      bool written = true;
      for (std::uint32_t col = 1; col <= cols; ++col) {
        TTrelvi& tile = *tiles[col];
        ConvertLine(InInfo, xOff, tile.OutInfo, 0, tileWidth(col));
        xOff += tileWidth(col);
        if (tile.WriteLine(k) !=
            static_cast<std::int32_t>(tile.OutInfo.ScanLineSize)) {
          DoError("Write to file error");
          Aborted = true;
          written = false;
          break;
        }
      }
      if (!written) break;
    }

    DoUpdateProgress(static_cast<std::int32_t>(inRow));
    bool completed = true;
    for (std::uint32_t col = 1; col <= cols; ++col)
      if (!tiles[col]->CloseOutFile()) completed = false;
    if (!completed && !Aborted) {
      DoError("Write to file error");
      Aborted = true;
    }
  }

  DoHideProgress();
  CloseInFile();
  ForceBigTiff = false;
}

}  // namespace trelvi
