#pragma once
// Paint caches of the window: pictures kept of what the style draws the same
// way again and again, copied instead of drawn.
#include <QGroupBox>
#include <QPixmap>
#include <QProxyStyle>

#include <utility>
#include <vector>

// The fields' style: the application's own, except that a field's panel and
// frame are drawn once for each size, state and palette and then copied. The
// temperature field repaints at every presentation of a run, and the style
// strokes the frame's rounded outline afresh each time, which costs more than
// the field's text.
class KeptPanelStyle : public QProxyStyle
{
public:
    // A style of its own: a proxy takes over the style it wraps.
    KeptPanelStyle();

    void drawPrimitive(PrimitiveElement element,
                       const QStyleOption *option,
                       QPainter *painter,
                       const QWidget *widget) const override;

private:
    // A picture copied between device pixels (fractional scaling) or scaled
    // would not be the panel the style draws there.
    static bool onWholePixels(const QTransform &t, qreal ratio, const QRect &rect);

    struct Key
    {
        QSize size;
        uint state;
        qint64 palette;
        int lineWidth;
        uint features;
        Qt::LayoutDirection direction;
        qreal ratio;
        bool operator==(const Key &) const = default;
    };
    mutable std::vector<std::pair<Key, QPixmap>> m_panels;
};

// A group box that paints itself once and then copies that picture: the
// readouts lie over group boxes and are not opaque, so every repaint of a
// readout repaints the box under it, and the style draws a group box frame
// from an image it looks up by name each time.
class StillGroupBox : public QGroupBox
{
public:
    using QGroupBox::QGroupBox;

protected:
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void takePicture();

    QPixmap m_picture;
    bool m_drawing = false;
    bool m_pending = false;
};
