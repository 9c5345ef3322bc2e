#include "print_surface.h"

#include <QFontMetricsF>
#include <QPainter>

#include <cmath>

namespace {

// Marks far outside any page are dropped: they would be invisible, and wild
// values must not reach the rasteriser.
bool onSheet(double x, double y)
{
    constexpr double kLimit = 1e6;
    return std::isfinite(x) && std::isfinite(y) && std::fabs(x) < kLimit && std::fabs(y) < kLimit;
}

} // namespace

PainterPrintSurface::PainterPrintSurface(QPainter &painter, double dpi)
    : m_painter(painter), m_pixelsPerTwip(dpi / 1440.0)
{
    m_painter.setRenderHint(QPainter::Antialiasing, true);
    m_painter.setPen(QPen(Qt::black, 1));
}

void PainterPrintSurface::setFontSize(double points)
{
    QFont font = m_painter.font();
    font.setPointSizeF(points);
    m_painter.setFont(font);
}

void PainterPrintSurface::text(float x, float y, const QString &text)
{
    if (!onSheet(x, y))
        return;
    const QFontMetricsF metrics(m_painter.font(), m_painter.device());
    m_painter.drawText(QPointF(px(x), px(y) + metrics.ascent()), text);
}

void PainterPrintSurface::setLineWidth(int devicePixels) { m_lineWidth = std::max(1, devicePixels); }

void PainterPrintSurface::line(float x1, float y1, float x2, float y2)
{
    if (!onSheet(x1, y1) || !onSheet(x2, y2))
        return;
    m_painter.setPen(QPen(Qt::black, m_lineWidth, Qt::SolidLine, Qt::FlatCap));
    m_painter.drawLine(QPointF(px(x1), px(y1)), QPointF(px(x2), px(y2)));
}

void PainterPrintSurface::point(float x, float y)
{
    if (!onSheet(x, y))
        return;
    m_painter.setPen(QPen(Qt::black, m_lineWidth, Qt::SolidLine, Qt::RoundCap));
    m_painter.drawPoint(QPointF(px(x), px(y)));
}
