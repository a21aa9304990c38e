#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "engine/trelvi.h"
#include "engine/naming.h"

namespace trelvi {

void TTrelvi::MergeTiles(std::uint32_t cols, std::uint32_t rows,
                         const std::vector<std::string>& files,
                         const std::string& outDir, const std::string& desc) {
  if (files.empty() || cols == 0 || rows == 0) {
    DoError("Tile X=1 Y=1 is not valid");
    Aborted = true;
    return;
  }
  std::string base, ext;
  SplitFileName(files[0], base, ext);
  const std::string outBase = outDir + base;
  auto tileName = [&](std::uint32_t col, std::uint32_t row) {
    return FindTileFile(files, ext, col, row);
  };
  auto notValid = [&](std::uint32_t col, std::uint32_t row) {
    DoError("Tile X=" + std::to_string(col) + " Y=" + std::to_string(row) +
            " is not valid");
    Aborted = true;
  };

  // Engine 0 probes the corner tiles; engines 1..cols read one row of tiles.
  std::vector<std::unique_ptr<TTrelvi>> tiles(cols + 1);
  for (auto& t : tiles) t = std::make_unique<TTrelvi>(Ui());

  TTrelvi& probe = *tiles[0];
  probe.InInfo.FileName = tileName(1, 1);
  probe.ReadInputInfo(false);
  if (!probe.InInfo.ImageIsOk) return notValid(1, 1);
  const std::uint64_t tw1 = probe.InInfo.Width, th1 = probe.InInfo.Height;

  probe.InInfo.FileName = tileName(cols, rows);
  probe.ReadInputInfo(false);
  if (!probe.InInfo.ImageIsOk) return notValid(cols, rows);
  const std::uint64_t twn = probe.InInfo.Width, thn = probe.InInfo.Height;
  const std::uint8_t bits = probe.InInfo.Bits;

  // 64-bit sums: a set whose total does not fit the image size fields would
  // otherwise wrap into a small output that the rows overrun.
  const std::uint64_t totalW = (cols - 1ull) * tw1 + twn;
  const std::uint64_t totalH = (rows - 1ull) * th1 + thn;
  if (tw1 == 0 || th1 == 0 || twn == 0 || thn == 0 || totalW == 0 ||
      totalH == 0 || totalW > UINT32_MAX || totalH > INT32_MAX) {
    Ui().ShowMessageBox("Found error in tile dimensions");
    Aborted = true;
    return;
  }

  std::uint32_t outRow = 0;
  OutInfo.FileName = outBase;
  OutInfo.Width = static_cast<std::uint32_t>(totalW);
  OutInfo.Height = static_cast<std::uint32_t>(totalH);
  if (OutInfo.ImageType == FileType::RAW)
    OutInfo.FileName +=
        "_" + std::to_string(totalW) + "X" + std::to_string(totalH);
  InInfo.Bits = bits;
  if (!CreateOutFile(OutInfo.FileName)) {
    DoError("Cannot create the file " + OutInfo.FileName);
    Aborted = true;
    CloseOutFile();
    return;
  }

  DoShowProgress(static_cast<std::int32_t>(totalH), desc);

  for (std::uint32_t row = 1; row <= rows && !Aborted; ++row) {
    for (std::uint32_t col = 1; col <= cols; ++col) {
      TTrelvi& tile = *tiles[col];
      tile.InInfo.FileName = tileName(col, row);
      tile.ReadInputInfo(false);
      const std::uint64_t wantW = col < cols ? tw1 : twn;
      const std::uint64_t wantH = row < rows ? th1 : thn;
      // A tile of another depth would be converted at its own sample size
      // into the output row and run past it, so it is refused like a tile
      // of the wrong size.
      if (!tile.InInfo.ImageIsOk || tile.InInfo.Width != wantW ||
          tile.InInfo.Height != wantH || tile.InInfo.Bits != OutInfo.Bits) {
        notValid(col, row);
        break;
      }
      tile.OpenInFile(tile.InInfo.FileName);
    }
    if (Aborted) break;

    const std::uint32_t lines =
        static_cast<std::uint32_t>(row < rows ? th1 : thn);
    for (std::uint32_t k = 0; k < lines && !Aborted; ++k) {
      std::uint32_t xOff = 0;
      bool read = true;
      for (std::uint32_t col = 1; col <= cols; ++col) {
        TTrelvi& tile = *tiles[col];
        if (!tile.InOpen || tile.ReadLine(k) != static_cast<std::int32_t>(
                                                    tile.InInfo.ScanLineSize)) {
          DoError("Tile X=" + std::to_string(col) +
                  " Y=" + std::to_string(row) + " read error");
          Aborted = true;
          read = false;
          break;
        }
        ConvertLine(tile.InInfo, 0, OutInfo, xOff, tile.InInfo.Width);
        xOff += tile.InInfo.Width;
      }
      if (!read) break;
      if (WriteLine(outRow) !=
          static_cast<std::int32_t>(OutInfo.ScanLineSize)) {
        DoError("Write to file error");
        Aborted = true;
        break;
      }
      ++outRow;
      if (outRow % 7 == 0) {
        DoUpdateProgress(static_cast<std::int32_t>(outRow));
        if (Aborted) break;
        DoStatus("Processing row " + std::to_string(row) + "/" +
                 std::to_string(rows) + " (" + std::to_string(lines - k) + ")");
      }
    }
    for (std::uint32_t col = 1; col <= cols; ++col) tiles[col]->CloseInFile();
  }

  for (std::uint32_t col = 1; col <= cols; ++col) tiles[col]->CloseInFile();
  if (!CloseOutFile() && !Aborted) {
    DoError("Write to file error");
    Aborted = true;
  }
  if (Aborted) std::remove(OutInfo.FileName.c_str());
  DoHideProgress();
}

}  // namespace trelvi
