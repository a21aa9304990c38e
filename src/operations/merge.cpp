#include <memory>
#include <string>
#include <vector>

#include "engine/naming.h"
#include "engine/trelvi.h"
#include "operations/run_guard.h"

namespace trelvi {

namespace {

// The grid as its corner tiles describe it: every tile has the size of
// tile (1, 1) except those of the last column and row, which share the
// width and height of the last tile.
struct MergeGrid {
  std::uint32_t Cols = 0, Rows = 0;
  std::uint64_t TileW = 0, TileH = 0, LastW = 0, LastH = 0;
  std::uint8_t Bits = 0;

  std::uint64_t Width() const { return (Cols - 1ull) * TileW + LastW; }
  std::uint64_t Height() const { return (Rows - 1ull) * TileH + LastH; }
  std::uint64_t WidthOf(std::uint32_t col) const {
    return col < Cols ? TileW : LastW;
  }
  std::uint64_t HeightOf(std::uint32_t row) const {
    return row < Rows ? TileH : LastH;
  }
};

// Engine 0 probes the corner tiles; engines 1..cols read one row of tiles.
using TileEngines = std::vector<std::unique_ptr<TTrelvi>>;

// The selected tile files, found by the position their names carry.
class TileSet {
 public:
  explicit TileSet(const std::vector<std::string>& files) : files_(files) {
    SplitFileName(files[0], base_, ext_);
  }
  // The name the merged image is given: that of the first file.
  const std::string& Base() const { return base_; }
  std::string Name(std::uint32_t col, std::uint32_t row) const {
    return FindTileFile(files_, ext_, col, row);
  }

