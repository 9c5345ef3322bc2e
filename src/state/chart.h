#pragma once

#include "loose_value.h"

#include <QColor>
#include <QImage>
#include <QPainter>
#include <QRectF>

#include <array>
#include <optional>

struct SharedState;

// The drawing surface of the chart: coordinates in twips from its top-left
// corner, y downwards.
class ChartSurface
{
public:
    virtual ~ChartSurface() = default;
    virtual void clear() = 0;
    virtual void drawLine(float x1, float y1, float x2, float y2, QColor colour) = 0;
};

namespace chart {

inline constexpr double kTwipsPerSecond = 14.7;
inline constexpr double kTwipsPerDegree = 14.6;
inline constexpr double kZeroDegreeY = 4410;
inline const QColor kGridColour{192, 192, 255};
inline const QColor kCurveColour{255, 0, 0};

[[nodiscard]] inline double xOf(double seconds) { return kTwipsPerSecond * seconds; }
[[nodiscard]] inline double yOf(double degrees) { return kZeroDegreeY - kTwipsPerDegree * degrees; }

// Draws the grid; the vertical lines are counted with the shared loop counter,
// which is left at 9555.
void drawGrid(ChartSurface &surface, LooseValue &loopIndex);

// The segment from second t-1 at T1 to second t at T2, in the curve colour.
void drawSegment(ChartSurface &surface, double t, double fromDegrees, double toDegrees, double yShift = 0);

// Draws samples 0..n-1 of the state as a curve. Returns the first index whose
// sample is a text that spells no number (its segment is skipped), if any.
std::optional<int> drawRecordedCurve(ChartSurface &surface, const SharedState &state, double n);

// Cuts the segment to the rectangle (Liang-Barsky). False when nothing of it is
// inside or a coordinate is not finite.
[[nodiscard]] bool clipLine(const QRectF &box, double &x1, double &y1, double &x2, double &y2);

} // namespace chart

// A chart that keeps what is drawn on it: an image in device pixels that
// survives being covered, and that tests can inspect pixel by pixel.
class RetainedChart : public ChartSurface
{
public:
    // widthTwips x heightTwips at dpi logical dots per inch and the given
    // device pixel ratio (2 on a high-density screen).
    RetainedChart(int widthTwips, int heightTwips, double dpi = 96, qreal devicePixelRatio = 1);

    void clear() override;
    void drawLine(float x1, float y1, float x2, float y2, QColor colour) override;

    // The image with every line drawn so far.
    [[nodiscard]] const QImage &image() const
    {
        endPainting();
        return m_image;
    }
    [[nodiscard]] qreal devicePixelRatio() const { return m_devicePixelRatio; }
    // The device pixel that twips (x, y) falls on.
    [[nodiscard]] QPoint pixelOf(double xTwips, double yTwips) const;
    [[nodiscard]] QColor colourAt(double xTwips, double yTwips) const;
    // Device pixels of the image touched since the last call, in device pixels.
    [[nodiscard]] QRect takeDirty();

private:
    void endPainting() const;

    double m_pixelsPerTwip;
    qreal m_devicePixelRatio;
    QImage m_image; // device pixels; the widget scales it by the ratio
    QRect m_dirty;
    // The curve comes one segment per reading; setting a painter up costs
    // more than the segment, so one stays open until the image is looked at.
    mutable std::optional<QPainter> m_painter;
    QColor m_penColour;
};
