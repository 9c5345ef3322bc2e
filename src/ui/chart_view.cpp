#include "chart_view.h"

#include <QPaintEvent>
#include <QPainter>

ChartView::ChartView(QWidget *parent, int widthTwips, int heightTwips, double dpi, qreal devicePixelRatio)
    : QWidget(parent), m_chart(widthTwips, heightTwips, dpi, devicePixelRatio)
{
    setAttribute(Qt::WA_StaticContents);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void ChartView::clear()
{
    m_chart.clear();
    refresh();
}

void ChartView::drawLine(float x1, float y1, float x2, float y2, QColor colour)
{
    m_chart.drawLine(x1, y1, x2, y2, colour);
    // Only the first line since the last presentation asks for one; the rest
    // join it as one rectangle when it comes. A region update per line cost
    // more than the line (the grid is dozens of them, redrawn per reading at
    // the start of a run).
    if (!m_presentationAsked) {
        m_presentationAsked = true;
        refresh();
    }
}

void ChartView::takeDrawn()
{
    m_presentationAsked = false;
    refresh();
}

void ChartView::refresh()
{
    const QRect dirty = m_chart.takeDirty();
    if (dirty.isEmpty())
        return;
    const qreal r = m_chart.devicePixelRatio();
    update(QRectF(dirty.x() / r, dirty.y() / r, dirty.width() / r, dirty.height() / r)
                   .toAlignedRect()
                   .adjusted(-1, -1, 1, 1));
}

void ChartView::paintEvent(QPaintEvent *event)
{
    if (m_presentationAsked)
        takeDrawn(); // painted before a presentation (shown, uncovered): the rest still comes
    QPainter painter(this);
    const QRect r = event->rect();
    const qreal ratio = m_chart.devicePixelRatio();
    const QRectF source(r.x() * ratio, r.y() * ratio, r.width() * ratio, r.height() * ratio);
    painter.fillRect(r, Qt::white);
    painter.drawImage(QRectF(r), m_chart.image(), source);
}
