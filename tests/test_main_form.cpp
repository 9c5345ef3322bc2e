#include "pty_peer.h"

#include "link/port.h"
#include "ui/caption_fit.h"
#include "ui/layout.h"
#include "ui/program.h"

#include <QAction>
#include <QDeadlineTimer>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPaintEvent>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QScopeGuard>
#include <QSet>
#include <QStyleHints>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <span>
#include <vector>

namespace {

// More than two colours: a frame with something in it, not an empty picture.
bool drawnOn(const QImage &image)
{
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            colours.insert(image.pixel(x, y));
    return colours.size() > 2;
}

// The curve's colour within a pixel of p, in the image's own pixels.
bool curveNear(const QImage &image, QPoint p)
{
    for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx)
            if (image.valid(p + QPoint(dx, dy))
                && image.pixelColor(p + QPoint(dx, dy)) == chart::kCurveColour)
                return true;
    return false;
}

// Every box of the layout table.
std::vector<const layout::Box *> layoutBoxes()
{
    const std::span<const layout::Box> parts[] = {
            layout::kAxisLabels, {&layout::kPicture, 1}, layout::kGroups,          layout::kGroupLabels,
            layout::kFields,     layout::kReadouts,      {&layout::kPortPanel, 1}, layout::kPortOptions};
    std::vector<const layout::Box *> all;
    for (std::span<const layout::Box> part : parts)
        for (const layout::Box &b : part)
            all.push_back(&b);
    for (const layout::Button &b : layout::kPortButtons)
        all.push_back(&b.box);
    return all;
}

// Paints of one widget, in order: the region, and the text a field showed.
struct PaintLog : QObject
{
    explicit PaintLog(QWidget *w) : field(qobject_cast<QLineEdit *>(w)) { w->installEventFilter(this); }
    bool eventFilter(QObject *, QEvent *e) override
    {
        if (e->type() == QEvent::Paint) {
            painted.append(static_cast<QPaintEvent *>(e)->region());
            shown.append(field ? field->text() : QString());
        }
        return false;
    }
    QLineEdit *field;
    QList<QRegion> painted;
    QStringList shown;
};

} // namespace

class TestMainForm : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup() { m_program.reset(); }
    void widgetsWhereTheLayoutPutsThem();
    void captionsFitTheirBoxes_data();
    void captionsFitTheirBoxes();
    void startUpFocusAndPortPanel();
    void menusAndButtonsRunTheirOwnCommands();
    void fieldEditsReachTheState();
    void lineRateReachesScreenOncePerPresentation();
    void keptPicturesLookAsTheStyleDrawsThem_data();
    void keptPicturesLookAsTheStyleDrawsThem();
    void exitEndsProgramFromInsideWaits_data();
    void exitEndsProgramFromInsideWaits();

private:
    std::unique_ptr<Program> m_program;
};

void TestMainForm::init()
{
    Program::Options options;
    options.port1 = QStringLiteral("/dev/orvalen-test-absent-1");
    options.port2 = QStringLiteral("/dev/orvalen-test-absent-2");
    m_program = std::make_unique<Program>(options);
    m_program->show();
}

