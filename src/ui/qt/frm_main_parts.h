#pragma once

// What the main window's source files share: its colours and the small
// builders of its controls.
#include <QColor>
#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QRect>
#include <QString>
#include <QWidget>
#include <string>

namespace trelvi::gui::frm_main_parts {

inline const QColor kWindowColour(232, 232, 232);
inline const QColor kGreyColour(216, 216, 216);
inline const QColor kHeaderColour(160, 160, 164);

inline void Fill(QWidget* w, const QColor& colour) {
  w->setAutoFillBackground(true);
  QPalette p = w->palette();
  p.setColor(QPalette::Window, colour);
  w->setPalette(p);
}

inline QFont Bold(QFont font, int pointSizeDelta = 0) {
  font.setBold(true);
  if (pointSizeDelta != 0 && font.pointSize() > 0)
    font.setPointSize(font.pointSize() + pointSizeDelta);
  return font;
}

inline QLabel* Label(const QString& text, QWidget* parent,
                     const QRect& geometry,
                     Qt::Alignment alignment = Qt::AlignLeft |
                                               Qt::AlignVCenter) {
  auto* label = new QLabel(text, parent);
  label->setGeometry(geometry);
  label->setAlignment(alignment);
  return label;
}

// A path field: read-only, written by the program, dropped files go to the
// window rather than into the text.
inline QLineEdit* PathField(QWidget* parent, const QRect& geometry) {
  auto* edit = new QLineEdit(parent);
  edit->setGeometry(geometry);
  edit->setReadOnly(true);
  edit->setAcceptDrops(false);
  return edit;
}

inline QString FromStd(const std::string& s) {
  return QString::fromStdString(s);
}

// Increments a counter for the life of a scope.
class CountScope {
 public:
  explicit CountScope(int& counter) : counter_(counter) { ++counter_; }
  ~CountScope() { --counter_; }
  CountScope(const CountScope&) = delete;
  CountScope& operator=(const CountScope&) = delete;

 private:
  int& counter_;
};

}  // namespace trelvi::gui::frm_main_parts
