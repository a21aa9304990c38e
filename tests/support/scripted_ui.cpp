#include "support/scripted_ui.h"

namespace trelvi::test {

void ScriptedUi::ShowMessageBox(const std::string& text) {
  Messages.push_back({text, false, MsgIcon::Information, MsgButtons::Ok});
}

MsgResult ScriptedUi::ShowMessageDialog(const std::string& text, MsgIcon icon,
                                        MsgButtons buttons) {
  Messages.push_back({text, true, icon, buttons});
  if (buttons == MsgButtons::Ok) return MsgResult::Ok;
  if (yesNo_.empty()) return MsgResult::No;
  MsgResult answer = yesNo_.front();
  yesNo_.pop_front();
  return answer;
}

RawDialogResult ScriptedUi::AskRawDimensions(std::int64_t fileSize,
                                             std::uint32_t, std::uint32_t) {
  ++RawDialogCalls;
  RawDialogFileSize = fileSize;
  if (raw_.empty()) return {};
  RawDialogResult answer = raw_.front();
  raw_.pop_front();
  return answer;
}

void ScriptedUi::ProcessEvents() {
  ++EventCalls;
  if (OnEvents) OnEvents();
}

std::vector<std::string> ScriptedUi::Texts() const {
  std::vector<std::string> texts;
  for (const auto& m : Messages) texts.push_back(m.Text);
  return texts;
}

}  // namespace trelvi::test
