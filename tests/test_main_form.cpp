#include "pty_peer.h"

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
#include <QMessageBox>
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

// Every box of the layout table, with the kind of widget its part of the
// table makes.
std::vector<std::pair<const layout::Box *, const QMetaObject *>> layoutBoxes()
{
    std::vector<std::pair<const layout::Box *, const QMetaObject *>> all;
    const auto add = [&all](std::span<const layout::Box> boxes, const QMetaObject &kind) {
        for (const layout::Box &b : boxes)
            all.emplace_back(&b, &kind);
    };
    add(layout::kAxisLabels, QLabel::staticMetaObject);
    add({&layout::kPicture, 1}, QWidget::staticMetaObject);
    add(layout::kGroups, QGroupBox::staticMetaObject);
    add(layout::kGroupLabels, QLabel::staticMetaObject);
    add(layout::kFields, QLineEdit::staticMetaObject);
    add(layout::kReadouts, QLabel::staticMetaObject);
    add({&layout::kPortPanel, 1}, QGroupBox::staticMetaObject);
    add(layout::kPortOptions, QRadioButton::staticMetaObject);
    for (const layout::Button &b : layout::kPortButtons)
        all.emplace_back(&b.box, &QPushButton::staticMetaObject);
    return all;
}

// The widgets of the client area that have a name of ours.
QList<QWidget *> namedWidgets(QWidget *client)
{
    QList<QWidget *> named = client->findChildren<QWidget *>();
    named.removeIf(
            [](QWidget *w) { return w->objectName().isEmpty() || w->objectName().startsWith(u"qt_"); });
    return named;
}

// Answers the next message box, and hands back its text.
void answerNextMessage(QString &shown)
{
    if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
        shown = box->text();
        box->accept();
    } else {
        QTimer::singleShot(10, [&shown] { answerNextMessage(shown); });
    }
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
    void windowAsTheOperatorsKnowIt();
    void widgetsWhereTheLayoutPutsThem();
    void widgetsLieInsideTheirParentsApart();
    void captionsFitTheirBoxes_data();
    void captionsFitTheirBoxes();
    void focusRunsThroughTheFields();
    void menusAndButtonsRunTheirOwnCommands();
    void startUpStateAndPortPanel();
    void fieldEditsReachTheState();
    void chartKeepsItsImage();
    void lineRateReachesScreenOncePerPresentation();
    void groupBoxesLookTheSameFromTheirPicture();
    void fieldsLookAsTheStyleDrawsThem();
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

void TestMainForm::windowAsTheOperatorsKnowIt()
{
    MainForm &f = m_program->form();
    QCOMPARE(f.windowTitle(), QStringLiteral("                              ORVALEN REFLOW VOEN   "));
    // The two sizes the layout is drawn around: the client area and the chart.
    QCOMPARE(f.centralWidget()->size(), QSize(f.twips(10335), f.twips(5550)));
    QCOMPARE(f.chartView().size(), QSize(f.twips(7440), f.twips(4476)));
    const QList<QSize> sizes = f.windowIcon().availableSizes();
    QVERIFY(sizes.contains(QSize(32, 32)) && sizes.contains(QSize(16, 16)));

    for (const char *name : {"Text1", "Text8", "Label5", "Label6"}) {
        const QFont font = f.findChild<QWidget *>(name)->font();
        QVERIFY2(font.families().value(0) == u"System" && font.pointSize() == 12 && font.bold(), name);
    }
    const QFont title = f.findChild<QLabel *>("Label15")->font();
    QCOMPARE(title.families().value(0), QStringLiteral("楷体_GB2312"));
    QVERIFY(title.families().contains(QStringLiteral("AR PL UKai CN"))); // a Kai face Debian has
    QVERIFY(title.pointSize() == 15 && title.bold());
    // The date and time readouts: a single-line border on the menu colour.
    for (const char *name : {"Label5", "Label6"}) {
        auto *label = f.findChild<QLabel *>(name);
        QVERIFY(label->frameShape() == QFrame::Box && label->lineWidth() == 1 && label->autoFillBackground());
        QCOMPARE(label->palette().color(QPalette::Window),
                 QApplication::palette("QMenu").color(QPalette::Window));
    }
}

