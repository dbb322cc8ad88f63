// The wallpaper tiling: edge to edge from the top-left corner, the last row and column clipped.

#include "appearance/qt_draw_pattern.h"

#include <QPainter>
#include <QtTest>

using namespace tarvo;

namespace {

// A painter on an image that counts the tiles drawn by their distinct top-left corners.
QImage tile(int w, int h) {
  QImage t(w, h, QImage::Format_RGB32);
  t.fill(Qt::black);
  t.setPixel(0, 0, qRgb(255, 0, 0));  // marks each tile's corner
  return t;
}

int corners(const QImage& target) {
  int n = 0;
  for (int y = 0; y < target.height(); ++y)
    for (int x = 0; x < target.width(); ++x) n += target.pixel(x, y) == qRgb(255, 0, 0);
  return n;
}

}  // namespace

class DrawPatternTest : public QObject {
  Q_OBJECT

 private slots:
  void twoTilesWideIsCoveredEdgeToEdge() {
    QImage target(40, 30, QImage::Format_RGB32);
    target.fill(Qt::white);
    QPainter painter(&target);
    Draw_Pattern(painter, tile(20, 10), target.rect());
    painter.end();
    QCOMPARE(corners(target), 2 * 3);  // the third column lies wholly outside: clipped
    QCOMPARE(target.pixel(39, 29), qRgb(0, 0, 0));
  }

  void aControlContinuesThePatternOfThePanel() {
    QImage box(10, 10, QImage::Format_RGB32);
    box.fill(Qt::white);
    QPainter painter(&box);
    Draw_Pattern(painter, tile(7, 7), QRect(5, 5, 10, 10));  // the box sits at (5, 5)
    painter.end();
    QCOMPARE(box.pixel(2, 2), qRgb(255, 0, 0));  // the tile at (7, 7) of the panel
    QCOMPARE(box.pixel(9, 9), qRgb(255, 0, 0));  // the tile at (14, 14)
  }

  void anEmptyPictureDrawsNothing() {
    QImage target(10, 10, QImage::Format_RGB32);
    target.fill(Qt::white);
    QPainter painter(&target);
    Draw_Pattern(painter, QImage(), target.rect());
    Draw_Pattern(painter, QImage(0, 5, QImage::Format_RGB32), target.rect());
    painter.end();
    QCOMPARE(target.pixel(0, 0), qRgb(255, 255, 255));
  }
};

QTEST_MAIN(DrawPatternTest)
#include "qt_draw_pattern_test.moc"
