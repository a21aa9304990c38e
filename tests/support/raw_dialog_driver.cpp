#include "support/raw_dialog_driver.h"

namespace trelvi::test {

using Field = RawInfoModel::Field;

bool PressKey(RawInfoModel& dialog, Field field, int key) {
  if (!dialog.edWidthKeyDown(field, key)) return false;
  std::string text = dialog.Text(field);
  const std::size_t start = dialog.SelStart(field);
  const std::size_t length = dialog.SelLength(field);
  auto replace = [&](std::size_t from, std::size_t count,
                     const std::string& with, std::size_t caret) {
    text.replace(from, count, with);
    dialog.SetText(field, text);
    dialog.SetSelection(field, caret, 0);
  };
  if (key >= vk::Digit0 && key <= vk::Digit0 + 9) {
    replace(start, length,
            std::string(1, static_cast<char>('0' + key - vk::Digit0)),
            start + 1);
  } else if (key >= vk::Numpad0 && key <= vk::Numpad0 + 9) {
    replace(start, length,
            std::string(1, static_cast<char>('0' + key - vk::Numpad0)),
            start + 1);
  } else if (key == vk::Back) {
    if (length > 0)
      replace(start, length, "", start);
    else if (start > 0)
      replace(start - 1, 1, "", start - 1);
  } else if (key == vk::Delete) {
    if (length > 0)
      replace(start, length, "", start);
    else if (start < text.size())
      replace(start, 1, "", start);
  } else if (key == vk::Home) {
    dialog.SetSelection(field, 0, 0);
  } else if (key == vk::End) {
    dialog.SetSelection(field, text.size(), 0);
  } else if (key == vk::Left) {
    dialog.SetSelection(field, length > 0 ? start : (start > 0 ? start - 1 : 0),
                        0);
  } else if (key == vk::Right) {
    dialog.SetSelection(field, length > 0 ? start + length : start + 1, 0);
  } else if (key == vk::Tab) {
    dialog.LeaveField(field);
  }
  return true;
}

int KeyOf(char c) {
  if (c >= '0' && c <= '9') return vk::Digit0 + (c - '0');
  if (c >= 'a' && c <= 'z') return c - 'a' + 'A';
  return static_cast<unsigned char>(c);
}

void TypeInto(RawInfoModel& dialog, Field field, const std::string& text) {
  if (field == Field::Width)
    dialog.edWidthEnter();
  else
    dialog.SetSelection(field, 0, dialog.Text(field).size());
  for (char c : text) PressKey(dialog, field, KeyOf(c));
  PressKey(dialog, field, vk::Tab);
}

RawDialogResult DialogDrivingUi::AskRawDimensions(std::int64_t fileSize,
                                                  std::uint32_t width,
                                                  std::uint32_t height) {
  // Counts the call and records the size; its scripted answer is not used.
  ScriptedUi::AskRawDimensions(fileSize, width, height);
  Dialog.Prepare(fileSize, width, height, 0);
  ShownSizes.push_back(Dialog.SizeText());
  if (Person) Person(Dialog);
  if (Dialog.GetState() == RawInfoModel::State::Open)
    Dialog.SpeedButton2Click();
  return Dialog.Result();
}

}  // namespace trelvi::test
