#include "ui/qt/artwork.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <functional>

namespace trelvi::gui {

namespace {

const QColor kBlue(47, 109, 181);
const QColor kLightBlue(160, 196, 236);
const QColor kGreen(46, 157, 74);
const QColor kOrange(224, 138, 30);
const QColor kDark(60, 60, 66);

// Paints on a 32 × 32 canvas, at 1× and 2× for sharp icons on any screen.
QIcon DrawnIcon(const std::function<void(QPainter&)>& paint) {
  QIcon icon;
  for (int scale : {1, 2}) {
    QPixmap pixmap(32 * scale, 32 * scale);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(scale, scale);
    paint(painter);
    painter.end();
    icon.addPixmap(pixmap);
  }
  return icon;
}

void Page(QPainter& p, const QRectF& r, const QColor& fill) {
  QPainterPath path;
  const qreal fold = 5;
  path.moveTo(r.left(), r.top());
  path.lineTo(r.right() - fold, r.top());
  path.lineTo(r.right(), r.top() + fold);
  path.lineTo(r.right(), r.bottom());
  path.lineTo(r.left(), r.bottom());
  path.closeSubpath();
  p.setPen(QPen(kDark, 1.2));
  p.setBrush(fill);
  p.drawPath(path);
  p.drawLine(QPointF(r.right() - fold, r.top()),
             QPointF(r.right() - fold, r.top() + fold));
  p.drawLine(QPointF(r.right() - fold, r.top() + fold),
             QPointF(r.right(), r.top() + fold));
}

void Arrow(QPainter& p, QPointF from, QPointF to, const QColor& colour,
           qreal width = 2.4) {
  p.setPen(QPen(colour, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.drawLine(from, to);
  const QLineF line(to, from);
  QLineF side1 = line, side2 = line;
  side1.setLength(5.5);
  side2.setLength(5.5);
  side1.setAngle(line.angle() + 35);
  side2.setAngle(line.angle() - 35);
  p.drawLine(side1);
  p.drawLine(side2);
}

void Grid(QPainter& p, const QRectF& r, int cols, int rows, qreal gap,
          const QColor& fill) {
  const qreal w = (r.width() - gap * (cols - 1)) / cols;
  const qreal h = (r.height() - gap * (rows - 1)) / rows;
  p.setPen(QPen(kDark, 1));
  for (int y = 0; y < rows; ++y)
    for (int x = 0; x < cols; ++x) {
      p.setBrush((x + y) % 2 ? fill.lighter(125) : fill);
      p.drawRect(
          QRectF(r.left() + x * (w + gap), r.top() + y * (h + gap), w, h));
    }
}

}  // namespace

QIcon ModeIcon(ModeArt mode) {
  switch (mode) {
    case ModeArt::Convert:
      return DrawnIcon([](QPainter& p) {
        Page(p, QRectF(2.5, 3.5, 13, 17), kLightBlue);
        Page(p, QRectF(16.5, 11.5, 13, 17), kGreen.lighter(150));
        Arrow(p, QPointF(8, 24), QPointF(13.5, 24), kOrange, 2);
        Arrow(p, QPointF(19, 8), QPointF(25, 8), kOrange, 2);
      });
    case ModeArt::Crop:
      return DrawnIcon([](QPainter& p) {
        p.setPen(Qt::NoPen);
        p.setBrush(kLightBlue);
        p.drawRect(QRectF(9, 9, 14, 14));
        p.setPen(QPen(kDark, 3, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
        p.setBrush(Qt::NoBrush);
        p.drawPolyline(QPolygonF({{9, 2}, {9, 23}, {30, 23}}));
        p.drawPolyline(QPolygonF({{2, 9}, {23, 9}, {23, 30}}));
      });
    case ModeArt::Resize:
      return DrawnIcon([](QPainter& p) {
        p.setPen(QPen(kDark, 1.2, Qt::DashLine));
        p.setBrush(Qt::NoBrush);
        p.drawRect(QRectF(2.5, 2.5, 27, 27));
        p.setPen(QPen(kDark, 1.2));
        p.setBrush(kLightBlue);
        p.drawRect(QRectF(2.5, 16.5, 13, 13));
        Arrow(p, QPointF(27, 5), QPointF(15, 17), kOrange);
      });
    case ModeArt::Split:
      return DrawnIcon([](QPainter& p) {
        Grid(p, QRectF(2.5, 4.5, 27, 23), 3, 3, 2.5, kLightBlue);
      });
    case ModeArt::Merge:
      return DrawnIcon([](QPainter& p) {
        Grid(p, QRectF(8.5, 8.5, 15, 15), 2, 2, 0, kLightBlue);
        Arrow(p, QPointF(2, 2), QPointF(7, 7), kOrange, 2);
        Arrow(p, QPointF(30, 2), QPointF(25, 7), kOrange, 2);
        Arrow(p, QPointF(2, 30), QPointF(7, 25), kOrange, 2);
        Arrow(p, QPointF(30, 30), QPointF(25, 25), kOrange, 2);
      });
    case ModeArt::About:
      return DrawnIcon([](QPainter& p) {
        p.setPen(QPen(kBlue.darker(120), 1.2));
        p.setBrush(kBlue);
        p.drawEllipse(QRectF(3, 3, 26, 26));
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::white);
        p.drawEllipse(QRectF(14, 7.5, 4, 4));
        p.drawRoundedRect(QRectF(14, 13.5, 4, 11), 1, 1);
      });
  }
  return QIcon();
}

QPixmap AboutLogo() {
  QPixmap pixmap(96, 64);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF frame(0.5, 0.5, 95, 63);
  QPainterPath clip;
  clip.addRoundedRect(frame, 6, 6);
  p.setClipPath(clip);
  // A wide landscape under a tile grid: a huge image in pieces.
  QLinearGradient sky(0, 0, 0, 64);
  sky.setColorAt(0, QColor(92, 152, 222));
  sky.setColorAt(1, QColor(206, 228, 248));
  p.fillRect(frame, sky);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(255, 214, 102));
  p.drawEllipse(QRectF(64, 8, 14, 14));
  p.setBrush(QColor(88, 120, 150));
  p.drawPolygon(QPolygonF({{0, 64},
                           {0, 40},
                           {18, 22},
                           {32, 36},
                           {50, 16},
                           {72, 42},
                           {96, 30},
                           {96, 64}}));
  p.setBrush(QColor(56, 132, 76));
  p.drawPolygon(QPolygonF(
      {{0, 64}, {0, 50}, {26, 40}, {52, 50}, {76, 44}, {96, 52}, {96, 64}}));
  p.setPen(QPen(QColor(255, 255, 255, 170), 1));
  for (int x = 24; x < 96; x += 24) p.drawLine(QPointF(x, 0), QPointF(x, 64));
  for (int y = 21; y < 64; y += 21) p.drawLine(QPointF(0, y), QPointF(96, y));
  p.setClipping(false);
  p.setPen(QPen(kDark, 1));
  p.setBrush(Qt::NoBrush);
  p.drawRoundedRect(frame, 6, 6);
  return pixmap;
}

QIcon TickIcon() {
  return DrawnIcon([](QPainter& p) {
    p.setPen(QPen(kGreen, 5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPolyline(QPolygonF({{6, 17}, {13, 24}, {26, 8}}));
  });
}

QIcon CrossIcon() {
  return DrawnIcon([](QPainter& p) {
    p.setPen(QPen(QColor(200, 40, 40), 5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(8, 8), QPointF(24, 24));
    p.drawLine(QPointF(24, 8), QPointF(8, 24));
  });
}

QImage AppIconImage(int size) {
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  // Drawn on a 64 × 64 canvas: the coordinates are those of the SVG icon.
  p.scale(size / 64.0, size / 64.0);
  const QRectF frame(2.5, 6.5, 59, 51);
  QPainterPath clip;
  clip.addRoundedRect(frame, 6, 6);
  p.setClipPath(clip);
  QLinearGradient sky(0, 6.5, 0, 57.5);
  sky.setColorAt(0, QColor(92, 152, 222));
  sky.setColorAt(1, QColor(206, 228, 248));
  p.fillRect(frame, sky);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(255, 214, 102));
  p.drawEllipse(QRectF(41, 12, 10, 10));
  p.setBrush(QColor(88, 120, 150));
  p.drawPolygon(QPolygonF({{2, 58},
                           {2, 38},
                           {14, 24},
                           {23, 34},
                           {34, 18},
                           {48, 38},
                           {62, 30},
                           {62, 58}}));
  p.setBrush(QColor(56, 132, 76));
  p.drawPolygon(QPolygonF(
      {{2, 58}, {2, 47}, {18, 40}, {34, 47}, {49, 42}, {62, 48}, {62, 58}}));
  p.setPen(QPen(QColor(255, 255, 255, 170), 1.5));
  for (qreal x : {17.25, 32.0, 46.75})
    p.drawLine(QPointF(x, 6), QPointF(x, 58));
  for (qreal y : {23.5, 40.5}) p.drawLine(QPointF(2, y), QPointF(62, y));
  p.setClipping(false);
  p.setPen(QPen(kDark, 2));
  p.setBrush(Qt::NoBrush);
  p.drawRoundedRect(frame, 6, 6);
  p.end();
  return image;
}

QIcon AppIcon() {
  QIcon icon;
  for (int size : {16, 24, 32, 48, 64, 128, 256})
    icon.addPixmap(QPixmap::fromImage(AppIconImage(size)));
  return icon;
}

}  // namespace trelvi::gui