 private:
  const std::vector<std::string>& files_;
  std::string base_, ext_;
};

void NotValid(TTrelvi& e, std::uint32_t col, std::uint32_t row) {
  ops::Fail(e, "Tile X=" + std::to_string(col) + " Y=" + std::to_string(row) +
                   " is not valid");
}

// Describes the grid from tiles (1, 1) and (cols, rows). False (reported)
// when a corner is no image or the sizes make no image.
[[nodiscard]] bool ProbeGrid(TTrelvi& e, TTrelvi& probe, const TileSet& set,
                             MergeGrid& grid) {
  probe.InInfo.FileName = set.Name(1, 1);
  probe.ReadInputInfo(false);
  // The merged image keeps what the first tile carries.
  e.OutInfo.Metadata = probe.InInfo.Metadata;
  if (!probe.InInfo.ImageIsOk) {
    NotValid(e, 1, 1);
    return false;
  }
  grid.TileW = probe.InInfo.Width;
  grid.TileH = probe.InInfo.Height;

  probe.InInfo.FileName = set.Name(grid.Cols, grid.Rows);
  probe.ReadInputInfo(false);
  if (!probe.InInfo.ImageIsOk) {
    NotValid(e, grid.Cols, grid.Rows);
    return false;
  }
  grid.LastW = probe.InInfo.Width;
  grid.LastH = probe.InInfo.Height;
  grid.Bits = probe.InInfo.Bits;

  // 64-bit sums: a set whose total does not fit the image size fields would
  // otherwise wrap into a small output that the rows overrun.
  if (grid.TileW == 0 || grid.TileH == 0 || grid.LastW == 0 ||
      grid.LastH == 0 || grid.Width() == 0 || grid.Height() == 0 ||
      grid.Width() > UINT32_MAX || grid.Height() > INT32_MAX) {
    e.Ui().ShowMessageBox("Found error in tile dimensions");
    e.Aborted = true;
    return false;
  }
  return true;
}

// Opens the tiles of one grid row. False (reported) when one of them is no
// image or not of the size and depth the grid needs.
[[nodiscard]] bool OpenTileRow(TTrelvi& e, TileEngines& tiles,
                               const TileSet& set, const MergeGrid& grid,
                               std::uint32_t row) {
  for (std::uint32_t col = 1; col <= grid.Cols; ++col) {
    TTrelvi& tile = *tiles[col];
    tile.InInfo.FileName = set.Name(col, row);
    tile.ReadInputInfo(false);
    // A tile of another depth would be converted at its own sample size
    // into the output row and run past it, so it is refused like a tile of
    // the wrong size.
    if (!tile.InInfo.ImageIsOk || tile.InInfo.Width != grid.WidthOf(col) ||
        tile.InInfo.Height != grid.HeightOf(row) ||
        tile.InInfo.Bits != e.OutInfo.Bits) {
      NotValid(e, col, row);
      return false;
    }
    // A tile that does not open fails at its first row, as a read error of
    // that tile.
    static_cast<void>(tile.OpenInFile(tile.InInfo.FileName));
  }
  return true;
}

// Joins the rows of one grid row of tiles into output rows; each tile row
// is read by its index, from the tile's first row on.
void CopyBand(TTrelvi& e, TileEngines& tiles, const MergeGrid& grid,
              std::uint32_t row, std::uint32_t& outRow) {
  const auto lines = static_cast<std::uint32_t>(grid.HeightOf(row));
  ops::CountdownText processing("Processing row " + std::to_string(row) + "/" +
                                std::to_string(grid.Rows) + " (");
  for (std::uint32_t k = 0; k < lines && !e.Aborted; ++k) {
    std::uint32_t xOff = 0;
    for (std::uint32_t col = 1; col <= grid.Cols; ++col) {
      TTrelvi& tile = *tiles[col];
      if (!tile.InOpen || tile.ReadLine(k) != static_cast<std::int32_t>(
                                                  tile.InInfo.ScanLineSize))
        return ops::Fail(e, "Tile X=" + std::to_string(col) +
                                " Y=" + std::to_string(row) + " read error");
      e.ConvertLine(tile.InInfo, 0, e.OutInfo, xOff, tile.InInfo.Width);
      xOff += tile.InInfo.Width;
    }
    if (e.WriteLine(outRow) !=
        static_cast<std::int32_t>(e.OutInfo.ScanLineSize))
      return ops::Fail(e, "Write to file error");
    ++outRow;
    if (outRow % 7 == 0) {
      e.DoUpdateProgress(static_cast<std::int32_t>(outRow));
      if (e.Aborted) return;
      e.DoStatus(processing(lines - k));
    }
  }
}

void CloseTileRow(TileEngines& tiles, std::uint32_t cols) {
  for (std::uint32_t col = 1; col <= cols; ++col) tiles[col]->CloseInFile();
}

}  // namespace

void TTrelvi::MergeTiles(std::uint32_t cols, std::uint32_t rows,
                         const std::vector<std::string>& files,
                         const std::string& outDir, const std::string& desc) {
  OutInfo.Metadata.reset();
  if (files.empty() || cols == 0 || rows == 0) {
    NotValid(*this, 1, 1);
    return;
  }
  const TileSet set(files);

  TileEngines tiles(cols + 1);
  for (auto& t : tiles) t = std::make_unique<TTrelvi>(Ui());
  MergeGrid grid;
  grid.Cols = cols;
  grid.Rows = rows;
  if (!ProbeGrid(*this, *tiles[0], set, grid)) return;

  OutInfo.FileName = outDir + set.Base();
  OutInfo.Width = static_cast<std::uint32_t>(grid.Width());
  OutInfo.Height = static_cast<std::uint32_t>(grid.Height());
  if (OutInfo.ImageType == FileType::RAW)
    OutInfo.FileName += SizeSuffix(grid.Width(), grid.Height());
  InInfo.Bits = grid.Bits;
  // Merge has always hidden its progress box last, after the output was
  // completed or deleted.
  ops::RunGuard run(*this, ops::RunGuard::Hide::AfterOutput);
  // Every selected tile is an input, used or not.
  KeepFiles = files;
  const bool created = run.CreateOutput(OutInfo.FileName);
  KeepFiles.clear();
  if (!created)
    return ops::Fail(*this, "Cannot create the file " + OutInfo.FileName);

  run.ShowProgress(static_cast<std::int32_t>(grid.Height()), desc);
  std::uint32_t outRow = 0;
  for (std::uint32_t row = 1; row <= rows && !Aborted; ++row) {
    if (OpenTileRow(*this, tiles, set, grid, row))
      CopyBand(*this, tiles, grid, row, outRow);
    CloseTileRow(tiles, cols);
  }
  run.Finish();
}

}  // namespace trelvi
