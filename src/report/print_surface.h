#pragma once

#include <QString>

class QPainter;

// The printer operations the report needs; coordinates in twips from the
// top-left corner of the printable area.
class PrintSurface
{
public:
    virtual ~PrintSurface() = default;
    virtual void setFontSize(double points) = 0;
    // Text with its top-left corner at (x, y).
    virtual void text(float x, float y, const QString &text) = 0;
    virtual void setLineWidth(int devicePixels) = 0;
    virtual void line(float x1, float y1, float x2, float y2) = 0;
    // A dot as wide as the current line width.
    virtual void point(float x, float y) = 0;
};

// A print surface over any painter: a printer, a PDF writer or an image.
class PainterPrintSurface : public PrintSurface
{
public:
    // dpi: device pixels per inch of the painter's device.
    PainterPrintSurface(QPainter &painter, double dpi);

    void setFontSize(double points) override;
    void text(float x, float y, const QString &text) override;
    void setLineWidth(int devicePixels) override;
    void line(float x1, float y1, float x2, float y2) override;
    void point(float x, float y) override;

private:
    [[nodiscard]] double px(float twips) const { return twips * m_pixelsPerTwip; }

    QPainter &m_painter;
    double m_pixelsPerTwip;
    int m_lineWidth = 1;
};
