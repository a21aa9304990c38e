#include "ui/qt/int_edit.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QRegularExpressionValidator>

namespace trelvi::gui {

TIntEdit::TIntEdit(std::int64_t minimum, std::int64_t maximum,
                   std::int64_t initial, QWidget* parent)
    : QLineEdit(parent), field_(minimum, maximum, initial) {
  setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  setValidator(new QRegularExpressionValidator(
      QRegularExpression(QStringLiteral("[0-9]*")), this));
  setMaxLength(field_.MaxDigits());
  // Files dropped on the window are the window's business, not text.
  setAcceptDrops(false);
  ShowFieldText();
  connect(this, &QLineEdit::textEdited, this,
          [this](const QString& text) { Typed(text); });
}

void TIntEdit::SetValue(std::int64_t value) {
  if (!field_.SetValue(value)) return;
  ShowFieldText();
  RaiseChange();
}

void TIntEdit::SetMaxValue(std::int64_t maximum) {
  field_.SetRange(field_.Minimum(), maximum);
  setMaxLength(field_.MaxDigits());
}

void TIntEdit::SetProgramOnly(bool programOnly) {
  setReadOnly(programOnly);
  QPalette p = palette();
  p.setColor(QPalette::Base,
             programOnly ? QColor(216, 216, 216) : QColor(Qt::white));
  setPalette(p);
}

void TIntEdit::Typed(const QString& text) {
  if (!field_.Type(text.toStdString())) {
    ShowFieldText();
    return;
  }
  RaiseChange();
}

void TIntEdit::Normalize() {
  if (!field_.Normalize()) return;
  ShowFieldText();
  RaiseChange();
}

void TIntEdit::ShowFieldText() {
  const QString text = QString::fromStdString(field_.Text());
  if (QLineEdit::text() != text) setText(text);
}

void TIntEdit::RaiseChange() {
  if (OnChange) OnChange();
}

void TIntEdit::focusOutEvent(QFocusEvent* event) {
  QLineEdit::focusOutEvent(event);
  Normalize();
}

void TIntEdit::keyPressEvent(QKeyEvent* event) {
  const bool paste = event->matches(QKeySequence::Paste);
  QLineEdit::keyPressEvent(event);
  if (paste) Normalize();
}

void TIntEdit::mouseReleaseEvent(QMouseEvent* event) {
  QLineEdit::mouseReleaseEvent(event);
  // The middle button pastes the selection on X11.
  if (event->button() == Qt::MiddleButton) Normalize();
  if (event->button() == Qt::LeftButton && selectAllOnClick_) selectAll();
}

void TIntEdit::contextMenuEvent(QContextMenuEvent* event) {
  QMenu* menu = createStandardContextMenu();
  menu->setAttribute(Qt::WA_DeleteOnClose);
  // The menu's Paste must clamp like a keyboard paste.
  for (QAction* action : menu->actions()) {
    if (action->objectName() == QLatin1String("edit-paste")) {
      disconnect(action, nullptr, nullptr, nullptr);
      connect(action, &QAction::triggered, this, [this] {
        paste();
        Normalize();
      });
    }
  }
  menu->popup(event->globalPos());
}

}  // namespace trelvi::gui