// Each box of the table is a widget of its name and parent, where the table
// puts it to within the half pixel it is rounded to; the window has no named
// widget beyond them. Every widget lies inside its parent, and no two of one
// parent overlap, but for the edit fields: each lies over the right half of a
// group box, drawn above it, level with one of its labels. Boxes laid edge to
// edge may share the pixel their edges are rounded to.
void TestMainForm::widgetsWhereTheLayoutPutsThem()
{
    MainForm &f = m_program->form();
    QWidget *client = f.centralWidget();
    const double pixel = 1440.0 / QGuiApplication::primaryScreen()->logicalDotsPerInch();
    const auto near = [pixel](int pixels, int twips) {
        return std::abs(pixels * pixel - twips) <= pixel / 2;
    };
    // The two sizes the layout is drawn around: the client area and the chart.
    QVERIFY(near(client->width(), 10335) && near(client->height(), 5550));
    QVERIFY(near(f.chartView().width(), 7440) && near(f.chartView().height(), 4476));
    QList<QWidget *> placed;
    for (const layout::Box *b : layoutBoxes()) {
        const QString name = QString::fromLatin1(b->name);
        QWidget *w = client->findChild<QWidget *>(name);
        QVERIFY2(w, qPrintable(name));
        placed << w;
        QCOMPARE(w->parentWidget()->objectName(),
                 *b->parent ? QString::fromLatin1(b->parent) : QStringLiteral("client"));
        const QRect g = w->geometry();
        QVERIFY2(near(g.x(), b->left) && near(g.y(), b->top) && near(g.width(), b->width)
                         && near(g.height(), b->height),
                 qPrintable(name));
    }
    QVERIFY(client->findChild<QWidget *>(QString::fromLatin1(layout::kPicture.name)) == &f.chartView());
    QList<QWidget *> named = client->findChildren<QWidget *>();
    named.removeIf(
            [](QWidget *w) { return w->objectName().isEmpty() || w->objectName().startsWith(u"qt_"); });
    QCOMPARE(QSet<QWidget *>(named.begin(), named.end()), QSet<QWidget *>(placed.begin(), placed.end()));

    const auto stacking = [](QWidget *w) { return w->parentWidget()->children().indexOf(w); };
    for (qsizetype i = 0; i < placed.size(); ++i) {
        QWidget *w = placed[i];
        QVERIFY2(w->parentWidget()->rect().contains(w->geometry()), qPrintable(w->objectName()));
        QVERIFY(client->rect().contains(QRect(w->mapTo(client, QPoint()), w->size())));
        for (QWidget *other : placed.mid(i + 1)) {
            const QRect both = w->geometry() & other->geometry();
            if (other->parentWidget() != w->parentWidget() || both.width() <= 1 || both.height() <= 1)
                continue;
            const QString pair = w->objectName() + u'/' + other->objectName();
            auto *field = qobject_cast<QLineEdit *>(qobject_cast<QLineEdit *>(w) ? w : other);
            auto *group = qobject_cast<QGroupBox *>(qobject_cast<QGroupBox *>(w) ? w : other);
            QVERIFY2(field && group && group->geometry().contains(field->geometry()), qPrintable(pair));
            QVERIFY2(field->x() > group->geometry().center().x() && stacking(field) > stacking(group),
                     qPrintable(pair));
            const int level = field->geometry().center().y() - group->y();
            bool beside = false;
            for (QLabel *label : group->findChildren<QLabel *>())
                beside |= label->y() <= level && level <= label->geometry().bottom()
                          && label->geometry().right() < field->x() - group->x();
            QVERIFY2(beside, qPrintable(pair));
        }
    }
}

void TestMainForm::captionsFitTheirBoxes_data()
{
    QTest::addColumn<QString>("family"); // the window's default font; empty: the platform's
    QTest::addColumn<double>("points");
    QTest::newRow("platform font") << QString() << 0.0;
    QTest::newRow("larger system font") << QStringLiteral("DejaVu Sans") << 11.0;
    QTest::newRow("wide serif font") << QStringLiteral("DejaVu Serif") << 10.0;
}