// Each box of the table is a widget of its name, kind, parent, caption and
// alignment, where the table puts it to within the half pixel it is rounded
// to; the window has no named widget beyond them.
void TestMainForm::widgetsWhereTheLayoutPutsThem()
{
    MainForm &f = m_program->form();
    const double pixel = 1440.0 / QGuiApplication::primaryScreen()->logicalDotsPerInch();
    const auto near = [pixel](int pixels, int twips) {
        return std::abs(pixels * pixel - twips) <= pixel / 2;
    };
    QSet<QString> inTable;
    for (const auto &[b, kind] : layoutBoxes()) {
        const QString name = QString::fromLatin1(b->name);
        inTable << name;
        QWidget *w = f.centralWidget()->findChild<QWidget *>(name);
        QVERIFY2(w && kind->cast(w), qPrintable(name));
        QCOMPARE(w->parentWidget()->objectName(),
                 *b->parent ? QString::fromLatin1(b->parent) : QStringLiteral("client"));
        const QRect g = w->geometry();
        QVERIFY2(near(g.x(), b->left) && near(g.y(), b->top) && near(g.width(), b->width)
                         && near(g.height(), b->height),
                 qPrintable(name));
        QCOMPARE(captions::captionOf(w), QString::fromUtf8(b->caption));
        Qt::Alignment align;
        if (auto *label = qobject_cast<QLabel *>(w)) {
            align = label->alignment();
        } else if (auto *edit = qobject_cast<QLineEdit *>(w)) {
            QVERIFY2(edit->text().isEmpty(), qPrintable(name)); // the fields start empty
            align = edit->alignment();
        } else {
            continue; // the table's alignment is for labels and fields
        }
        const Qt::Alignment asked = b->align == layout::Align::Left    ? Qt::AlignLeft
                                    : b->align == layout::Align::Right ? Qt::AlignRight
                                                                       : Qt::AlignHCenter;
        QCOMPARE(align & Qt::AlignHorizontal_Mask, asked);
    }
    QVERIFY(f.findChild<QWidget *>(QString::fromLatin1(layout::kPicture.name)) == &f.chartView());
    QSet<QString> onWindow;
    for (QWidget *w : namedWidgets(f.centralWidget()))
        onWindow << w->objectName();
    QCOMPARE(onWindow, inTable);
}

// Every widget lies inside its parent and so inside the client area, and no
// two of one parent overlap, but for the edit fields: each lies over the
// right half of a group box, drawn above it, level with one of its labels.
// The port panel lies over the chart as its child. Boxes laid edge to edge
// may share the pixel their edges are rounded to.
void TestMainForm::widgetsLieInsideTheirParentsApart()
{
    QWidget *client = m_program->form().centralWidget();
    const QList<QWidget *> placed = namedWidgets(client);
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
        const QString what = QStringLiteral("%1: %2 px in %3 px at %4 pt")
                                     .arg(name)
                                     .arg(ink)
                                     .arg(room)
                                     .arg(font.pointSizeF());
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
    QCOMPARE(checked, 2 + int(std::count_if(boxes.begin(), boxes.end(), [](auto b) {
                          return *b.first->caption != 0;
                      })));

    // However narrow the box, a caption shrinks no further than the smallest size.
    QLabel narrow;
    narrow.setGeometry(0, 0, 4, 30);
    const QFont asked(QStringLiteral("DejaVu Sans"), 12);
    QCOMPARE(captions::fittingFont(&narrow, asked, QStringLiteral("Temperature")).pointSizeF(),
             captions::kSmallestPoints);
}

void TestMainForm::focusRunsThroughTheFields()
{
    MainForm &f = m_program->form();
    QVERIFY(QTest::qWaitForWindowActive(&f));
    QWidget *w = QApplication::focusWidget(); // the window starts in Text1
    for (int n = 1; n <= 8; ++n) {
        QCOMPARE(w->objectName(), QStringLiteral("Text%1").arg(n));
        do
            w = w->nextInFocusChain();
        while (!(w->focusPolicy() & Qt::TabFocus) || !qobject_cast<QLineEdit *>(w));
    }
    for (QWidget *other : f.findChildren<QWidget *>())
        if (qobject_cast<QLabel *>(other) || qobject_cast<QGroupBox *>(other))
            QCOMPARE(other->focusPolicy(), Qt::NoFocus);
}

