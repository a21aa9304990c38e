#include "engine/formats/psd/psd_format.h"

#include <cmath>
#include <cstring>
#include <string_view>

namespace trelvi::psd {
namespace {

void Put16(std::vector<std::uint8_t>& out, std::uint16_t v) {
  out.push_back(static_cast<std::uint8_t>(v >> 8));
  out.push_back(static_cast<std::uint8_t>(v));
}

void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  Put16(out, static_cast<std::uint16_t>(v >> 16));
  Put16(out, static_cast<std::uint16_t>(v));
}

std::uint32_t Get32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 |
         std::uint32_t{p[2]} << 8 | p[3];
}

// 16.16 fixed point, rounded, kept inside the field.
std::uint32_t Fixed(double value) {
  if (!(value > 0)) return 0;
  const double scaled = std::round(value * 65536.0);
  return scaled >= 4294967295.0 ? 0xFFFFFFFFu
                                : static_cast<std::uint32_t>(scaled);
}

void PutUnicode(std::vector<std::uint8_t>& out, std::string_view text) {
  Put32(out, static_cast<std::uint32_t>(text.size()));
  for (char c : text) Put16(out, static_cast<std::uint8_t>(c));
}

// Skips a Unicode string field; false when it runs past the end.
bool SkipUnicode(const std::uint8_t* data, std::size_t size, std::size_t& at) {
  if (size - at < 4) return false;
  const std::uint64_t units = Get32(data + at);
  at += 4;
  if (units * 2 > size - at) return false;
  at += static_cast<std::size_t>(units * 2);
  return true;
}

}  // namespace

std::optional<PsdVersion> DetectPsd(const std::uint8_t* head,
                                    std::size_t size) {
  if (size < 6 || std::memcmp(head, "8BPS", 4) != 0 || head[4] != 0)
    return std::nullopt;
  if (head[5] == 1) return PsdVersion::Psd;
  if (head[5] == 2) return PsdVersion::Psb;
  return std::nullopt;
}

std::vector<std::uint8_t> MakeResolutionData(double xPpi, double yPpi) {
  std::vector<std::uint8_t> out;
  out.reserve(16);
  for (double ppi : {xPpi, yPpi}) {
    Put32(out, Fixed(ppi));
    Put16(out, 1);  // shown as pixels per inch
    Put16(out, 1);  // sizes shown in inches
  }
  return out;
}

bool ParseResolutionData(const std::vector<std::uint8_t>& data, double& xPpi,
                         double& yPpi) {
  if (data.size() < 16) return false;
  xPpi = Get32(data.data()) / 65536.0;
  yPpi = Get32(data.data() + 8) / 65536.0;
  return true;
}

std::vector<std::uint8_t> MakeVersionInfoData(bool hasRealMergedData) {
  std::vector<std::uint8_t> out;
  Put32(out, 1);
  out.push_back(hasRealMergedData ? 1 : 0);
  PutUnicode(out, "TrelviTools");
  PutUnicode(out, "TrelviTools");
  Put32(out, 1);
  return out;
}

bool ParseVersionInfoData(const std::uint8_t* data, std::size_t size,
                          bool& hasRealMergedData) {
  if (size < 5) return false;
  std::size_t at = 5;
  if (!SkipUnicode(data, size, at) || !SkipUnicode(data, size, at))
    return false;
  if (size - at < 4) return false;
  hasRealMergedData = data[4] != 0;
  return true;
}

}  // namespace trelvi::psd
