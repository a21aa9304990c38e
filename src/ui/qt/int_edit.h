#pragma once

#include <QLineEdit>
#include <cstdint>
#include <functional>

#include "ui/int_field.h"

namespace trelvi::gui {

// An integer field: decimal digits only, right-aligned, with a minimum and a
// maximum (IntField holds the rules). OnChange runs when the user's typing
// changes the text, and when leaving the field, a paste or SetValue changes
// the text by bringing the value into range.
class TIntEdit : public QLineEdit {
 public:
  TIntEdit(std::int64_t minimum, std::int64_t maximum, std::int64_t initial,
           QWidget* parent = nullptr);

  std::int64_t Value() const { return field_.Value(); }
  void SetValue(std::int64_t value);
  void SetMaxValue(std::int64_t maximum);
  std::int64_t MinValue() const { return field_.Minimum(); }
  std::int64_t MaxValue() const { return field_.Maximum(); }

  // Fields only the program writes: grey, no caret, no typing.
  void SetProgramOnly(bool programOnly);
  // A click selects the field's whole text.
  void SetSelectAllOnClick(bool on) { selectAllOnClick_ = on; }

  std::function<void()> OnChange;

 protected:
  void focusOutEvent(QFocusEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  void Typed(const QString& text);
  // After a paste or on leaving: the value into range.
  void Normalize();
  void ShowFieldText();
  void RaiseChange();

  IntField field_;
  bool selectAllOnClick_ = false;
};

}  // namespace trelvi::gui