// The menus are in the table's order, each item plain; each item and button
// runs its own command, once, and every command is reached.
void TestMainForm::menusAndButtonsRunTheirOwnCommands()
{
    MainForm f;
    QStringList ran;
    QSet<QString> reached;
    auto record = [&ran](const char *name) { return [&ran, name] { ran << QString::fromLatin1(name); }; };
#define RECORD(command) .command = record(#command)
    const MainForm::Commands all{RECORD(openfile),   RECORD(savefile), RECORD(printpaper), RECORD(exit),
                                 RECORD(selectport), RECORD(to8031),   RECORD(getcanshu),  RECORD(stopcomm),
                                 RECORD(from8031),   RECORD(stop),     RECORD(yes),        RECORD(cancel)};
#undef RECORD
    f.setCommands(all);
    f.show();
    const QList<QAction *> menus = f.menuBar()->actions();
    QCOMPARE(menus.size(), qsizetype(std::size(layout::kMenus)));
    for (qsizetype m = 0; m < menus.size(); ++m) {
        const layout::Menu &want = layout::kMenus[m];
        QVERIFY(menus[m]->menu()->objectName() == QLatin1StringView(want.name)
                && menus[m]->text() == QString::fromUtf8(want.caption));
        const QList<QAction *> items = menus[m]->menu()->actions();
        QCOMPARE(items.size(), qsizetype(want.count));
        for (int i = 0; i < want.count; ++i) {
            QAction *a = items[i];
            QCOMPARE(a->objectName(), QString::fromLatin1(want.items[i].name));
            QCOMPARE(a->isSeparator() ? QStringLiteral("-") : a->text(),
                     QString::fromUtf8(want.items[i].caption));
            QVERIFY(a->shortcut().isEmpty() && a->isEnabled() && !a->isCheckable() && a->isVisible());
            ran.clear();
            a->trigger();
            QCOMPARE(ran, a->isSeparator() ? QStringList() : QStringList{a->objectName()});
            reached += QSet<QString>(ran.begin(), ran.end());
        }
    }
    f.setPortPanelVisible(true);
    for (QPushButton *b : f.findChildren<QPushButton *>()) {
        ran.clear();
        QTest::mouseClick(b, Qt::LeftButton);
        QCOMPARE(ran, QStringList{b->objectName()});
        reached << b->objectName();
    }
    QCOMPARE(reached.size(), qsizetype(12)); // every command above

    // The program sets a command behind each item; one left unset is seen.
    for (const QString &name : reached)
        QVERIFY2(m_program->form().routes(name), qPrintable(name));
    MainForm::Commands some;
    some.openfile = all.openfile;
    f.setCommands(some);
    QVERIFY(f.routes(QStringLiteral("openfile")) && !f.routes(QStringLiteral("savefile"))
            && !f.routes(QStringLiteral("no-such-item")));
}

void TestMainForm::startUpStateAndPortPanel()
{
    Context &c = m_program->context();
    QCOMPARE(c.state.runFlag, LooseValue(0));
    QVERIFY(c.services.Timer1.interval() == 10 && !c.services.Timer1.isEnabled());
    QVERIFY(c.services.Timer3.interval() == 100 && !c.services.Timer3.isEnabled());
    QVERIFY(!c.services.line.isOpen());
    MainForm &f = m_program->form();
    auto *panel = f.findChild<QGroupBox *>("Frame1");
    auto *com1 = f.findChild<QRadioButton *>("COM1");
    QVERIFY(!panel->isVisible() && com1->isChecked() && !f.com2Selected());

    f.findChild<QAction *>("selectport")->trigger();
    QVERIFY(panel->isVisible());
    QTest::mouseClick(f.findChild<QRadioButton *>("COM2"), Qt::LeftButton);
    QVERIFY(!com1->isChecked()); // one clears the other
    QTest::mouseClick(f.findChild<QPushButton *>("cancel"), Qt::LeftButton);
    QVERIFY(!panel->isVisible() && f.com2Selected()); // CANCEL keeps the choice
    // Parameter Load then tells the operator which port it could not open.
    QString shown;
    QTimer::singleShot(0, [&shown] { answerNextMessage(shown); });
    f.findChild<QAction *>("getcanshu")->trigger();
    QVERIFY2(shown.contains(QStringLiteral("/dev/orvalen-test-absent-2")), qPrintable(shown));
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
    QTest::keyClick(field, Qt::Key_Backspace);
    QTest::keyClick(field, Qt::Key_Backspace);
    QCOMPARE(stored, LooseValue(""));
    stored = 7;
    f.setText(Form::Field::Text3, QString()); // a program write of the same text is stored as text
    QCOMPARE(stored, LooseValue(""));

    QTest::qWait(3 * MainForm::kPresentIntervalMs);
    f.setText(Form::Field::Text3, QStringLiteral("231")); // presented at once: none was lately
    f.setText(Form::Field::Text3, QStringLiteral("232")); // held for the next presentation
    QVERIFY(f.text(Form::Field::Text3) == u"232" && stored == LooseValue("232"));
    field->setText(QStringLiteral("240")); // the operator's edit comes before it is shown
    QTest::qWait(3 * MainForm::kPresentIntervalMs);
    QVERIFY(field->text() == u"240" && f.text(Form::Field::Text3) == u"240" && stored == LooseValue("240"));
}

