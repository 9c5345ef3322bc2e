#pragma once

#include "state/chart.h"

#include <QWidget>

// The chart area: keeps its image itself, so it survives being covered, and
// repaints only what was drawn since.
class ChartView : public QWidget, public ChartSurface
{
public:
    ChartView(QWidget *parent, int widthTwips, int heightTwips, double dpi, qreal devicePixelRatio);

    void clear() override;
    void drawLine(float x1, float y1, float x2, float y2, QColor colour) override;
    [[nodiscard]] const RetainedChart &image() const { return m_chart; }
    // Asks Qt to repaint, as one rectangle, what was drawn since the first
    // line that asked for a presentation; the window calls it as it presents.
    void takeDrawn();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void refresh();

    RetainedChart m_chart;
    bool m_presentationAsked = false;
};
