#include "ui/qt/frm_raw_info.h"

#include <QButtonGroup>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QTimer>
#include <QToolButton>

#include "ui/qt/artwork.h"

namespace trelvi::gui {

using Field = RawInfoModel::Field;

TFrmRawInfo::TFrmRawInfo(QWidget* parent)
    : QDialog(parent, Qt::Tool | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint) {
  setWindowTitle(QStringLiteral("Open file"));
  setFixedSize(185, 168);
  setModal(true);
  setAutoFillBackground(true);
  QPalette p = palette();
  p.setColor(QPalette::Window, QColor(214, 230, 250));
  setPalette(p);

  Label2 = new QLabel(QStringLiteral("RAW Info"), this);
  Label2->setGeometry(0, 0, 185, 24);
  Label2->setAlignment(Qt::AlignCenter);
  Label2->setAutoFillBackground(true);
  QPalette band = Label2->palette();
  band.setColor(QPalette::Window, QColor(184, 184, 188));
  Label2->setPalette(band);
  QFont bold = Label2->font();
  bold.setBold(true);
  Label2->setFont(bold);

  auto label = [this](const char* text, int y) {
    auto* l = new QLabel(QString::fromLatin1(text), this);
    l->setGeometry(10, y, 58, 22);
    l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return l;
  };
  lbl5 = label("File size :", 32);
  lblSize = new QLabel(this);
  lblSize->setGeometry(74, 32, 104, 22);
  lblSize->setFont(bold);

  auto edit = [this](int y) {
    auto* e = new QLineEdit(QStringLiteral("0"), this);
    e->setGeometry(74, y, 96, 22);
    e->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    e->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("[0-9]*")), e));
    e->setContextMenuPolicy(Qt::NoContextMenu);
    e->setAcceptDrops(false);
    e->installEventFilter(this);
    return e;
  };
  lbl3 = label("Width :", 58);
  edWidth = edit(58);
  lbl6 = label("Height :", 84);
  EdHeight = edit(84);

  lbl13 = label("Bits :", 110);
  RB8bit = new QRadioButton(QStringLiteral("8"), this);
  RB8bit->setGeometry(76, 110, 44, 22);
  RB8bit->setChecked(true);
  RB16bit = new QRadioButton(QStringLiteral("16"), this);
  RB16bit->setGeometry(122, 110, 48, 22);
  auto* bits = new QButtonGroup(this);
  bits->addButton(RB8bit);
  bits->addButton(RB16bit);

  SpeedButton2 = new QToolButton(this);
  SpeedButton2->setIcon(CrossIcon());
  SpeedButton2->setIconSize(QSize(20, 20));
  SpeedButton2->setToolTip(QStringLiteral("Cancel"));
  SpeedButton2->setGeometry(10, 136, 36, 26);
  SpeedButton2->setFocusPolicy(Qt::NoFocus);
  SpeedButton1 = new QToolButton(this);
  SpeedButton1->setIcon(TickIcon());
  SpeedButton1->setIconSize(QSize(20, 20));
  SpeedButton1->setToolTip(QStringLiteral("OK"));
  SpeedButton1->setGeometry(139, 136, 36, 26);
  SpeedButton1->setFocusPolicy(Qt::NoFocus);

  setTabOrder(edWidth, EdHeight);
  setTabOrder(EdHeight, RB8bit);
  setTabOrder(RB8bit, RB16bit);

  connect(edWidth, &QLineEdit::textEdited, this, [this](const QString& t) {
    Model.SetText(Field::Width, t.toStdString());
    Refresh();
  });
  connect(EdHeight, &QLineEdit::textEdited, this, [this](const QString& t) {
    Model.SetText(Field::Height, t.toStdString());
    Refresh();
  });
  connect(RB8bit, &QRadioButton::toggled, this, [this](bool) {
    Model.Set8Bit(RB8bit->isChecked());
    Refresh();
  });
  connect(SpeedButton1, &QToolButton::clicked, this,
          [this] { SpeedButton1Click(); });
  connect(SpeedButton2, &QToolButton::clicked, this,
          [this] { SpeedButton2Click(); });
  Refresh();
}

void TFrmRawInfo::Prepare(std::int64_t fileSize, std::uint32_t width,
                          std::uint32_t height, std::uint16_t bits,
                          QPoint ownerTopLeft) {
  move(ownerTopLeft + QPoint(20, 20));
  Model.Prepare(fileSize, width, height, bits);
  Refresh();
}