// The chart keeps what was drawn, for when it is covered. Curve segments are
// drawn with one painter kept open between them: every look at the image,
// and every copy of it, holds each segment drawn before it and none after.
void TestMainForm::chartKeepsItsImage()
{
    MainForm &f = m_program->form();
    QVERIFY(f.chartView().testAttribute(Qt::WA_StaticContents));
    const RetainedChart &image = f.chartView().image();
    const auto curveNear = [](const QImage &img, QPoint p) { // p in the image's pixels
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx)
                if (img.valid(p + QPoint(dx, dy))
                    && img.pixelColor(p + QPoint(dx, dy)) == chart::kCurveColour)
                    return true;
        return false;
    };
    const QPoint first = image.pixelOf(250, 2500), second = image.pixelOf(550, 2500);
    f.chart().drawLine(100, 3000, 400, 2000, chart::kCurveColour);
    const QImage before = image.image();
    QVERIFY(curveNear(before, first));
    f.chart().drawLine(400, 2000, 700, 3000, chart::kCurveColour);
    QVERIFY(!curveNear(before, second));
    QVERIFY(curveNear(image.image(), second));
    const QImage shown = f.chartView().grab().toImage();
    QVERIFY(curveNear(shown,
                      (QPointF(second) * shown.devicePixelRatio() / image.devicePixelRatio()).toPoint()));
}

// Line rate, as the monitor has it: 80 readings a second for half a second,
// each shown in Text7 and drawn twice on the chart. The readout and the chart
// reach the screen at most once a presentation; the last reading is shown,
// and every segment is painted after it was drawn, those drawn before the
// window was first exposed too.
void TestMainForm::lineRateReachesScreenOncePerPresentation()
{
    MainForm &f = m_program->form();
    const RetainedChart &image = f.chartView().image();
    PaintLog readout(f.findChild<QLineEdit *>(QStringLiteral("Text7")));
    PaintLog chartLog(&f.chartView());
    std::vector<std::pair<QPoint, qsizetype>> segments; // where in the view, and the paints before it
    double x = 100;
    const auto drawSegment = [&] {
        f.chart().drawLine(float(x), 2000, float(x + 12), 2100, chart::kCurveColour);
        segments.emplace_back((QPointF(image.pixelOf(x + 6, 2050)) / image.devicePixelRatio()).toPoint(),
                              chartLog.painted.size());
        x += 12;
    };
    for (int i = 0; i < 10; ++i)
        drawSegment();
    QVERIFY(QTest::qWaitForWindowExposed(&f));
    QTest::qWait(100);
    const qsizetype readoutPaints = readout.shown.size(), chartPaints = chartLog.painted.size();
    int reading = 20;
    for (QDeadlineTimer end(500); !end.hasExpired(); QTest::qWait(12)) {
        f.setText(Form::Field::Text7, QString::number(++reading));
        QCOMPARE(f.text(Form::Field::Text7), QString::number(reading)); // the state changes at once
        drawSegment();
        drawSegment();
    }
    QTest::qWait(3 * MainForm::kPresentIntervalMs);
    const qsizetype most = 500 / MainForm::kPresentIntervalMs + 3;
    QVERIFY2(
            readout.shown.size() > readoutPaints && readout.shown.size() - readoutPaints <= most,
            qPrintable(QStringLiteral("%1 paints of the readout").arg(readout.shown.size() - readoutPaints)));
    QVERIFY2(chartLog.painted.size() - chartPaints <= most,
             qPrintable(QStringLiteral("%1 paints of the chart").arg(chartLog.painted.size() - chartPaints)));
    QCOMPARE(readout.shown.last(), QString::number(reading));
    for (std::size_t i = 0; i < segments.size(); ++i) {
        const auto &[at, paintsBefore] = segments[i];
        bool painted = false;
        for (qsizetype p = paintsBefore; p < chartLog.painted.size() && !painted; ++p)
            painted = chartLog.painted[p].contains(at);
        QVERIFY2(painted, qPrintable(QStringLiteral("segment %1 never painted after it was drawn").arg(i)));
    }
}

