#include "trend_chart.h"

#include "state/loose_value.h"

#include <QPainter>

#include <algorithm>
#include <cmath>
#include <limits>

namespace trendchart {

namespace {

// The drawing's own size, in pixels before the scale.
constexpr int kWidth = 960;
constexpr int kTitle = 44;
constexpr int kPanel = 150;
constexpr int kGap = 10;
constexpr int kAxis = 40;
constexpr int kLeft = 64;
constexpr int kRight = 96;
constexpr int kDotsUpTo = 250; // more runs than this: only signalled points get a dot

const QColor kValues(35, 85, 170);
const QColor kSignal(215, 25, 25);
const QColor kControl(70, 70, 70);
const QColor kWindow(0, 140, 70);
const QColor kFaint(225, 225, 225);

QString figure(double v) { return plainNumber(std::round(v * 100) / 100); }

struct Line
{
    double value;
    QString label;
    QColor colour;
    Qt::PenStyle style;
};

void drawPanel(QPainter &p, const QRectF &r, const Panel &panel, std::size_t runs, const QFont &font)
{
    const controlchart::Figures &f = panel.figures;
    std::vector<Line> lines;
    if (f.ucl)
        lines.push_back({*f.ucl, QStringLiteral("UCL ") + figure(*f.ucl), kControl, Qt::DashLine});
    if (f.center)
        lines.push_back({*f.center, QStringLiteral("CL ") + figure(*f.center), kControl, Qt::SolidLine});
    if (f.lcl)
        lines.push_back({*f.lcl, QStringLiteral("LCL ") + figure(*f.lcl), kControl, Qt::DashLine});
    if (panel.limits) {
        lines.push_back({panel.limits->high, QStringLiteral("USL ") + figure(panel.limits->high), kWindow,
                         Qt::SolidLine});
        lines.push_back({panel.limits->low, QStringLiteral("LSL ") + figure(panel.limits->low), kWindow,
                         Qt::SolidLine});
    }
    if (panel.upperOnly)
        lines.push_back({*panel.upperOnly, QStringLiteral("limit ") + figure(*panel.upperOnly), kWindow,
                         Qt::SolidLine});

    double lo = std::numeric_limits<double>::infinity(), hi = -lo;
    for (const std::optional<double> &v : panel.values)
        if (v) {
            lo = std::min(lo, *v);
            hi = std::max(hi, *v);
        }
    for (const Line &l : lines) {
        lo = std::min(lo, l.value);
        hi = std::max(hi, l.value);
    }
    if (!std::isfinite(lo) || !std::isfinite(hi)) {
        lo = 0;
        hi = 1;
    }
    if (hi - lo < 1e-9) {
        lo -= 1;
        hi += 1;
    }
    const double pad = (hi - lo) * 0.08;
    lo -= pad;
    hi += pad;
    auto yOf = [&](double v) { return r.bottom() - (v - lo) / (hi - lo) * r.height(); };
    auto xOf = [&](std::size_t i) {
        return r.left() + (double(i) + 0.5) * r.width() / double(std::max<std::size_t>(runs, 1));
    };

    p.setPen(QPen(Qt::black, 1));
    p.setBrush(Qt::NoBrush);
    p.drawRect(r);
    p.setFont(font);
    // The value scale at the panel's ends.
    p.drawText(QRectF(0, r.top() - 2, kLeft - 6, 16), Qt::AlignRight | Qt::AlignTop, figure(hi));
    p.drawText(QRectF(0, r.bottom() - 14, kLeft - 6, 16), Qt::AlignRight | Qt::AlignBottom, figure(lo));

    p.save();
    p.setClipRect(r);
    for (const Line &l : lines) {
        p.setPen(QPen(l.colour, 1.2, l.style));
        p.drawLine(QPointF(r.left(), yOf(l.value)), QPointF(r.right(), yOf(l.value)));
    }
    QPolygonF line;
    for (std::size_t i = 0; i < panel.values.size(); ++i)
        if (panel.values[i])
            line << QPointF(xOf(i), yOf(*panel.values[i]));
    const qsizetype present = line.size();
    // Thousands of runs: a plain one-pixel line, which Qt draws without
    // stroking an outline of every segment.
    const bool many = present > kDotsUpTo;
    p.setRenderHint(QPainter::Antialiasing, !many);
    p.setPen(QPen(kValues, many ? 0 : 1.2));
    p.drawPolyline(line);
    for (std::size_t i = 0; i < panel.values.size(); ++i) {
        const bool signalled = i < panel.signalled.size() && panel.signalled[i];
        if (!panel.values[i] || (!signalled && many))
            continue;
        p.setPen(Qt::NoPen);
        p.setBrush(signalled ? kSignal : kValues);
        const double radius = signalled ? 3.5 : 2.2;
        p.drawEllipse(QPointF(xOf(i), yOf(*panel.values[i])), radius, radius);
    }
    p.restore();

    // The lines' names at the right, pushed apart where they would overlap
    // and kept beside their panel.
    std::sort(lines.begin(), lines.end(), [](const Line &a, const Line &b) { return a.value > b.value; });
    constexpr double kStep = 14;
    std::vector<double> ys;
    for (const Line &l : lines)
        ys.push_back(ys.empty() ? yOf(l.value) : std::max(yOf(l.value), ys.back() + kStep));
    for (std::size_t i = ys.size(); i-- > 0;)
        ys[i] = std::max(r.top(), std::min(ys[i], i + 1 < ys.size() ? ys[i + 1] - kStep : r.bottom()));
    for (std::size_t i = 0; i < lines.size(); ++i) {
        p.setPen(lines[i].colour);
        p.drawText(QRectF(r.right() + 6, ys[i] - 8, kRight - 6, 16), Qt::AlignLeft | Qt::AlignVCenter,
                   lines[i].label);
    }
    // The statistic's name and its capability in the panel's corner.
    QString head = panel.name;
    if (f.cpk || f.ppk)
        head += QStringLiteral("   cpk %1   ppk %2")
                        .arg(f.cpk ? figure(*f.cpk) : QStringLiteral("-"),
                             f.ppk ? figure(*f.ppk) : QStringLiteral("-"));
    QFont bold = font;
    bold.setBold(true);
    p.setFont(bold);
    const QRectF label(r.left() + 6, r.top() + 4, QFontMetricsF(bold).horizontalAdvance(head) + 8, 17);
    p.fillRect(label.adjusted(-3, 0, 0, 0), QColor(255, 255, 255, 220));
    p.setPen(Qt::black);
    p.drawText(label, Qt::AlignLeft | Qt::AlignVCenter, head);
}

} // namespace

QImage draw(const QString &title, const QStringList &dates, const std::vector<Panel> &panels, double scale)
{
    const int height = kTitle + int(panels.size()) * (kPanel + kGap) + kAxis;
    QImage image(QSize(qRound(kWidth * scale), qRound(height * scale)), QImage::Format_RGB32);
    if (image.isNull())
        return image;
    image.setDevicePixelRatio(scale);
    image.fill(Qt::white);
    QPainter p(&image);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(12);
    QFont big = font;
    big.setPixelSize(17);
    big.setBold(true);
    p.setFont(big);
    p.drawText(QRectF(kLeft, 8, kWidth - kLeft - kRight, 24), Qt::AlignLeft | Qt::AlignVCenter, title);
    // The key, at the title's right.
    p.setFont(font);
    const struct
    {
        const char *text;
        QColor colour;
        Qt::PenStyle style;
    } key[] = {{"values", kValues, Qt::SolidLine},
               {"control limits", kControl, Qt::DashLine},
               {"window", kWindow, Qt::SolidLine},
               {"signal", kSignal, Qt::NoPen}};
    double x = kWidth - kRight - 330;
    for (const auto &k : key) {
        if (k.style == Qt::NoPen) {
            p.setPen(Qt::NoPen);
            p.setBrush(k.colour);
            p.drawEllipse(QPointF(x + 9, 20), 3.5, 3.5);
        } else {
            p.setPen(QPen(k.colour, 1.5, k.style));
            p.drawLine(QPointF(x, 20), QPointF(x + 18, 20));
        }
        p.setPen(Qt::black);
        const QString text = QString::fromLatin1(k.text);
        p.drawText(QPointF(x + 22, 24), text);
        x += 22 + QFontMetricsF(font).horizontalAdvance(text) + 16;
    }

    const std::size_t runs = std::size_t(dates.size());
    const double left = kLeft, width = kWidth - kLeft - kRight;
    const double top = kTitle, bottom = kTitle + double(panels.size()) * (kPanel + kGap) - kGap;
    // Dates under the run axis at a few runs, with faint lines through every panel.
    const std::size_t ticks = std::min<std::size_t>(runs, 6);
    std::vector<std::size_t> at;
    for (std::size_t t = 0; t < ticks; ++t)
        at.push_back(ticks == 1 ? 0 : t * (runs - 1) / (ticks - 1));
    for (std::size_t i : at) {
        const double xi = left + (double(i) + 0.5) * width / double(runs);
        p.setPen(QPen(kFaint, 1));
        p.drawLine(QPointF(xi, top), QPointF(xi, bottom));
        p.setPen(Qt::black);
        p.drawText(QRectF(xi - 60, bottom + 4, 120, 16), Qt::AlignHCenter | Qt::AlignTop,
                   dates[qsizetype(i)]);
        p.drawText(QRectF(xi - 60, bottom + 18, 120, 16), Qt::AlignHCenter | Qt::AlignTop,
                   QStringLiteral("run %1").arg(i + 1));
    }
    for (std::size_t k = 0; k < panels.size(); ++k)
        drawPanel(p, QRectF(left, top + double(k) * (kPanel + kGap), width, kPanel), panels[k], runs, font);
    return image;
}

} // namespace trendchart