// In each font, every caption fits its box, shrunk no further than it must
// be from the size the window asks for.
void TestMainForm::captionsFitTheirBoxes()
{
    QFETCH(QString, family);
    QFETCH(double, points);
    const QFont platform = QApplication::font();
    if (!family.isEmpty())
        QApplication::setFont(QFont(family, int(points)));
    const auto restore = qScopeGuard([&] { QApplication::setFont(platform); });
    m_program.reset();
    init();
    MainForm &f = m_program->form();
    f.setCaption(Form::Caption::Label5, QStringLiteral("2024-12-28"));
    f.setCaption(Form::Caption::Label6, QStringLiteral("23:58:58"));
    int checked = 0;
    for (QWidget *w : f.centralWidget()->findChildren<QWidget *>()) {
        const QString caption = captions::captionOf(w), name = w->objectName();
        if (caption.isEmpty())
            continue;
        ++checked;
        const QFont font = w->font();
        const int ink = captions::inkWidth(font, caption), room = captions::captionRoom(w, font);
        const QString what =
                name + QStringLiteral(": %1 px in %2 px at %3 pt").arg(ink).arg(room).arg(font.pointSizeF());
        QVERIFY2(room > 0 && room <= w->width() && ink <= room, qPrintable(what));
        QVERIFY2(QFontMetrics(font).tightBoundingRect(caption).height() <= w->contentsRect().height(),
                 qPrintable(what));
        const double asked = name == u"Label15"                       ? chartTitleFont().pointSizeF()
                             : name == u"Label5" || name == u"Label6" ? systemBoldFont().pointSizeF()
                                                                      : QApplication::font().pointSizeF();
        QFont larger = font;
        larger.setPointSizeF(font.pointSizeF() + 0.5);
        QVERIFY2(font.pointSizeF() == asked
                         || (font.pointSizeF() < asked
                             && captions::inkWidth(larger, caption) > captions::captionRoom(w, larger)),
                 qPrintable(what));
    }
    const auto boxes = layoutBoxes();
    QCOMPARE(checked,
             2 + int(std::count_if(boxes.begin(), boxes.end(), [](auto b) { return *b->caption != 0; })));

    // However narrow the box, a caption shrinks no further than the smallest size.
    QLabel narrow;
    narrow.setGeometry(0, 0, 4, 30);
    const QFont asked(QStringLiteral("DejaVu Sans"), 12);
    QCOMPARE(captions::fittingFont(&narrow, asked, QStringLiteral("Temperature")).pointSizeF(),
             captions::kSmallestPoints);
}

// The window starts idle, in Text1, and Tab runs through the fields in
// order. The port panel's choice outlives CANCEL and is the port then opened.
void TestMainForm::startUpFocusAndPortPanel()
{
    MainForm &f = m_program->form();
    QVERIFY(QTest::qWaitForWindowActive(&f));
    Context &c = m_program->context();
    QVERIFY(!c.services.Timer1.isEnabled() && !c.services.Timer3.isEnabled() && !c.services.line.isOpen());
    QWidget *w = QApplication::focusWidget();
    for (int n = 1; n <= 8; ++n) {
        QCOMPARE(w->objectName(), QStringLiteral("Text%1").arg(n));
        do
            w = w->nextInFocusChain();
        while (!(w->focusPolicy() & Qt::TabFocus) || !qobject_cast<QLineEdit *>(w));
    }

    auto *panel = f.findChild<QGroupBox *>("Frame1");
    auto *com1 = f.findChild<QRadioButton *>("COM1");
    QVERIFY(!panel->isVisible() && com1->isChecked() && !f.com2Selected());
    f.findChild<QAction *>("selectport")->trigger();
    QVERIFY(panel->isVisible());
    QTest::mouseClick(f.findChild<QRadioButton *>("COM2"), Qt::LeftButton);
    QVERIFY(!com1->isChecked()); // one clears the other
    QTest::mouseClick(f.findChild<QPushButton *>("cancel"), Qt::LeftButton);
    QVERIFY(!panel->isVisible() && f.com2Selected());
    QVERIFY(!tryPortOpen(c));
    QCOMPARE(c.services.line.portName(), QStringLiteral("/dev/orvalen-test-absent-2"));
}

