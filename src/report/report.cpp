#include "report.h"

#include "print_surface.h"
#include "state/context.h"

#include <cmath>
#include <memory>

namespace {

// Items of one print statement, one after the other: numbers in print form.
QString items(std::initializer_list<LooseValue> values)
{
    QString out;
    for (const LooseValue &v : values)
        out += v.printForm();
    return out;
}

double numeric(const LooseValue &v) { return v.leadingNumber(); }

} // namespace

void drawReport(PrintSurface &page, const SharedState &s)
{
    page.setFontSize(18);
    page.text(4000, 1200, QStringLiteral("ORVALEN REFLOW PROFILE "));

    page.setFontSize(12);
    const QString degrees = QStringLiteral("℃");
    const QString secs = QStringLiteral("S");
    const auto &st = s.recordStamp;
    page.text(1000, 2000, items({"Parameter1(TEMP):", numeric(s.stageTemp[1]), degrees}));
    page.text(8000, 2000, items({"Date:", numeric(st[0]), "-", numeric(st[1]), "-", numeric(st[2])}));
    page.text(1000, 2500, items({"Parameter1(Time):", numeric(s.stageTime[1]), secs}));
    page.text(8000, 2500, items({"Time:", numeric(st[3]), ":", numeric(st[4]), ":", numeric(st[5])}));
    page.text(1000, 3000, items({"Parameter2(TEMP):", numeric(s.stageTemp[2]), degrees}));
    page.text(1000, 3500, items({"Parameter2(Time):", numeric(s.stageTime[2]), secs}));
    page.text(1000, 4000, items({"Parameter3(TEMP):", numeric(s.stageTemp[3]), degrees}));
    page.text(1000, 4500, items({"Parameter3(Time):", numeric(s.stageTime[3]), secs}));

    page.setFontSize(8);
    page.text(500, 7600, QStringLiteral("TEMP(℃)"));

    page.setLineWidth(1);
    for (int i = 0; i <= 16; ++i) {
        const float y = float(8000 + 312 * i);
        page.line(950, y, 10600, y);
    }
    const double twipsPerSecond = 10500.0 / 500.0;
    for (int t = 0; t <= 460; ++t) {
        if (t % 10 == 0) {
            const float x = float(950 + twipsPerSecond * t);
            page.line(x, 8000, x, 13000);
        }
    }
    for (int i = 0; i <= 16; ++i) {
        const double r = std::nearbyint(i / 2.0); // halves to even
        page.text(510, float(7900 + 312 * i + r), LooseValue(400 - 25 * i).printForm());
    }
    const int labels = 500 / 50;
    for (int i = 0; i <= labels; ++i) {
        if (i < labels)
            page.text(float(860 + 1050 * i), 13200, LooseValue(50 * i).printForm());
    }
    page.text(10800, 13200, QStringLiteral("(S)"));

    page.setLineWidth(5);
    for (int k = 1; k <= 460; ++k) {
        const double current = numeric(s.samples[std::size_t(k)]);
        if (k <= 1 || current == 0)
            continue;
        const double a = 2 * numeric(s.samples[std::size_t(k - 1)]);
        const double b = 2 * current;
        for (int j = 1; j <= 21; j += 2)
            page.point(float(920 + 21 * k + j), float(13000 - 6.25 * (a + (b - a) * j / 21.0)));
    }
}

void printpaper_Click(Context &c)
{
    // The page shows the state of this moment, whatever the run or an open
    // does meanwhile.
    auto shown = std::make_shared<const SharedState>(c.state);
    c.services.printer.print([shown](PrintSurface &page) { drawReport(page, *shown); },
                             [&c](const PrintNews &news) { tellPrintNews(c, news); });
}

void tellPrintNews(Context &c, const PrintNews &news)
{
    QString text;
    MessageService::Kind kind = MessageService::Kind::Error;
    switch (news.kind) {
    case PrintNews::Kind::NotPrinted:
        text = QStringLiteral("The report was not printed: %1").arg(news.reason);
        break;
    case PrintNews::Kind::Unsure:
        text = QStringLiteral("The report may not be printed: %1").arg(news.reason);
        kind = MessageService::Kind::Warning;
        break;
    case PrintNews::Kind::Resolved:
        text = news.reason;
        kind = MessageService::Kind::Information;
        break;
    }
    if (c.busy())
        c.services.messages.notify(MessageService::Topic::Print, text, kind);
    else
        c.services.messages.show(text, kind);
}
