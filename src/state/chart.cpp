#include "chart.h"

#include "shared_state.h"

#include <QPainter>

#include <cmath>

namespace chart {

void drawGrid(ChartSurface &surface, LooseValue &loopIndex)
{
    for (int k = 0; k <= 12; ++k) {
        const float y = float(30 + 364 * k);
        surface.drawLine(0, y, 7350, y, kGridColour);
    }
    double x = 0;
    for (; x <= 9000; x += 735) {
        loopIndex = x;
        surface.drawLine(float(x), 30, float(x), 4410, kGridColour);
    }
    loopIndex = x;
}

void drawSegment(ChartSurface &surface, double t, double fromDegrees, double toDegrees, double yShift)
{
    surface.drawLine(float(xOf(t - 1)), float(yOf(fromDegrees) + yShift), float(xOf(t)),
                     float(yOf(toDegrees) + yShift), kCurveColour);
}

std::optional<int> drawRecordedCurve(ChartSurface &surface, const SharedState &state, double n)
{
    std::optional<int> firstBad;
    for (double i = 1; i <= n - 1; i += 1) {
        if (!SharedState::isSampleIndex(i))
            break; // the reader refuses such counts; never index outside the samples
        const int k = int(i);
        const double a = state.samples[std::size_t(k - 1)].leadingNumber();
        const LooseValue &current = state.samples[std::size_t(k)];
        const std::optional<double> b = current.strictValue();
        if (!b) {
            // An empty entry is a second without a reading; only a text that
            // is no number is worth telling the operator about.
            if (!firstBad && !current.text().trimmed().isEmpty())
                firstBad = k;
            continue;
        }
        drawSegment(surface, i, a, *b);
    }
    return firstBad;
}

bool clipLine(const QRectF &box, double &x1, double &y1, double &x2, double &y2)
{
    if (!std::isfinite(x1) || !std::isfinite(y1) || !std::isfinite(x2) || !std::isfinite(y2))
        return false;
    const double dx = x2 - x1;
    const double dy = y2 - y1;
    double t0 = 0;
    double t1 = 1;
    const double p[4] = {-dx, dx, -dy, dy};
    const double q[4] = {x1 - box.left(), box.right() - x1, y1 - box.top(), box.bottom() - y1};
    for (int i = 0; i < 4; ++i) {
        if (p[i] == 0) {
            if (q[i] < 0)
                return false;
            continue;
        }
        const double r = q[i] / p[i];
        if (p[i] < 0) {
            if (r > t1)
                return false;
            t0 = std::max(t0, r);
        } else {
            if (r < t0)
                return false;
            t1 = std::min(t1, r);
        }
    }
    const double nx1 = x1 + t0 * dx, ny1 = y1 + t0 * dy;
    const double nx2 = x1 + t1 * dx, ny2 = y1 + t1 * dy;
    x1 = nx1;
    y1 = ny1;
    x2 = nx2;
    y2 = ny2;
    return true;
}

} // namespace chart

RetainedChart::RetainedChart(int widthTwips, int heightTwips, double dpi, qreal devicePixelRatio)
    : m_pixelsPerTwip(dpi * devicePixelRatio / 1440.0),
      m_devicePixelRatio(devicePixelRatio),
      m_image(std::max(1, int(std::lround(widthTwips * m_pixelsPerTwip))),
              std::max(1, int(std::lround(heightTwips * m_pixelsPerTwip))),
              QImage::Format_RGB32)
{
    m_image.fill(Qt::white);
}

void RetainedChart::clear()
{
    endPainting();
    m_image.fill(Qt::white);
    m_dirty = QRect(0, 0, m_image.width(), m_image.height());
}

void RetainedChart::drawLine(float x1, float y1, float x2, float y2, QColor colour)
{
    double ax = x1 * m_pixelsPerTwip, ay = y1 * m_pixelsPerTwip;
    double bx = x2 * m_pixelsPerTwip, by = y2 * m_pixelsPerTwip;
    // Clip in double first so that wild readings never hand the rasteriser
    // coordinates it cannot handle.
    const QRectF box(-2, -2, m_image.width() + 4, m_image.height() + 4);
    if (!chart::clipLine(box, ax, ay, bx, by))
        return;
    const QPoint a(int(std::floor(ax)), int(std::floor(ay)));
    const QPoint b(int(std::floor(bx)), int(std::floor(by)));
    const int width = int(std::max(1.0, std::floor(m_devicePixelRatio)));
    m_dirty |= QRect(a, b).normalized().adjusted(-width - 1, -width - 1, width + 1, width + 1);
    if (width == 1 && (a.x() == b.x() || a.y() == b.y())) {
        // The grid's straight lines, written directly: the same pixels as the
        // painter's aliased line with both ends, without setting one up.
        const QRect span = QRect(a, b).normalized() & m_image.rect();
        const QRgb rgb = colour.rgb();
        uchar *bits = m_image.bits();
        const qsizetype stride = m_image.bytesPerLine();
        for (int y = span.top(); y <= span.bottom(); ++y) {
            auto *row = reinterpret_cast<QRgb *>(bits + y * stride);
            std::fill(row + span.left(), row + span.right() + 1, rgb);
        }
        return;
    }
    if (!m_painter) {
        m_painter.emplace(&m_image);
        m_painter->setRenderHint(QPainter::Antialiasing, false);
        m_penColour = QColor();
    }
    if (colour != m_penColour) {
        m_painter->setPen(QPen(colour, width, Qt::SolidLine, Qt::SquareCap));
        m_penColour = colour;
    }
    if (a == b)
        m_painter->drawPoint(a);
    else
        m_painter->drawLine(a, b);
}

void RetainedChart::endPainting() const { m_painter.reset(); }

QPoint RetainedChart::pixelOf(double xTwips, double yTwips) const
{
    return QPoint(int(std::floor(xTwips * m_pixelsPerTwip)), int(std::floor(yTwips * m_pixelsPerTwip)));
}

QColor RetainedChart::colourAt(double xTwips, double yTwips) const
{
    endPainting();
    const QPoint p = pixelOf(xTwips, yTwips);
    if (!m_image.rect().contains(p))
        return {};
    return m_image.pixelColor(p);
}

QRect RetainedChart::takeDirty()
{
    const QRect dirty = m_dirty & m_image.rect();
    m_dirty = QRect();
    return dirty;
}