// The program sets a command behind each menu item and button but the
// separator; each runs its own command, once, and every command is reached.
void TestMainForm::menusAndButtonsRunTheirOwnCommands()
{
    MainForm &f = m_program->form();
    QList<QObject *> items; // the menu items and the port panel's buttons
    for (QAction *menu : f.menuBar()->actions())
        for (QAction *a : menu->menu()->actions())
            items << a;
    for (QPushButton *b : f.findChildren<QPushButton *>())
        items << b;
    for (QObject *item : items) {
        const auto *action = qobject_cast<QAction *>(item);
        QVERIFY2(f.routes(item->objectName()) == !(action && action->isSeparator()),
                 qPrintable(item->objectName()));
    }

    QStringList ran;
    QSet<QString> reached;
    auto record = [&ran](const char *name) { return [&ran, name] { ran << QString::fromLatin1(name); }; };
#define RECORD(command) .command = record(#command)
    const MainForm::Commands all{RECORD(openfile),   RECORD(savefile), RECORD(printpaper), RECORD(exit),
                                 RECORD(selectport), RECORD(to8031),   RECORD(getcanshu),  RECORD(stopcomm),
                                 RECORD(from8031),   RECORD(stop),     RECORD(yes),        RECORD(cancel)};
#undef RECORD
    f.setCommands(all);
    f.setPortPanelVisible(true);
    for (QObject *item : items) {
        ran.clear();
        auto *action = qobject_cast<QAction *>(item);
        if (action)
            action->trigger();
        else
            QTest::mouseClick(qobject_cast<QPushButton *>(item), Qt::LeftButton);
        QCOMPARE(ran, action && action->isSeparator() ? QStringList() : QStringList{item->objectName()});
        reached += QSet<QString>(ran.begin(), ran.end());
    }
    QCOMPARE(reached.size(), qsizetype(12)); // every command above

    MainForm::Commands some; // a command left unset is seen
    some.openfile = all.openfile;
    f.setCommands(some);
    QVERIFY(f.routes(QStringLiteral("openfile")) && !f.routes(QStringLiteral("savefile")));
}

// The operator's edits reach the state at once, and win over a text the
// program set that is not yet on the screen.
void TestMainForm::fieldEditsReachTheState()
{
    MainForm &f = m_program->form();
    QVERIFY(QTest::qWaitForWindowExposed(&f));
    auto *field = f.findChild<QLineEdit *>("Text3");
    LooseValue &stored = m_program->context().state.stageTemp[2];
    field->setFocus();
    QTest::keyClicks(field, QStringLiteral("23"));
    QCOMPARE(stored, LooseValue("23"));
    stored = 7;
    f.setText(Form::Field::Text3, QStringLiteral("23")); // a program write of the same text is stored as text
    QCOMPARE(stored, LooseValue("23"));

    QTest::qWait(3 * MainForm::kPresentIntervalMs);
    f.setText(Form::Field::Text3, QStringLiteral("231")); // presented at once: none was lately
    f.setText(Form::Field::Text3, QStringLiteral("232")); // held for the next presentation
    QVERIFY(f.text(Form::Field::Text3) == u"232" && stored == LooseValue("232"));
    field->setText(QStringLiteral("240")); // the operator's edit comes before it is shown
    QTest::qWait(3 * MainForm::kPresentIntervalMs);
    QVERIFY(field->text() == u"240" && f.text(Form::Field::Text3) == u"240" && stored == LooseValue("240"));
}