RawDialogResult TFrmRawInfo::ShowModal() {
  edWidth->setFocus();
  exec();
  // A dialog closed by other means than its two buttons is cancelled.
  if (Model.GetState() == RawInfoModel::State::Open) Model.SpeedButton2Click();
  return Model.Result();
}

void TFrmRawInfo::SpeedButton1Click() {
  if (Model.SpeedButton1Click()) accept();
}

void TFrmRawInfo::SpeedButton2Click() { reject(); }

void TFrmRawInfo::reject() {
  Model.SpeedButton2Click();
  QDialog::reject();
}

Field TFrmRawInfo::FieldOf(QObject* edit) const {
  return edit == edWidth ? Field::Width : Field::Height;
}

QLineEdit* TFrmRawInfo::EditOf(Field field) const {
  return field == Field::Width ? edWidth : EdHeight;
}

void TFrmRawInfo::PassSelection(Field field) {
  QLineEdit* e = EditOf(field);
  if (e->hasSelectedText())
    Model.SetSelection(field, static_cast<std::size_t>(e->selectionStart()),
                       static_cast<std::size_t>(e->selectedText().size()));
  else
    Model.SetSelection(field, static_cast<std::size_t>(e->cursorPosition()), 0);
}

int TFrmRawInfo::VirtualKeyOf(int key, Qt::KeyboardModifiers modifiers) {
  switch (key) {
    case Qt::Key_Backspace:
      return vk::Back;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
      return vk::Tab;
    case Qt::Key_End:
      return vk::End;
    case Qt::Key_Home:
      return vk::Home;
    case Qt::Key_Left:
      return vk::Left;
    case Qt::Key_Up:
      return vk::Up;
    case Qt::Key_Right:
      return vk::Right;
    case Qt::Key_Down:
      return vk::Down;
    case Qt::Key_Delete:
      return vk::Delete;
    default:
      break;
  }
  if (key >= Qt::Key_0 && key <= Qt::Key_9) {
    const int digit = key - Qt::Key_0;
    return (modifiers & Qt::KeypadModifier) ? vk::Numpad0 + digit
                                            : vk::Digit0 + digit;
  }
  // With Ctrl or Alt a digit or letter is a shortcut, never text.
  if (key >= Qt::Key_A && key <= Qt::Key_Z) return 'A' + (key - Qt::Key_A);
  return 0;  // a key the filter does not know: discarded
}

bool TFrmRawInfo::eventFilter(QObject* watched, QEvent* event) {
  if (watched != edWidth && watched != EdHeight)
    return QDialog::eventFilter(watched, event);
  const Field field = FieldOf(watched);
  switch (event->type()) {
    case QEvent::KeyPress: {
      auto* key = static_cast<QKeyEvent*>(event);
      // Tab and Escape belong to the dialog, not to the field.
      if (key->key() == Qt::Key_Escape || key->key() == Qt::Key_Tab ||
          key->key() == Qt::Key_Backtab)
        break;
      // Digits typed with Ctrl or Alt are shortcuts, not text.
      int vkey = VirtualKeyOf(key->key(), key->modifiers());
      if ((key->modifiers() & (Qt::ControlModifier | Qt::AltModifier)) &&
          !(vkey == vk::Back || vkey == vk::Delete || vkey == vk::Home ||
            vkey == vk::End || vkey == vk::Left || vkey == vk::Right))
        vkey = 0;
      PassSelection(field);
      if (!Model.edWidthKeyDown(field, vkey)) return true;
      break;
    }
    case QEvent::FocusIn:
      if (field == Field::Width) {
        Model.edWidthEnter();
        // A click that brought the focus places the caret after this event;
        // the selection is made once it has.
        QTimer::singleShot(0, edWidth, [this] {
          if (edWidth->hasFocus()) edWidth->selectAll();
        });
      }
      break;
    case QEvent::FocusOut:
      Model.LeaveField(field);
      Refresh();
      break;
    default:
      break;
  }
  return QDialog::eventFilter(watched, event);
}

void TFrmRawInfo::Refresh() {
  lblSize->setText(QString::fromStdString(Model.SizeText()));
  for (Field field : {Field::Width, Field::Height}) {
    QLineEdit* e = EditOf(field);
    const QString text = QString::fromStdString(Model.Text(field));
    if (e->text() != text) e->setText(text);
  }
  if (RB8bit->isChecked() != Model.Is8Bit()) {
    const QSignalBlocker b8(RB8bit), b16(RB16bit);
    (Model.Is8Bit() ? RB8bit : RB16bit)->setChecked(true);
  }
}

}  // namespace trelvi::gui
