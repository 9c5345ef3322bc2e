#pragma once

// The picture of a trend: one panel a statistic, stacked over one run axis.

#include "control_chart.h"

#include <QImage>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace trendchart {

struct Panel
{
    QString name;
    std::vector<std::optional<double>> values; // one a run, in run order
    std::vector<bool> signalled; // one a run
    controlchart::Figures figures;
    std::optional<recordstats::Range> limits; // the window's
    std::optional<double> upperOnly; // a window limit with no lower end (pwi's 100)
};

// dates: one a run, in run order. scale: device pixels to a pixel of the
// drawing's own size.
[[nodiscard]] QImage
draw(const QString &title, const QStringList &dates, const std::vector<Panel> &panels, double scale);

} // namespace trendchart
