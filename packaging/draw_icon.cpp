// draw_icon: the program's icon at the sizes a desktop menu asks for.
// The window's own 16 and 32 pixel icons are a grey frame around a white
// screen with a red reflow curve on it; this draws the same picture from its
// shapes, so that it stays sharp at 256 pixels, on a transparent ground.
//   draw_icon OUTDIR SIZE...   writes OUTDIR/orvalen-SIZE.png
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

// In the 32-unit square of the window's icon, moved up to sit in the middle.
constexpr QRectF kFrame(1, 2, 30, 27);
constexpr QRectF kScreen(3, 6, 26, 20);
// Ramp, soak, ramp to the peak, cooling: as the window's icon draws it.
constexpr QPointF kCurve[] = {{3.0, 25.5}, {8.5, 15.0}, {16.5, 15.0}, {20.8, 8.0}, {28.5, 25.5}};

// Edges on whole pixels keep the frame crisp at every size.
QRect onPixels(const QRectF &r, double scale)
{
    const auto px = [scale](double v) { return int(std::lround(v * scale)); };
    return QRect(QPoint(px(r.left()), px(r.top())), QPoint(px(r.right()) - 1, px(r.bottom()) - 1));
}

QImage drawIcon(int size)
{
    const double scale = size / 32.0;
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.fillRect(onPixels(kFrame, scale), QColor(128, 128, 128));
    const QRect screen = onPixels(kScreen, scale);
    p.fillRect(screen, Qt::white);
    p.setClipRect(screen);
    p.setRenderHint(QPainter::Antialiasing);
    if (size >= 128) {
        // The chart's grid (every 50 s and 50 degrees) where there is room for it.
        p.setPen(QPen(QColor(216, 216, 216), std::max(1.0, scale / 4)));
        for (int k = 1; k < 10; ++k) {
            const double x = screen.left() + screen.width() * k / 10.0;
            p.drawLine(QPointF(x, screen.top()), QPointF(x, screen.bottom() + 1));
        }
        for (int k = 1; k < 6; ++k) {
            const double y = screen.top() + screen.height() * k / 6.0;
            p.drawLine(QPointF(screen.left(), y), QPointF(screen.right() + 1, y));
        }
    }
    QPainterPath curve;
    curve.moveTo(kCurve[0] * scale);
    for (const QPointF &point : kCurve)
        curve.lineTo(point * scale);
    p.setPen(
            QPen(QColor(255, 0, 0), std::max(1.25, 1.8 * scale), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(curve);
    return image;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc < 3) {
        std::fputs("usage: draw_icon OUTDIR SIZE...\n", stderr);
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    for (int i = 2; i < argc; ++i) {
        const int size = std::atoi(argv[i]);
        const QString path = out.filePath(QStringLiteral("orvalen-%1.png").arg(size));
        if (size < 16 || size > 1024 || !drawIcon(size).save(path, "PNG")) {
            std::fprintf(stderr, "draw_icon: cannot write %s\n", qPrintable(path));
            return 1;
        }
    }
    return 0;
}
