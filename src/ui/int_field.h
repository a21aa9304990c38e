#pragma once

#include <cstdint>
#include <string>

namespace trelvi {

// The behaviour of the window's integer fields without the widget: decimal
// digits only, a minimum and a maximum. While the user types, the value is
// the number typed, unclamped, so that a change handler sees what was typed;
// leaving the field, pasting into it or setting it from the program brings
// the value into range. Each operation tells whether the shown text changed,
// which is when the field's change event is raised.
class IntField {
 public:
  IntField(std::int64_t minimum, std::int64_t maximum, std::int64_t initial);

  std::int64_t Minimum() const { return min_; }
  std::int64_t Maximum() const { return max_; }
  // Changes the range only; the shown value is brought into it at the next
  // leave, paste or program set.
  void SetRange(std::int64_t minimum, std::int64_t maximum);

  const std::string& Text() const { return text_; }
  // The number the text holds, unclamped; 0 for an empty text.
  std::int64_t Value() const;

  // The user typed: the field's whole new text. Refused (false, nothing
  // changed) unless it is digits only.
  bool Type(const std::string& text);
  // Focus loss and paste: the value is brought into range. True when the
  // text changed.
  bool Normalize();
  // The program sets the value; it is brought into range. True when the
  // text changed.
  bool SetValue(std::int64_t value);

  // Digits needed to write the maximum: more cannot be typed.
  int MaxDigits() const;

  static bool IsDigits(const std::string& text);
  static std::int64_t Clamp(std::int64_t value, std::int64_t minimum,
                            std::int64_t maximum);

 private:
  std::int64_t min_;
  std::int64_t max_;
  std::string text_;
};

}  // namespace trelvi
