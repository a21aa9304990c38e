#include "ui/int_field.h"

#include <algorithm>
#include <limits>

namespace trelvi {

IntField::IntField(std::int64_t minimum, std::int64_t maximum,
                   std::int64_t initial)
    : min_(minimum),
      max_(std::max(minimum, maximum)),
      text_(std::to_string(Clamp(initial, minimum, max_))) {}

void IntField::SetRange(std::int64_t minimum, std::int64_t maximum) {
  min_ = minimum;
  max_ = std::max(minimum, maximum);
}

std::int64_t IntField::Value() const {
  // Saturates instead of wrapping: a long run of typed digits is simply a
  // very large value, which the next clamp brings down to the maximum.
  constexpr std::int64_t kLimit = std::numeric_limits<std::int64_t>::max();
  std::int64_t value = 0;
  for (char c : text_) {
    const int digit = c - '0';
    if (value > (kLimit - digit) / 10) return kLimit;
    value = value * 10 + digit;
  }
  return value;
}

bool IntField::Type(const std::string& text) {
  if (!IsDigits(text)) return false;
  text_ = text;
  return true;
}

bool IntField::Normalize() { return SetValue(Value()); }

bool IntField::SetValue(std::int64_t value) {
  const std::string text = std::to_string(Clamp(value, min_, max_));
  if (text == text_) return false;
  text_ = text;
  return true;
}

int IntField::MaxDigits() const {
  return static_cast<int>(
      std::to_string(std::max<std::int64_t>(max_, 0)).size());
}

bool IntField::IsDigits(const std::string& text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return c >= '0' && c <= '9'; });
}

std::int64_t IntField::Clamp(std::int64_t value, std::int64_t minimum,
                             std::int64_t maximum) {
  if (value > maximum) return maximum;
  if (value < minimum) return minimum;
  return value;
}

}  // namespace trelvi