// Line rate, as the monitor has it: 80 readings a second for half a second,
// each shown in Text7 and drawn twice on the chart. The readout and the chart
// reach the screen at most once a presentation; the last reading is shown,
// and every segment is painted after it was drawn, those drawn before the
// window was first exposed too. The chart keeps its image for when it is
// covered; segments are drawn with one painter kept open between them, and
// every look at the image, and every copy of it, holds each segment drawn
// before it and none after.
void TestMainForm::lineRateReachesScreenOncePerPresentation()
{
    MainForm &f = m_program->form();
    QVERIFY(f.chartView().testAttribute(Qt::WA_StaticContents));
    const RetainedChart &image = f.chartView().image();
    PaintLog readout(f.findChild<QLineEdit *>(QStringLiteral("Text7")));
    PaintLog chartLog(&f.chartView());
    std::vector<std::pair<QPoint, qsizetype>> segments; // where in the image, and the paints before it
    double x = 100;
    const auto drawSegment = [&] {
        f.chart().drawLine(float(x), 2000, float(x + 12), 2100, chart::kCurveColour);
        segments.emplace_back(image.pixelOf(x + 6, 2050), chartLog.painted.size());
        x += 12;
    };
    for (int i = 0; i < 10; ++i)
        drawSegment();
    const QImage before = image.image();
    QVERIFY(curveNear(before, segments.back().first));
    QVERIFY(QTest::qWaitForWindowExposed(&f));
    QTest::qWait(100);
    const qsizetype readoutPaints = readout.shown.size(), chartPaints = chartLog.painted.size();
    int reading = 20;
    for (QDeadlineTimer end(500); !end.hasExpired(); QTest::qWait(12)) {
        f.setText(Form::Field::Text7, QString::number(++reading));
        drawSegment();
        drawSegment();
    }
    QVERIFY(!curveNear(before, segments.back().first) && curveNear(image.image(), segments.back().first));
    QTest::qWait(3 * MainForm::kPresentIntervalMs);
    const qsizetype most = 500 / MainForm::kPresentIntervalMs + 3;
    QCOMPARE_GT(readout.shown.size(), readoutPaints);
    QCOMPARE_LE(readout.shown.size() - readoutPaints, most);
    QCOMPARE_LE(chartLog.painted.size() - chartPaints, most);
    QCOMPARE(readout.shown.last(), QString::number(reading));
    const qreal ratio = image.devicePixelRatio();
    for (std::size_t i = 0; i < segments.size(); ++i) {
        const QPoint at = (QPointF(segments[i].first) / ratio).toPoint(); // in the view
        bool painted = false;
        for (qsizetype p = segments[i].second; p < chartLog.painted.size() && !painted; ++p)
            painted = chartLog.painted[p].contains(at);
        QVERIFY2(painted, qPrintable(QStringLiteral("segment %1 never painted after it was drawn").arg(i)));
    }
    const QImage onScreen = f.chartView().grab().toImage();
    QVERIFY(curveNear(onScreen,
                      (QPointF(segments.back().first) * onScreen.devicePixelRatio() / ratio).toPoint()));
}

void TestMainForm::keptPicturesLookAsTheStyleDrawsThem_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("run group box") << QStringLiteral("Frame5");
    for (const layout::Box &b : layout::kFields)
        QTest::newRow(b.name) << QString::fromLatin1(b.name);
}

