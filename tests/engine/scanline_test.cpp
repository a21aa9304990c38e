#include <gtest/gtest.h>

#include <vector>

#include "engine/trelvi.h"

namespace trelvi {
namespace {

// A descriptor over a buffer owned by the test.
TFileInfo Row(std::vector<std::uint8_t>& buffer, std::uint32_t width, int bits,
              int channels, bool lsb) {
  TFileInfo info;
  info.Width = width;
  info.Bits = static_cast<std::uint8_t>(bits);
  info.Channels = static_cast<std::uint8_t>(channels);
  info.BytesPerPixel = static_cast<std::uint8_t>(channels * bits / 8);
  info.ScanLineSize = width * info.BytesPerPixel;
  info.IsLsb = lsb;
  buffer.assign(info.ScanLineSize, 0xEE);
  info.ScanLine = buffer.data();
  return info;
}

struct ConvertCase {
  int bits;
  bool swap;
  int srcCh, dstCh;
};

// What one destination pixel must hold, built sample by sample from the
// source pixel independently of the converter's loops.
std::vector<std::uint8_t> ExpectedPixel(const std::uint8_t* src,
                                        const ConvertCase& c) {
  std::vector<std::uint8_t> out;
  const int bps = c.bits / 8;
  for (int s = 0; s < c.dstCh; ++s) {
    if (s >= c.srcCh) {
      for (int b = 0; b < bps; ++b) out.push_back(0xFF);
      continue;
    }
    const std::uint8_t* sample = src + s * bps;
    if (bps == 2 && c.swap) {
      out.push_back(sample[1]);
      out.push_back(sample[0]);
    } else {
      out.insert(out.end(), sample, sample + bps);
    }
  }
  return out;
}

TEST(ConvertLine, AllTwelveCombinationsAndTheUntouchedRest) {
  std::vector<ConvertCase> cases;
  for (int s : {3, 4})
    for (int d : {3, 4}) {
      cases.push_back({8, false, s, d});
      cases.push_back({16, false, s, d});
      cases.push_back({16, true, s, d});
    }
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.bits << " bits swap=" << c.swap << " "
                                    << c.srcCh << "->" << c.dstCh);
    std::vector<std::uint8_t> sb, db;
    TFileInfo src = Row(sb, 20, c.bits, c.srcCh, true);
    TFileInfo dst = Row(db, 8, c.bits, c.dstCh, !c.swap);
    for (std::size_t i = 0; i < sb.size(); ++i)
      sb[i] = static_cast<std::uint8_t>(i * 7 + 1);

    TTrelvi engine;
    engine.ConvertLine(src, 10, dst, 2, 5);

    const int srcBpp = src.BytesPerPixel, dstBpp = dst.BytesPerPixel;
    for (int p = 0; p < 8; ++p) {
      std::vector<std::uint8_t> got(db.begin() + p * dstBpp,
                                    db.begin() + (p + 1) * dstBpp);
      if (p >= 2 && p < 7) {
        EXPECT_EQ(got, ExpectedPixel(sb.data() + (10 + p - 2) * srcBpp, c))
            << "pixel " << p;
      } else {
        EXPECT_EQ(got, std::vector<std::uint8_t>(dstBpp, 0xEE))
            << "pixel " << p << " must stay untouched";
      }
    }
  }
}

TEST(ConvertLine, KroRedSampleIsSwappedAndAlphaDroppedForRaw) {
  std::vector<std::uint8_t> sb, db;
  TFileInfo kro = Row(sb, 1, 16, 4, false);
  TFileInfo raw = Row(db, 1, 16, 3, true);
  sb = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0};
  kro.ScanLine = sb.data();
  TTrelvi engine;
  engine.ConvertLine(kro, 0, raw, 0, 1);
  EXPECT_EQ(db,
            (std::vector<std::uint8_t>{0x34, 0x12, 0x78, 0x56, 0xBC, 0x9A}));
}

TEST(ConvertLine, UnsupportedLayoutsAndZeroCountLeaveTheDestination) {
  const struct {
    int bits, srcCh, dstCh;
    std::uint32_t count;
  } cases[] = {{12, 3, 3, 2}, {8, 1, 3, 2}, {8, 3, 2, 2}, {8, 3, 3, 0}};
  for (const auto& c : cases) {
    std::vector<std::uint8_t> sb(64, 1), db(64, 0xEE);
    TFileInfo src, dst;
    src.Bits = static_cast<std::uint8_t>(c.bits);
    src.Channels = static_cast<std::uint8_t>(c.srcCh);
    src.ScanLine = sb.data();
    dst.Channels = static_cast<std::uint8_t>(c.dstCh);
    dst.ScanLine = db.data();
    TTrelvi engine;
    engine.ConvertLine(src, 0, dst, 0, c.count);
    EXPECT_EQ(db, std::vector<std::uint8_t>(64, 0xEE));
  }
}

}  // namespace
}  // namespace trelvi
