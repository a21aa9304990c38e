#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "engine/naming.h"
#include "engine/trelvi.h"
#include "engine/utils.h"
#include "operations/run_guard.h"

namespace trelvi {

namespace {

bool EndsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() &&
         s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// The tile grid over the input: full tiles, and narrower or lower ones in
// the last column and row when the sides do not divide. Columns and rows
// count from 1, as in the tile names.
struct SplitGrid {
  std::uint32_t TileW = 1, TileH = 1, Cols = 0, Rows = 0, LastW = 0, LastH = 0;

  SplitGrid(std::uint32_t tileW, std::uint32_t tileH, std::uint32_t width,
            std::uint32_t height) {
    TileW = std::max<std::uint32_t>(1, std::min(tileW, width));
    TileH = std::max<std::uint32_t>(1, std::min(tileH, height));
    LastW = width % TileW;
    LastH = height % TileH;
    Cols = TileCount(width, TileW);
    Rows = TileCount(height, TileH);
  }
  std::uint32_t WidthOf(std::uint32_t col) const {
    return col == Cols && LastW > 0 ? LastW : TileW;
  }
  std::uint32_t HeightOf(std::uint32_t row) const {
    return row == Rows && LastH > 0 ? LastH : TileH;
  }
};

// One engine per column, reused for every row of tiles; index 0 is unused.
using TileEngines = std::vector<std::unique_ptr<TTrelvi>>;

// Creates the outputs of one row of tiles and lists them. False (reported)
// when one cannot be created; the tiles created before it stay listed.
[[nodiscard]] bool CreateTileRow(TTrelvi& e, TileEngines& tiles,
                                 const SplitGrid& grid, std::uint32_t row,
                                 const std::string& prefix,
                                 std::vector<std::string>& list) {
  const std::uint32_t lines = grid.HeightOf(row);
  for (std::uint32_t col = 1; col <= grid.Cols; ++col) {
    TTrelvi& tile = *tiles[col];
    tile.ForceBigTiff = e.ForceBigTiff;
    tile.InInfo = e.InInfo;  // the depth and the name that must not be hit
    tile.OutInfo.FileName = prefix + SizeSuffix(grid.WidthOf(col), lines) +
                            TilePositionSuffix(col, row);
    tile.OutInfo.Width = grid.WidthOf(col);
    tile.OutInfo.Height = lines;
    tile.OutInfo.Metadata = e.InInfo.Metadata;  // every tile keeps it
    tile.OutInfo.ImageType = e.OutInfo.ImageType;
    tile.UseLzw = e.UseLzw;
    tile.OutCodec = e.OutCodec;
    tile.CompressionLevel = e.CompressionLevel;
    tile.SyncOutputs = e.SyncOutputs;
    if (!tile.CreateOutFile(tile.OutInfo.FileName)) {
      ops::Fail(e, "Cant't create file " + tile.OutInfo.FileName);
      return false;
    }
    list.push_back(tile.OutInfo.FileName);
    // Tile (1, 1) is the largest of the set: when it needs a BigTIFF, every
    // tile takes that flavour (as when it needs a PSB) so that the whole set
    // shares one extension.
    if (col == 1 && (EndsWith(tile.OutInfo.FileName, ".big.tif") ||
                     EndsWith(tile.OutInfo.FileName, ".psb")))
      e.ForceBigTiff = true;
  }
  return true;
}

// Copies the input rows of one row of tiles, each input row cut across the
// tiles of the row. inRow is the next input row, read by its index.
void CopyBand(TTrelvi& e, TileEngines& tiles, const SplitGrid& grid,
              std::uint32_t row, std::uint32_t& inRow) {
  const std::uint32_t lines = grid.HeightOf(row);
  ops::CountdownText processing("Processing row " + std::to_string(row) + "/" +
                                std::to_string(grid.Rows) + " (");
  for (std::uint32_t k = 0; k < lines && !e.Aborted; ++k) {
    if (e.ReadLine(inRow) != static_cast<std::int32_t>(e.InInfo.ScanLineSize))
      return ops::Fail(e, "Input file read error");
    ++inRow;
    if (inRow % 7 == 0) {
      e.DoUpdateProgress(static_cast<std::int32_t>(inRow));
      if (e.Aborted) return;
      e.DoStatus(processing(lines - k));
    }
    std::uint32_t xOff = 0;
    for (std::uint32_t col = 1; col <= grid.Cols; ++col) {
      TTrelvi& tile = *tiles[col];
      e.ConvertLine(e.InInfo, xOff, tile.OutInfo, 0, grid.WidthOf(col));
      xOff += grid.WidthOf(col);
      if (tile.WriteLine(k) !=
          static_cast<std::int32_t>(tile.OutInfo.ScanLineSize))
        return ops::Fail(e, "Write to file error");
    }
  }
}

// Completes every tile of the row. A finished tile row stays on disk even
// when a later one fails: the caller gets the list of what was written. The
// tiles of a row that failed or was stopped are not whole and never take
// their final names, so they leave the list again; rowStart is where the
// row's names begin.
void CloseTileRow(TTrelvi& e, TileEngines& tiles, std::uint32_t cols,
                  std::vector<std::string>& list, std::size_t rowStart) {
  bool completed = true;
  for (std::uint32_t col = 1; col <= cols; ++col)
    if (!tiles[col]->FinishOutFile(!e.Aborted)) completed = false;
  if (!completed && !e.Aborted) ops::Fail(e, "Write to file error");
  std::size_t kept = rowStart;
  for (std::size_t i = rowStart; i < list.size(); ++i)
    if (tiles[i - rowStart + 1]->OutCommitted) list[kept++] = list[i];
  list.resize(kept);
}

}  // namespace

void TTrelvi::SplitImage(std::uint32_t tileW, std::uint32_t tileH,
                         std::vector<std::string>& list,
                         const std::string& outDir, const std::string& desc) {
  if (!FileExists(InInfo.FileName) || !InInfo.ImageIsOk)
    return ops::Fail(*this, "File not found or bad file!");
  ops::RunGuard run(*this);
  if (!run.OpenInput()) return ops::Fail(*this, "Error opening input file");

  const SplitGrid grid(tileW, tileH, InInfo.Width, InInfo.Height);
  const std::string prefix = outDir + GetBaseName(InInfo.FileName);

  // The tile engines share the user-interface services so that output
  // creation can still ask.
  TileEngines tiles(grid.Cols + 1);
  for (std::uint32_t col = 1; col <= grid.Cols; ++col)
    tiles[col] = std::make_unique<TTrelvi>(Ui());

  run.ShowProgress(static_cast<std::int32_t>(InInfo.Height), desc);
  ForceBigTiff = false;
  std::uint32_t inRow = 0;
  for (std::uint32_t row = 1; row <= grid.Rows && !Aborted; ++row) {
    const std::size_t rowStart = list.size();
    if (CreateTileRow(*this, tiles, grid, row, prefix, list))
      CopyBand(*this, tiles, grid, row, inRow);
    DoUpdateProgress(static_cast<std::int32_t>(inRow));
    CloseTileRow(*this, tiles, grid.Cols, list, rowStart);
  }

  run.Finish();
  ForceBigTiff = false;
}

}  // namespace trelvi
