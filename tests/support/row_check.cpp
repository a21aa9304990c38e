#include "support/row_check.h"

#include <gtest/gtest.h>

#include <cstring>
#include <numeric>

#include "support/scripted_ui.h"

namespace trelvi::test {

bool OpenInput(TTrelvi& engine, const std::string& path) {
  engine.InInfo.FileName = path;
  engine.ReadInputInfo(false);
  return engine.InInfo.ImageIsOk && engine.OpenInFile(engine.InInfo.FileName);
}

void ExpectRows(const std::string& path,
                const std::vector<std::uint8_t>& pixels,
                const std::vector<std::uint32_t>& rows) {
  ScriptedUi ui;
  TTrelvi engine(ui);
  ASSERT_TRUE(OpenInput(engine, path)) << path;
  const std::uint32_t rowBytes = engine.InInfo.ScanLineSize;
  ASSERT_EQ(pixels.size() % rowBytes, 0u);
  for (std::uint32_t y : rows) {
    ASSERT_LT(static_cast<std::size_t>(y) * rowBytes, pixels.size());
    ASSERT_EQ(engine.ReadLine(y), static_cast<std::int32_t>(rowBytes))
        << path << " row " << y;
    ASSERT_EQ(
        std::memcmp(engine.InInfo.ScanLine,
                    pixels.data() + static_cast<std::size_t>(y) * rowBytes,
                    rowBytes),
        0)
        << path << " row " << y;
  }
  engine.CloseInFile();
  EXPECT_TRUE(ui.Messages.empty());
}

void ExpectRows(const std::string& path,
                const std::vector<std::uint8_t>& pixels, std::uint32_t first) {
  TTrelvi probe;
  ASSERT_TRUE(OpenInput(probe, path)) << path;
  const std::size_t rowBytes = probe.InInfo.ScanLineSize;
  probe.CloseInFile();
  std::vector<std::uint32_t> rows(pixels.size() / rowBytes - first);
  std::iota(rows.begin(), rows.end(), first);
  ExpectRows(path, pixels, rows);
}

}  // namespace trelvi::test
