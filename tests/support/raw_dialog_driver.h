#pragma once

#include <functional>
#include <string>
#include <vector>

#include "support/scripted_ui.h"
#include "ui/raw_info_model.h"

namespace trelvi::test {

// Presses one key in a field of the dimensions dialog the way a line edit
// handles it once the dialog's key filter let it through: a digit replaces
// the selection or goes in at the caret, Backspace and Delete remove,
// Home, End, Left and Right move the caret, Tab leaves the field. Returns
// whether the filter let the key through.
bool PressKey(RawInfoModel& dialog, RawInfoModel::Field field, int virtualKey);

// The virtual key of a character: digits map to the main keyboard's digit
// keys, letters to their upper-case codes.
int KeyOf(char c);

// Enters a field (the width field selects its text itself; the height field
// is selected by hand), types the text key by key and leaves with Tab.
void TypeInto(RawInfoModel& dialog, RawInfoModel::Field field,
              const std::string& text);

// Services whose RAW dimensions dialog is the real dialog model, worked by a
// scripted person. The model lives as long as the services, as the dialog
// lives for the whole program, so its fields carry over between files.
class DialogDrivingUi : public ScriptedUi {
 public:
  RawInfoModel Dialog;
  // What the person does while the dialog is shown. When the dialog is
  // still open afterwards, the person closes it with the close box.
  std::function<void(RawInfoModel&)> Person;
  // lblSize as each showing of the dialog began.
  std::vector<std::string> ShownSizes;

  RawDialogResult AskRawDimensions(std::int64_t fileSize, std::uint32_t width,
                                   std::uint32_t height) override;
};

}  // namespace trelvi::test
