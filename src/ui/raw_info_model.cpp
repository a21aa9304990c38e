#include "ui/raw_info_model.h"

#include <algorithm>
#include <limits>

#include "engine/utils.h"

namespace trelvi {

namespace {
// Largest side the dialog accepts or proposes.
constexpr std::int32_t kMaxSide = 150000;
// Sides below this are not used to propose the other side.
constexpr std::int32_t kMinProposingSide = 100;
// Digits a field takes from the keyboard unless a selection is overwritten.
constexpr std::size_t kMaxTypedDigits = 6;
}  // namespace

std::int32_t StrToIntOrZero(const std::string& text) {
  std::size_t i = 0;
  const bool negative = !text.empty() && text[0] == '-';
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) i = 1;
  if (i == text.size()) return 0;
  std::int64_t value = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return 0;
    value = value * 10 + (text[i] - '0');
    if (value >
        static_cast<std::int64_t>(std::numeric_limits<std::int32_t>::max()) + 1)
      return 0;
  }
  if (negative) value = -value;
  if (value > std::numeric_limits<std::int32_t>::max()) return 0;
  return static_cast<std::int32_t>(value);
}

void RawInfoModel::Prepare(std::int64_t fileSize, std::uint32_t width,
                           std::uint32_t height, std::uint16_t /*bits*/) {
  state_ = State::Open;
  ImgFileSize = fileSize;
  sizeText_ = FormatGrouped(fileSize);
  NumPixel = GetNumPixel();
  if (width > 0 && height > 0) {
    ImgWidth = width;
    ImgHeight = height;
    SetText(Field::Width, std::to_string(width));
  }
  ImgHeight = 0;
  SetText(Field::Height, "0");
  EdWidthChange();
}

std::int64_t RawInfoModel::GetNumPixel() const {
  return ImgFileSize / (is8Bit_ ? 3 : 6);
}

const std::string& RawInfoModel::Text(Field field) const {
  return edit(field).Text;
}

void RawInfoModel::SetText(Field field, const std::string& text) {
  Edit& e = edit(field);
  if (e.Text == text) return;
  e.Text = text;
  e.SelStart = text.size();
  e.SelLength = 0;
  ProposeFrom(field);
}

void RawInfoModel::SetSelection(Field field, std::size_t start,
                                std::size_t length) {
  Edit& e = edit(field);
  e.SelStart = std::min(start, e.Text.size());
  e.SelLength = std::min(length, e.Text.size() - e.SelStart);
}

void RawInfoModel::Set8Bit(bool checked) {
  if (is8Bit_ == checked) return;
  is8Bit_ = checked;
  RB8bitChange();
}

void RawInfoModel::LeaveField(Field field) { ProposeFrom(field); }

void RawInfoModel::EdWidthChange() { ProposeFrom(Field::Width); }

void RawInfoModel::EdHeightChange() { ProposeFrom(Field::Height); }

void RawInfoModel::ProposeFrom(Field field) {
  std::int32_t side = StrToIntOrZero(Text(field));
  if (side > kMaxSide) {
    side = kMaxSide;
    SetText(field, std::to_string(kMaxSide));
  }
  if (side >= kMinProposingSide && NumPixel % side == 0) {
    const std::int64_t other = NumPixel / side;
    if (other < kMaxSide)
      SetText(field == Field::Width ? Field::Height : Field::Width,
              std::to_string(other));
  }
}

void RawInfoModel::edWidthEnter() {
  SetSelection(Field::Width, 0, width_.Text.size());
}

bool RawInfoModel::edWidthKeyDown(Field field, int key) const {
  switch (key) {
    case vk::Back:
    case vk::Tab:
    case vk::End:
    case vk::Home:
    case vk::Left:
    case vk::Right:
    case vk::Delete:
      return true;
    default:
      break;
  }
  const bool digit = (key >= vk::Digit0 && key <= vk::Digit0 + 9) ||
                     (key >= vk::Numpad0 && key <= vk::Numpad0 + 9);
  if (!digit) return false;
  const Edit& e = edit(field);
  return e.Text.size() < kMaxTypedDigits || e.SelLength > 0;
}

void RawInfoModel::RB8bitChange() {
  NumPixel = GetNumPixel();
  EdWidthChange();
}

bool RawInfoModel::SpeedButton1Click() {
  const std::int32_t w = StrToIntOrZero(width_.Text);
  const std::int32_t h = StrToIntOrZero(height_.Text);
  // Two negative numbers can multiply to the pixel count too; no side is
  // negative.
  if (w < 0 || h < 0) return false;
  if (static_cast<std::int64_t>(w) * h != NumPixel) return false;
  ImgWidth = static_cast<std::uint32_t>(w);
  ImgHeight = static_cast<std::uint32_t>(h);
  state_ = State::Accepted;
  return true;
}

void RawInfoModel::SpeedButton2Click() {
  ImgWidth = 0;
  ImgHeight = 0;
  state_ = State::Cancelled;
}

RawDialogResult RawInfoModel::Result() const {
  RawDialogResult result;
  result.Ok = state_ == State::Accepted;
  if (result.Ok) {
    result.Width = ImgWidth;
    result.Height = ImgHeight;
  }
  result.Bits = Bits();
  return result;
}

}  // namespace trelvi
