// Draws the window's pictures (the header logo, the completion check mark
// and the button glyphs) into PNG files, at build time:
//
//   makepictures <output folder>
//
// Shapes only, no text, so that no font and no display is needed.

#include <QColor>
#include <QDir>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QString>
#include <cstdio>
#include <functional>

namespace {

const QColor kOrange(255, 128, 0);
const QColor kGreen(40, 150, 60);
const QColor kRed(200, 30, 30);
const QColor kBlue(40, 90, 170);
const QColor kOutline(70, 70, 70);

using Art = std::function<void(QPainter&)>;

bool Save(const QString& folder, const char* name, int width, int height, const Art& art) {
  QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  {
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    art(p);
  }
  const QString path = folder + QLatin1Char('/') + QString::fromLatin1(name);
  if (!image.save(path, "PNG")) {
    std::fprintf(stderr, "makepictures: cannot write %s\n", path.toLocal8Bit().constData());
    return false;
  }
  return true;
}

QPen Stroke(const QColor& color, qreal width) {
  return QPen(color, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

// An orange "M" of two peaks over a thin underline.
void Logo(QPainter& p) {
  QPainterPath m;
  m.moveTo(9, 40);
  m.lineTo(9, 9);
  m.lineTo(30, 30);
  m.lineTo(51, 9);
  m.lineTo(51, 40);
  p.setPen(Stroke(QColor(150, 70, 0, 120), 9));
  p.translate(1, 1);
  p.drawPath(m);
  p.translate(-1, -1);
  p.setPen(Stroke(kOrange, 8));
  p.drawPath(m);
  p.setPen(Stroke(kOrange, 2));
  p.drawLine(QPointF(5, 46), QPointF(55, 46));
}

// The program's icon: the logo on a rounded grey tile, 64 x 64.
void Icon(QPainter& p) {
  p.setPen(Qt::NoPen);
  QLinearGradient grey(0, 0, 64, 0);
  grey.setColorAt(0, QColor(160, 160, 164));
  grey.setColorAt(1, QColor(192, 192, 192));
  p.setBrush(grey);
  p.drawRoundedRect(QRectF(1, 1, 62, 62), 10, 10);
  p.setBrush(kOrange);
  p.drawRect(QRectF(1, 50, 62, 6));
  p.translate(2, 3);
  Logo(p);
}

void CheckMark(QPainter& p) {
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0, 0, 0, 50));
  p.drawEllipse(QRectF(3, 4, 43, 43));
  p.setBrush(kGreen);
  p.drawEllipse(QRectF(2, 2, 43, 43));
  p.setPen(Stroke(Qt::white, 5.5));
  p.setBrush(Qt::NoBrush);
  p.drawPolyline(QPolygonF({QPointF(13, 24), QPointF(21, 32), QPointF(35, 15)}));
}

void Accept(QPainter& p) {
  p.setPen(Stroke(kGreen, 2.6));
  p.drawPolyline(QPolygonF({QPointF(3, 8.5), QPointF(6.5, 12), QPointF(13, 4)}));
}

void Cancel(QPainter& p) {
  p.setPen(Stroke(kRed, 2.6));
  p.drawLine(QPointF(4, 4), QPointF(12, 12));
  p.drawLine(QPointF(12, 4), QPointF(4, 12));
}

void Next(QPainter& p) {
  p.setPen(Stroke(kGreen.darker(130), 1));
  p.setBrush(kGreen);
  p.drawPolygon(QPolygonF({QPointF(2, 6), QPointF(8, 6), QPointF(8, 2.5), QPointF(14, 8), QPointF(8, 13.5),
                           QPointF(8, 10), QPointF(2, 10)}));
}

void Database(QPainter& p) {
  p.setPen(Stroke(kBlue.darker(140), 1));
  p.setBrush(kBlue.lighter(140));
  for (int i = 2; i >= 0; --i) {
    const qreal y = 2.5 + i * 4;
    p.drawRect(QRectF(3, y + 1.5, 10, 3));
    p.drawEllipse(QRectF(3, y + 3, 10, 3));
    p.drawEllipse(QRectF(3, y, 10, 3));
  }
}

void Agenda(QPainter& p) {
  p.setPen(Stroke(kOutline, 1));
  p.setBrush(Qt::white);
  p.drawRect(QRectF(2.5, 3.5, 11, 10));
  p.setPen(Qt::NoPen);
  p.setBrush(kRed);
  p.drawRect(QRectF(3, 4, 10, 3));
  p.setBrush(kOutline);
  for (int row = 0; row < 2; ++row)
    for (int col = 0; col < 3; ++col) p.drawRect(QRectF(4.5 + col * 3, 8.5 + row * 2.5, 1.5, 1.5));
  p.setPen(Stroke(kOutline, 1.2));
  p.drawLine(QPointF(5, 2), QPointF(5, 5));
  p.drawLine(QPointF(11, 2), QPointF(11, 5));
}

void Boxes(QPainter& p, bool checked) {
  for (int i = 0; i < 2; ++i) {
    const QRectF box(2.5 + i * 3, 2.5 + i * 5, 7, 7);
    p.setPen(Stroke(kOutline, 1));
    p.setBrush(Qt::white);
    p.drawRect(box);
    if (checked) {
      p.setPen(Stroke(kGreen, 1.8));
      p.drawPolyline(QPolygonF({box.topLeft() + QPointF(1.5, 3.5), box.topLeft() + QPointF(3, 5.2),
                                box.topLeft() + QPointF(5.8, 1.6)}));
    }
  }
}

void Schedule(QPainter& p) {
  p.setPen(Stroke(kBlue.darker(130), 1.2));
  p.setBrush(Qt::white);
  p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
  p.setPen(Stroke(kOutline, 1.4));
  p.drawLine(QPointF(8, 8), QPointF(8, 4));
  p.drawLine(QPointF(8, 8), QPointF(11, 9.5));
}

void Remove(QPainter& p) {
  p.setPen(Stroke(kOutline, 1));
  p.setBrush(QColor(200, 200, 200));
  p.drawRect(QRectF(4, 5, 8, 9));
  p.drawLine(QPointF(2.5, 4), QPointF(13.5, 4));
  p.drawLine(QPointF(6.5, 2.5), QPointF(9.5, 2.5));
  p.setPen(Stroke(kRed, 1));
  for (qreal x : {6.0, 8.0, 10.0}) p.drawLine(QPointF(x, 7), QPointF(x, 12));
}

void Help(QPainter& p) {
  p.setPen(Qt::NoPen);
  p.setBrush(kBlue);
  p.drawEllipse(QRectF(1, 1, 14, 14));
  QPainterPath hook;
  hook.moveTo(5.5, 6.2);
  hook.arcTo(QRectF(5.5, 3.5, 5, 5), 180, -240);
  hook.quadTo(QPointF(8, 8.6), QPointF(8, 10));
  p.setPen(Stroke(Qt::white, 1.7));
  p.setBrush(Qt::NoBrush);
  p.drawPath(hook);
  p.setPen(Qt::NoPen);
  p.setBrush(Qt::white);
  p.drawEllipse(QRectF(7, 11.3, 2, 2));
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: makepictures <output folder>\n");
    return 2;
  }
  const QString folder = QString::fromLocal8Bit(argv[1]);
  if (!QDir().mkpath(folder)) {
    std::fprintf(stderr, "makepictures: cannot create %s\n", argv[1]);
    return 1;
  }
  bool ok = true;
  ok &= Save(folder, "icon.png", 64, 64, Icon);
  ok &= Save(folder, "logo.png", 60, 48, Logo);
  ok &= Save(folder, "checkmark.png", 48, 48, CheckMark);
  ok &= Save(folder, "accept.png", 16, 16, Accept);
  ok &= Save(folder, "cancel.png", 16, 16, Cancel);
  ok &= Save(folder, "next.png", 16, 16, Next);
  ok &= Save(folder, "database.png", 16, 16, Database);
  ok &= Save(folder, "agenda.png", 16, 16, Agenda);
  ok &= Save(folder, "checkall.png", 16, 16, [](QPainter& p) { Boxes(p, true); });
  ok &= Save(folder, "uncheckall.png", 16, 16, [](QPainter& p) { Boxes(p, false); });
  ok &= Save(folder, "schedule.png", 16, 16, Schedule);
  ok &= Save(folder, "remove.png", 16, 16, Remove);
  ok &= Save(folder, "help.png", 16, 16, Help);
  return ok ? 0 : 1;
}
