#pragma once

#include <cstdint>
#include <string>

#include "engine/ui_services.h"

namespace trelvi {

// The text as a decimal integer (an optional sign, then digits); 0 when it
// is not one or does not fit 32 bits.
std::int32_t StrToIntOrZero(const std::string& text);

// Virtual key codes the dimensions dialog's key filter knows.
namespace vk {
inline constexpr int Back = 8;
inline constexpr int Tab = 9;
inline constexpr int End = 35;
inline constexpr int Home = 36;
inline constexpr int Left = 37;
inline constexpr int Up = 38;
inline constexpr int Right = 39;
inline constexpr int Down = 40;
inline constexpr int Delete = 46;
inline constexpr int Digit0 = 48;   // to 57 for 9
inline constexpr int Numpad0 = 96;  // to 105 for numpad 9
}  // namespace vk

// The RAW dimensions dialog without its widgets: what the fields hold, what
// each user action changes and when the dialog may close. One model lives
// for the whole run, like the dialog, so its field texts and its bit depth
// carry over from one file to the next. A view (the Qt dialog, the command
// line's prompt) shows the texts, reports the user's actions through the
// setters below and reads the state back after each call; where the view is
// placed on the screen is its own business.
class RawInfoModel {
 public:
  enum class Field { Width, Height };
  enum class State { Open, Accepted, Cancelled };

  // Confirmed size (0 after Cancel), the file's size and the number of
  // pixels it holds at the chosen depth.
  std::uint32_t ImgWidth = 0;
  std::uint32_t ImgHeight = 0;
  std::int64_t ImgFileSize = 0;
  std::int64_t NumPixel = 0;

  // Sets the dialog up for one file before it is shown: the file size, the
  // width the name proposes (kept from the last use when the name proposes
  // no size) and the height that fits it. Bits is not used: the radio
  // buttons keep their state.
  void Prepare(std::int64_t fileSize, std::uint32_t width, std::uint32_t height,
               std::uint16_t bits);
  // File size div 3 at 8 bits, div 6 at 16 bits.
  std::int64_t GetNumPixel() const;

  // --- What the view shows.
  const std::string& Text(Field field) const;
  const std::string& WidthText() const { return Text(Field::Width); }
  const std::string& HeightText() const { return Text(Field::Height); }
  // lblSize: the file size with "." between groups of three digits.
  const std::string& SizeText() const { return sizeText_; }
  bool Is8Bit() const { return is8Bit_; }  // RB8bit checked, else RB16bit
  std::uint16_t Bits() const { return is8Bit_ ? 8 : 16; }
  // Selection of a field: its first character and its length (0: none).
  std::size_t SelStart(Field field) const { return edit(field).SelStart; }
  std::size_t SelLength(Field field) const { return edit(field).SelLength; }

  // --- What the user does, as the widgets report it.
  // A field's new text; runs the field's change handler when it differs.
  void SetText(Field field, const std::string& text);
  void SetWidthText(const std::string& text) { SetText(Field::Width, text); }
  void SetHeightText(const std::string& text) { SetText(Field::Height, text); }
  void SetSelection(Field field, std::size_t start, std::size_t length);
  // Checks RB8bit (true) or RB16bit (false); RB8bitChange runs on a change.
  void Set8Bit(bool checked);
  // A field lost the focus: its change handler runs.
  void LeaveField(Field field);

  // --- The dialog's handlers.
  void EdWidthChange();
  void EdHeightChange();
  // The width field receives the focus: its whole text is selected.
  void edWidthEnter();
  // Key filter of both fields: true when the key may reach the field.
  bool edWidthKeyDown(Field field, int virtualKey) const;
  void RB8bitChange();
  // OK: closes with Accepted when width × height equals NumPixel; otherwise
  // the dialog stays open, without a message. True when it closed.
  bool SpeedButton1Click();
  // Cancel, and the close box: the confirmed size becomes 0 × 0.
  void SpeedButton2Click();

  State GetState() const { return state_; }
  // What the dialog hands back once closed.
  RawDialogResult Result() const;

 private:
  struct Edit {
    std::string Text = "0";
    std::size_t SelStart = 0;
    std::size_t SelLength = 0;
  };
  const Edit& edit(Field field) const {
    return field == Field::Width ? width_ : height_;
  }
  Edit& edit(Field field) { return field == Field::Width ? width_ : height_; }
  // Proposes the other field's value from this one's.
  void ProposeFrom(Field field);

  Edit width_;
  Edit height_;
  std::string sizeText_;
  bool is8Bit_ = true;
  State state_ = State::Open;
};

}  // namespace trelvi
