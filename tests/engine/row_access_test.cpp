// RAW and KRO inputs are read at any row: a row asked for by number is that
// row of the file, whatever was read before it.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <vector>

#include "engine/trelvi.h"
#include "support/fixtures.h"
#include "support/scripted_ui.h"

namespace trelvi {
namespace {

using test::TempDir;

struct Input {
  std::string Name;
  std::vector<std::uint8_t> Rows;  // the file's rows as they should read
  std::uint32_t RowBytes = 0;
};

// A RAW or KRO file of w × h pixels; Rows holds the bytes ReadLine should
// deliver, row after row (KRO: big-endian 16-bit samples, as stored).
Input MakeInput(const TempDir& dir, FileType type, std::uint32_t w,
                std::uint32_t h, int bits) {
  Input in;
  if (type == FileType::RAW) {
    in.Name =
        dir.File("in_" + std::to_string(w) + "X" + std::to_string(h) + ".raw");
    in.Rows = test::MakePixels(w, h, 3, bits);
    test::WriteBytes(in.Name, in.Rows);
  } else {
    in.Name = dir.File("in.kro");
    const std::vector<std::uint8_t> file =
        test::MakeKro(w, h, bits, test::MakePixels(w, h, 4, bits));
    test::WriteBytes(in.Name, file);
    in.Rows.assign(file.begin() + 20, file.end());
  }
  in.RowBytes = static_cast<std::uint32_t>(in.Rows.size() / h);
  return in;
}

void Open(TTrelvi& engine, const Input& in) {
  engine.InInfo.FileName = in.Name;
  engine.ReadInputInfo(false);
  ASSERT_TRUE(engine.InInfo.ImageIsOk) << in.Name;
  ASSERT_TRUE(engine.OpenInFile(in.Name));
  ASSERT_EQ(engine.InInfo.ScanLineSize, in.RowBytes);
}

std::vector<std::uint8_t> RowOf(const Input& in, std::uint32_t row) {
  return std::vector<std::uint8_t>(in.Rows.begin() + row * in.RowBytes,
                                   in.Rows.begin() + (row + 1) * in.RowBytes);
}

std::vector<std::uint8_t> Buffer(const TTrelvi& engine) {
  return std::vector<std::uint8_t>(
      engine.InInfo.ScanLine,
      engine.InInfo.ScanLine + engine.InInfo.ScanLineSize);
}

const struct {
  FileType Type;
  int Bits;
} kLayouts[] = {{FileType::RAW, 8},
                {FileType::RAW, 16},
                {FileType::KRO4, 8},
                {FileType::KRO4, 16}};

TEST(RowAccess, RowsInAnyOrderEqualTheRowsReadInOrder) {
  constexpr std::uint32_t w = 7, h = 23;
  std::vector<std::uint32_t> order(h);
  for (std::uint32_t i = 0; i < h; ++i) order[i] = i;
  std::shuffle(order.begin(), order.end(), std::mt19937(20));
  // Backwards, a row twice, the last row, then the first again.
  order.insert(order.end(), {22, 21, 5, 5, 0, 22, 0, 1});

  for (const auto& layout : kLayouts) {
    SCOPED_TRACE(testing::Message() << static_cast<int>(layout.Type) << " "
                                    << layout.Bits << " bits");
    TempDir dir;
    const Input in = MakeInput(dir, layout.Type, w, h, layout.Bits);
    test::ScriptedUi ui;
    TTrelvi engine(ui);
    Open(engine, in);
    std::vector<std::uint8_t> inOrder;
    for (std::uint32_t y = 0; y < h; ++y) {
      ASSERT_EQ(engine.ReadLine(y), static_cast<std::int32_t>(in.RowBytes));
      const auto row = Buffer(engine);
      inOrder.insert(inOrder.end(), row.begin(), row.end());
    }
    EXPECT_EQ(inOrder, in.Rows);
    for (std::uint32_t y : order) {
      ASSERT_EQ(engine.ReadLine(y), static_cast<std::int32_t>(in.RowBytes))
          << y;
      EXPECT_EQ(Buffer(engine), RowOf(in, y)) << "row " << y;
    }
    engine.CloseInFile();
    EXPECT_TRUE(ui.Messages.empty());
  }
}

TEST(RowAccess, RowsPastTheEndReadAsNothingAndBlack) {
  for (const auto& layout : kLayouts) {
    SCOPED_TRACE(testing::Message() << static_cast<int>(layout.Type) << " "
                                    << layout.Bits << " bits");
    TempDir dir;
    const Input in = MakeInput(dir, layout.Type, 5, 4, layout.Bits);
    TTrelvi engine;
    Open(engine, in);
    ASSERT_GT(engine.ReadLine(3), 0);
    for (std::uint32_t y : {4u, 1000u, 0xFFFFFFFFu}) {
      EXPECT_EQ(engine.ReadLine(y), 0) << y;
      EXPECT_EQ(Buffer(engine), std::vector<std::uint8_t>(in.RowBytes, 0));
    }
    // The end of the file does not stick: rows inside it read again, the
    // first one too after the last possible row.
    for (std::uint32_t y : {0u, 2u}) {
      ASSERT_EQ(engine.ReadLine(y), static_cast<std::int32_t>(in.RowBytes));
      EXPECT_EQ(Buffer(engine), RowOf(in, y));
    }
    engine.CloseInFile();
  }
}

TEST(RowAccess, ATruncatedFileGivesAShortRowThenNothing) {
  for (const auto& layout : kLayouts) {
    SCOPED_TRACE(testing::Message() << static_cast<int>(layout.Type) << " "
                                    << layout.Bits << " bits");
    TempDir dir;
    const Input in = MakeInput(dir, layout.Type, 6, 5, layout.Bits);
    TTrelvi engine;
    Open(engine, in);
    // Cut the file in the middle of row 3, after it was described.
    const std::uint64_t header = layout.Type == FileType::KRO4 ? 20 : 0;
    const std::uint32_t kept = in.RowBytes / 2 + 1;
    std::filesystem::resize_file(in.Name, header + 3 * in.RowBytes + kept);

    ASSERT_EQ(engine.ReadLine(3), static_cast<std::int32_t>(kept));
    std::vector<std::uint8_t> want = RowOf(in, 3);
    std::fill(want.begin() + kept, want.end(), 0);
    EXPECT_EQ(Buffer(engine), want);
    EXPECT_EQ(engine.ReadLine(4), 0);
    EXPECT_EQ(engine.ReadLine(1), static_cast<std::int32_t>(in.RowBytes));
    EXPECT_EQ(Buffer(engine), RowOf(in, 1));
    engine.CloseInFile();
  }
}

// Offsets pass 32 bits long before the largest image: a 150000 × 150000
// RAW, held sparse, read at its last row without anything above it.
TEST(RowAccess, TheLastRowOfAHugeSparseRawIsReadDirectly) {
  constexpr std::uint32_t side = 150000;
  constexpr std::uint64_t rowBytes = std::uint64_t{side} * 3;
  TempDir dir;
  const std::string name = dir.File("pano_150000X150000.raw");
  { std::ofstream f(name, std::ios::binary); }
  std::error_code ec;
  std::filesystem::resize_file(name, rowBytes * side, ec);
  if (ec) GTEST_SKIP() << "no sparse file of 67.5 GB here: " << ec.message();
  std::vector<std::uint8_t> last(rowBytes);
  for (std::size_t i = 0; i < last.size(); ++i)
    last[i] = static_cast<std::uint8_t>(i * 7 + 1);
  {
    std::fstream f(name, std::ios::binary | std::ios::in | std::ios::out);
    f.seekp(static_cast<std::streamoff>(rowBytes * (side - 1)));
    f.write(reinterpret_cast<const char*>(last.data()),
            static_cast<std::streamsize>(last.size()));
    ASSERT_TRUE(f.good());
  }

  TTrelvi engine;
  engine.InInfo.FileName = name;
  engine.ReadInputInfo(false);
  ASSERT_TRUE(engine.InInfo.ImageIsOk);
  ASSERT_TRUE(engine.OpenInFile(name));
  ASSERT_EQ(engine.ReadLine(side - 1), static_cast<std::int32_t>(rowBytes));
  EXPECT_EQ(Buffer(engine), last);
  ASSERT_EQ(engine.ReadLine(side - 2), static_cast<std::int32_t>(rowBytes));
  EXPECT_EQ(Buffer(engine), std::vector<std::uint8_t>(rowBytes, 0));
  EXPECT_EQ(engine.ReadLine(side), 0);
  engine.CloseInFile();
}

}  // namespace
}  // namespace trelvi