// The fields copy their panel and frame, the run group box itself, from a
// picture; a plain twin of the same place, font and text, drawn by the style
// each time, must look the same over the boxes beneath, in each state it can
// be in.
void TestMainForm::keptPicturesLookAsTheStyleDrawsThem()
{
    QFETCH(QString, name);
    MainForm &f = m_program->form();
    f.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&f));
    const int flashTime = QGuiApplication::styleHints()->cursorFlashTime();
    QGuiApplication::styleHints()->setCursorFlashTime(0); // a cursor that does not blink
    auto restoreFlash = qScopeGuard(
            [flashTime] { QGuiApplication::styleHints()->setCursorFlashTime(flashTime); });
    QWidget *kept = f.centralWidget()->findChild<QWidget *>(name);
    auto *field = qobject_cast<QLineEdit *>(kept);
    QVERIFY(field || qobject_cast<QGroupBox *>(kept));
    std::unique_ptr<QWidget> plain;
    QStringList texts{QString()};
    if (field) {
        auto *edit = new QLineEdit(field->parentWidget());
        edit->setAlignment(field->alignment());
        edit->setTextMargins(field->textMargins());
        plain.reset(edit);
        texts << QStringLiteral("235") << QStringLiteral("-12.5");
    } else {
        plain = std::make_unique<QGroupBox>(qobject_cast<QGroupBox *>(kept)->title(), kept->parentWidget());
        for (QWidget *label : kept->findChildren<QWidget *>())
            label->hide(); // the box alone
    }
    plain->setGeometry(kept->geometry());
    plain->setFont(kept->font());
    plain->setStyleSheet(kept->styleSheet());
    for (const QString &text : texts) {
        for (int state = 0; state < 3; ++state) { // plain, focused, disabled
            const auto look = [&](QWidget &shown, QWidget &hidden) {
                hidden.hide();
                shown.show();
                shown.raise();
                if (auto *edit = qobject_cast<QLineEdit *>(&shown))
                    edit->setText(text);
                shown.setEnabled(state != 2);
                state == 1 ? shown.setFocus() : f.setFocus();
                QCoreApplication::processEvents();
                return shown.parentWidget()->grab(shown.geometry()).toImage();
            };
            const QImage drawn = look(*plain, *kept);
            const QImage copied = look(*kept, *plain);
            const QImage again = look(*kept, *plain); // from the picture taken above
            QVERIFY2(copied == drawn && again == drawn && drawnOn(drawn),
                     qPrintable(QStringLiteral("\"%1\", state %2").arg(text).arg(state)));
        }
    }
}

void TestMainForm::exitEndsProgramFromInsideWaits_data()
{
    QTest::addColumn<QString>("wait"); // the menu item chosen first
    QTest::newRow("Parameter Load") << "getcanshu";
    QTest::newRow("Parameter Transfer") << "to8031";
    QTest::newRow("run monitor") << "from8031";
    QTest::newRow("Stop") << "stop";
    QTest::newRow("close button, idle") << "close";
}

// The window in a process of its own: Exit, chosen inside each wait, ends the
// program there and then, and tells the oven nothing it was not telling it.
void TestMainForm::exitEndsProgramFromInsideWaits()
{
    QFETCH(QString, wait);
    PtyPeer peer;
    QVERIFY(peer.ok());
    QByteArray sent;
    QTimer frames;
    connect(&frames, &QTimer::timeout, [&] { QVERIFY(peer.write(QByteArray("\x00\x64\x64", 3))); });
    peer.onReceive([&](unsigned char b) {
        sent.append(char(b));
        if (wait == u"from8031" && b >= 1 && b <= 6)
            QVERIFY(peer.write(QByteArray(1, char(100 + b)))); // a controller that answers and runs
        if (wait == u"from8031" && b == 0xAA)
            frames.start(30);
    });
    QProcess probe;
    probe.setProcessChannelMode(QProcess::MergedChannels);
    probe.start(QCoreApplication::applicationDirPath() + QStringLiteral("/window_probe"),
                {QStringLiteral("exit"), wait, peer.path()});
    QVERIFY(probe.waitForStarted());
    QTRY_VERIFY2_WITH_TIMEOUT(probe.state() == QProcess::NotRunning, "Exit did not end the program", 10000);
    sent += peer.readAvailable();
    const QString out = QString::fromLocal8Bit(probe.readAll());
    QVERIFY(probe.exitStatus() == QProcess::NormalExit && probe.exitCode() == 0);
    QVERIFY2(out.contains(u"exiting") && !out.contains(u"RESUMED") && !out.contains(u"STILL RUNNING"),
             qPrintable(out));
    if (wait == u"from8031")
        QVERIFY2(sent.endsWith(char(0xAA)), sent.toHex().constData()); // monitoring when it ended
    if (wait == u"stop")
        QVERIFY(sent.size() < 11 && sent.count(char(0xBB)) == sent.size()); // cut short
    else
        QVERIFY2(!sent.contains(char(0xBB)), sent.toHex().constData()); // nothing told to the oven
}

QTEST_MAIN(TestMainForm)
#include "test_main_form.moc"