// The run group box paints from a picture of itself: it must look as a plain
// group box of the same size, caption and place that the style draws.
void TestMainForm::groupBoxesLookTheSameFromTheirPicture()
{
    MainForm &f = m_program->form();
    QVERIFY(QTest::qWaitForWindowExposed(&f));
    auto *run = f.findChild<QGroupBox *>(QStringLiteral("Frame5"));
    QGroupBox plain(run->title(), run->parentWidget());
    plain.setGeometry(run->geometry());
    plain.lower();
    auto paintOf = [](QWidget &w) { // the box alone, over its background, without its labels
        QImage image(w.size(), QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        w.render(&image, QPoint(), QRegion(), QWidget::DrawWindowBackground);
        return image;
    };
    const QImage drawn = paintOf(plain);
    QTest::qWait(50); // the box has taken its picture since it was first shown
    const QImage copied = paintOf(*run);
    QVERIFY(drawnOn(copied));
    QCOMPARE(copied, drawn);
}

// The fields copy their panel and frame from a picture; a plain field of the
// same place, font and text, drawn by the style each time, must look the same
// over the boxes beneath, in each state a field can be in.
void TestMainForm::fieldsLookAsTheStyleDrawsThem()
{
    MainForm &f = m_program->form();
    f.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&f));
    const int flashTime = QGuiApplication::styleHints()->cursorFlashTime();
    QGuiApplication::styleHints()->setCursorFlashTime(0); // a cursor that does not blink
    auto restoreFlash = qScopeGuard(
            [flashTime] { QGuiApplication::styleHints()->setCursorFlashTime(flashTime); });
    const QList<QLineEdit *> fields = f.centralWidget()->findChildren<QLineEdit *>();
    QCOMPARE(fields.size(), qsizetype(std::size(layout::kFields)));
    for (QLineEdit *field : fields) {
        QLineEdit plain(field->parentWidget());
        plain.setGeometry(field->geometry());
        plain.setFont(field->font());
        plain.setAlignment(field->alignment());
        plain.setTextMargins(field->textMargins());
        plain.setStyleSheet(field->styleSheet());
        for (const QString &text : {QStringLiteral("235"), QString(), QStringLiteral("-12.5")}) {
            for (int state = 0; state < 3; ++state) { // plain, focused, disabled
                const auto look = [&](QLineEdit &shown, QLineEdit &hidden) {
                    hidden.hide();
                    shown.show();
                    shown.raise();
                    shown.setText(text);
                    shown.setEnabled(state != 2);
                    state == 1 ? shown.setFocus() : f.setFocus();
                    QCoreApplication::processEvents();
                    return shown.parentWidget()->grab(shown.geometry()).toImage();
                };
                const QImage drawn = look(plain, *field);
                const QImage copied = look(*field, plain);
                const QImage again = look(*field, plain); // from the picture taken above
                QVERIFY2(copied == drawn && again == drawn && drawnOn(drawn),
                         qPrintable(field->objectName()
                                    + QStringLiteral(" \"%1\", state %2").arg(text).arg(state)));
            }
        }
        field->setEnabled(true);
    }
}

void TestMainForm::exitEndsProgramFromInsideWaits_data()
{
    QTest::addColumn<QString>("wait");
    QTest::newRow("Parameter Load") << "load";
    QTest::newRow("Parameter Transfer") << "transfer";
    QTest::newRow("run monitor") << "run";
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
        if (wait == u"run" && b >= 1 && b <= 6)
            QVERIFY(peer.write(QByteArray(1, char(100 + b)))); // a controller that answers and runs
        if (wait == u"run" && b == 0xAA)
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
    if (wait == u"run")
        QVERIFY2(sent.endsWith(char(0xAA)), sent.toHex().constData()); // monitoring when it ended
    if (wait == u"stop")
        QVERIFY(sent.size() < 11 && sent.count(char(0xBB)) == sent.size()); // cut short
    else
        QVERIFY2(!sent.contains(char(0xBB)), sent.toHex().constData()); // nothing told to the oven
}

QTEST_MAIN(TestMainForm)
#include "test_main_form.moc"
