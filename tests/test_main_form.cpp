#include "pty_peer.h"

#include "ui/caption_fit.h"
#include "ui/program.h"

#include <QAction>
#include <QElapsedTimer>
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
#include <vector>

namespace {

QString probePath() { return QCoreApplication::applicationDirPath() + QStringLiteral("/window_probe"); }

// How many different colours a picture holds.
qsizetype colourCount(const QImage &image)
{
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            colours.insert(image.pixel(x, y));
    return colours.size();
}

} // namespace

class TestMainForm : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void windowTitleSizeAndIcon();
    void widgetsWhereTheLayoutPutsThem_data();
    void widgetsWhereTheLayoutPutsThem();
    void everyWidgetIsInTheLayout();
    void captionsFitTheirBoxes_data();
    void captionsFitTheirBoxes();
    void fittingFontShrinksOnlyAsFarAsItMust_data();
    void fittingFontShrinksOnlyAsFarAsItMust();
    void fontsAsked();
    void readoutsHaveBorderOnMenuColour();
    void focusOrderRunsThroughTheFields();
    void menuTree();
    void startUpState();
    void commandsAreRoutedToTheirHandlers();
    void everyMenuItemAndButtonReachesItsOwnHandler();
    void fieldEditsReachTheState();
    void chartKeepsItsImage();
    void readoutsReachScreenAtMostEvery50ms();
    void curveReachesScreenWithItsPresentations();
    void editWinsOverTextNotYetShown();
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

void TestMainForm::cleanup() { m_program.reset(); }

void TestMainForm::windowTitleSizeAndIcon()
{
    MainForm &f = m_program->form();
    QCOMPARE(f.windowTitle(), QStringLiteral("                              ORVALEN REFLOW VOEN   "));
    QWidget *client = f.centralWidget();
    QCOMPARE(client->size(), QSize(f.twips(10335), f.twips(5550)));
    const QList<QSize> sizes = f.windowIcon().availableSizes();
    QVERIFY(sizes.contains(QSize(32, 32)));
    QVERIFY(sizes.contains(QSize(16, 16)));
}

void TestMainForm::widgetsWhereTheLayoutPutsThem_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("parent");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QRect>("twips"); // left, top, width, height
    QTest::addColumn<QString>("align");
    auto row = [](const char *name, const char *kind, const char *parent, const char *caption, int left,
                  int top, int width, int height, const char *align = "") {
        QTest::newRow(name) << QString::fromLatin1(kind) << QString::fromLatin1(parent)
                            << QString::fromUtf8(caption) << QRect(left, top, width, height)
                            << QString::fromLatin1(align);
    };
    // The chart's captions.
    row("Label15", "label", "client", "        REFLOW    PROFILE", 1644, 168, 5772, 348, "left");
    row("Label24", "label", "client", "℃", 564, 612, 192, 252, "right");
    row("Label16", "label", "client", "300", 168, 600, 408, 252, "right");
    row("Label17", "label", "client", "250", 312, 1356, 372, 252, "right");
    row("Label18", "label", "client", "200", 312, 2076, 372, 252, "right");
    row("Label19", "label", "client", "150", 312, 2808, 372, 252, "right");
    row("Label20", "label", "client", "100", 300, 3516, 372, 252, "right");
    row("Label21", "label", "client", "50", 288, 4236, 372, 252, "right");
    row("Label22", "label", "client", "0", 372, 4944, 252, 192, "right");
    row("Label23", "label", "client", " 0", 516, 5196, 420, 252, "centre");
    row("Label9", "label", "client", "50", 1296, 5196, 432, 204, "centre");
    row("Label10", "label", "client", "100", 2040, 5208, 420, 216, "centre");
    row("Label14", "label", "client", "150", 2748, 5196, 456, 204, "centre");
    row("Label25", "label", "client", "200", 3492, 5208, 420, 204, "centre");
    row("Label26", "label", "client", "250", 4188, 5208, 468, 204, "centre");
    row("Label27", "label", "client", "300", 4956, 5208, 420, 204, "centre");
    row("Label28", "label", "client", "350", 5712, 5220, 420, 192, "centre");
    row("Label29", "label", "client", "400", 6468, 5232, 336, 192, "centre");
    row("Label30", "label", "client", "450", 7248, 5220, 384, 228, "left");
    row("Label31", "label", "client", "500  S", 8040, 5232, 684, 192, "left");
    row("Picture1", "chart", "client", "", 756, 636, 7440, 4476);
    // The groups on the right.
    row("Frame2", "group", "client", "Parameter1", 8256, 456, 1944, 948);
    row("Label1", "label", "Frame2", "Temperature", 60, 252, 1080, 240, "centre");
    row("Label2", "label", "Frame2", "Time(S)", 108, 588, 1008, 288, "centre");
    row("Frame3", "group", "client", "Parameter2", 8256, 1392, 1932, 1032);
    row("Label3", "label", "Frame3", "Temperature", 72, 240, 1140, 216, "centre");
    row("Label4", "label", "Frame3", "Time(S)", 108, 588, 996, 288, "centre");
    row("Frame4", "group", "client", "Parameter3", 8280, 2424, 1920, 936);
    row("Label7", "label", "Frame4", "Temperature", 72, 228, 1128, 252, "centre");
    row("Label8", "label", "Frame4", "Time(S)", 144, 564, 972, 252, "centre");
    row("Frame5", "group", "client", "Run", 8280, 3432, 1944, 876);
    row("Label11", "label", "Frame5", "Temperature", 120, 216, 1104, 216, "centre");
    row("Label12", "label", "Frame5", "Time(S)", 192, 552, 984, 240, "centre");
    // The edit fields, over the groups but children of the window.
    row("Text1", "edit", "client", "", 9504, 696, 648, 255, "centre");
    row("Text2", "edit", "client", "", 9504, 1044, 648, 255, "centre");
    row("Text3", "edit", "client", "", 9528, 1620, 624, 255, "centre");
    row("Text4", "edit", "client", "", 9540, 1956, 612, 255, "centre");
    row("Text5", "edit", "client", "", 9528, 2628, 624, 255, "centre");
    row("Text6", "edit", "client", "", 9528, 2988, 636, 255, "centre");
    row("Text7", "edit", "client", "", 9540, 3600, 600, 255, "centre");
    row("Text8", "edit", "client", "", 9540, 3960, 612, 255, "centre");
    // The date and time readouts.
    row("Label5", "label", "client", "", 8352, 4404, 1644, 288, "centre");
    row("Label6", "label", "client", "", 8352, 4872, 1644, 276, "centre");
    // The port panel, inside the chart.
    row("Frame1", "group", "Picture1", "PORT", 2412, 996, 2775, 1695);
    row("COM1", "option", "Frame1", "COM1", 120, 360, 975, 255);
    row("COM2", "option", "Frame1", "COM2", 120, 720, 975, 255);
    row("yes", "button", "Frame1", "OK", 120, 1080, 855, 375);
    row("cancel", "button", "Frame1", "CANCEL", 1800, 1080, 855, 375);
}

void TestMainForm::widgetsWhereTheLayoutPutsThem()
{
    QFETCH(QString, kind);
    QFETCH(QString, parent);
    QFETCH(QString, caption);
    QFETCH(QRect, twips);
    QFETCH(QString, align);
    MainForm &f = m_program->form();
    QWidget *w = f.findChild<QWidget *>(QString::fromLatin1(QTest::currentDataTag()));
    QVERIFY(w);
    QCOMPARE(w->parentWidget()->objectName(), parent);

    // The window's geometry in twips, to within the half pixel it is rounded to.
    const double dpi = QGuiApplication::primaryScreen()->logicalDotsPerInch();
    const QRect g = w->geometry();
    const QList<std::pair<int, int>> measured{
            {g.x(), twips.x()}, {g.y(), twips.y()}, {g.width(), twips.width()}, {g.height(), twips.height()}};
    for (const auto &[pixels, expected] : measured) {
        const double asTwips = pixels * 1440.0 / dpi;
        QVERIFY2(std::abs(asTwips - expected) <= 720.0 / dpi,
                 qPrintable(QStringLiteral("%1 twips where %2 were expected").arg(asTwips).arg(expected)));
    }

    Qt::Alignment alignment;
    if (kind == u"label") {
        auto *label = qobject_cast<QLabel *>(w);
        QVERIFY(label);
        QCOMPARE(label->text(), caption);
        alignment = label->alignment();
    } else if (kind == u"group") {
        QVERIFY(qobject_cast<QGroupBox *>(w));
        QCOMPARE(qobject_cast<QGroupBox *>(w)->title(), caption);
    } else if (kind == u"option" || kind == u"button") {
        QVERIFY(kind == u"option" ? qobject_cast<QRadioButton *>(w) != nullptr
                                  : qobject_cast<QPushButton *>(w) != nullptr);
        QCOMPARE(qobject_cast<QAbstractButton *>(w)->text(), caption);
    } else if (kind == u"edit") {
        auto *edit = qobject_cast<QLineEdit *>(w);
        QVERIFY(edit);
        QCOMPARE(edit->text(), QString());
        alignment = edit->alignment();
    } else {
        QCOMPARE(w, static_cast<QWidget *>(&f.chartView()));
    }
    if (!align.isEmpty()) {
        const Qt::Alignment expected = align == u"left"    ? Qt::AlignLeft
                                       : align == u"right" ? Qt::AlignRight
                                                           : Qt::AlignHCenter;
        QCOMPARE(alignment & Qt::AlignHorizontal_Mask, expected);
    }
}

void TestMainForm::everyWidgetIsInTheLayout()
{
    // Nothing placed beyond the rows above: 48 widgets with a name.
    QStringList named;
    for (QWidget *w : m_program->form().centralWidget()->findChildren<QWidget *>())
        if (!w->objectName().isEmpty() && !w->objectName().startsWith(QStringLiteral("qt_")))
            named << w->objectName();
    QCOMPARE(named.size(), 48);
}

void TestMainForm::captionsFitTheirBoxes_data()
{
    QTest::addColumn<QString>("family"); // the window's default font; empty: the platform's
    QTest::addColumn<double>("points");
    QTest::newRow("platform font") << QString() << 0.0;
    QTest::newRow("larger system font") << QStringLiteral("DejaVu Sans") << 11.0;
    QTest::newRow("wide serif font") << QStringLiteral("DejaVu Serif") << 10.0;
}

void TestMainForm::captionsFitTheirBoxes()
{
    QFETCH(QString, family);
    QFETCH(double, points);
    const QFont platform = QApplication::font();
    if (!family.isEmpty()) {
        QFont font(family);
        font.setPointSizeF(points);
        QApplication::setFont(font);
    }
    const auto restore = qScopeGuard([&] { QApplication::setFont(platform); });
    m_program.reset();
    init();
    MainForm &f = m_program->form();
    f.setCaption(Form::Caption::Label5, QStringLiteral("2024-12-28"));
    f.setCaption(Form::Caption::Label6, QStringLiteral("23:58:58"));
    const double defaultPoints = QApplication::font().pointSizeF();

    int checked = 0;
    for (QWidget *w : f.centralWidget()->findChildren<QWidget *>()) {
        const QString caption = captions::captionOf(w);
        if (caption.isEmpty())
            continue;
        ++checked;
        const QString what = w->objectName() + QStringLiteral(" \"") + caption + u'"';
        const QFont font = w->font();
        const int ink = captions::inkWidth(font, caption);
        const int room = captions::captionRoom(w, font);
        QVERIFY2(room > 0 && room <= w->width(), qPrintable(what));
        QVERIFY2(ink <= room, qPrintable(QStringLiteral("%1: %2 px in %3 px at %4 pt")
                                                 .arg(what)
                                                 .arg(ink)
                                                 .arg(room)
                                                 .arg(font.pointSizeF())));
        QVERIFY2(QFontMetrics(font).tightBoundingRect(caption).height() <= w->contentsRect().height(),
                 qPrintable(what));
        // Shrunk no further than it must be.
        const double asked = w->objectName() == u"Label15"                                  ? 15.0
                             : w->objectName() == u"Label5" || w->objectName() == u"Label6" ? 12.0
                                                                                            : defaultPoints;
        QVERIFY2(font.pointSizeF() <= asked, qPrintable(what));
        if (font.pointSizeF() < asked) {
            QFont larger = font;
            larger.setPointSizeF(font.pointSizeF() + 0.5);
            QVERIFY2(captions::inkWidth(larger, caption) > captions::captionRoom(w, larger),
                     qPrintable(what));
        }
    }
    QCOMPARE(checked, 39); // 30 labels with the two readouts, 5 group boxes, 4 buttons
}

void TestMainForm::fittingFontShrinksOnlyAsFarAsItMust_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<double>("expected"); // 0: smaller than asked but fitting
    QTest::newRow("room enough: as asked") << 400 << 12.0;
    QTest::newRow("narrow: shrunk to fit") << 90 << 0.0;
    QTest::newRow("far too narrow: the smallest size") << 4 << captions::kSmallestPoints;
}

void TestMainForm::fittingFontShrinksOnlyAsFarAsItMust()
{
    QFETCH(int, width);
    QFETCH(double, expected);
    QLabel label;
    label.setGeometry(0, 0, width, 30);
    const QString caption = QStringLiteral("Temperature 235");
    QFont asked(QStringLiteral("DejaVu Sans"));
    asked.setPointSizeF(12.0);
    const QFont fitted = captions::fittingFont(&label, asked, caption);
    if (expected > 0) {
        QCOMPARE(fitted.pointSizeF(), expected);
        return;
    }
    QVERIFY(fitted.pointSizeF() < 12.0 && fitted.pointSizeF() > captions::kSmallestPoints);
    QVERIFY(captions::inkWidth(fitted, caption) <= width);
    QFont larger = fitted;
    larger.setPointSizeF(fitted.pointSizeF() + 0.5);
    QVERIFY(captions::inkWidth(larger, caption) > width);
}

void TestMainForm::fontsAsked()
{
    MainForm &f = m_program->form();
    for (const char *name : {"Text1", "Text8", "Label5", "Label6"}) {
        const QFont font = f.findChild<QWidget *>(name)->font();
        QCOMPARE(font.families().value(0), QStringLiteral("System"));
        QCOMPARE(font.pointSize(), 12);
        QVERIFY(font.bold());
    }
    const QFont title = f.findChild<QLabel *>("Label15")->font();
    QCOMPARE(title.families().value(0), QStringLiteral("楷体_GB2312"));
    QVERIFY(title.families().contains(QStringLiteral("AR PL UKai CN"))); // a Kai face Debian has
    QCOMPARE(title.pointSize(), 15);
    QVERIFY(title.bold());
}

void TestMainForm::readoutsHaveBorderOnMenuColour()
{
    MainForm &f = m_program->form();
    for (const char *name : {"Label5", "Label6"}) {
        auto *label = f.findChild<QLabel *>(name);
        QCOMPARE(label->frameShape(), QFrame::Box);
        QCOMPARE(label->lineWidth(), 1);
        QVERIFY(label->autoFillBackground());
        QCOMPARE(label->palette().color(QPalette::Window),
                 QApplication::palette("QMenu").color(QPalette::Window));
        QCOMPARE(label->text(), QString());
    }
}

void TestMainForm::focusOrderRunsThroughTheFields()
{
    MainForm &f = m_program->form();
    QVERIFY(QTest::qWaitForWindowActive(&f));
    QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("Text1"));
    QStringList order;
    QWidget *w = f.findChild<QWidget *>("Text1");
    for (int i = 0; i < 8; ++i) {
        order << w->objectName();
        do
            w = w->nextInFocusChain();
        while (!(w->focusPolicy() & Qt::TabFocus) || !qobject_cast<QLineEdit *>(w));
    }
    QCOMPARE(order, (QStringList{"Text1", "Text2", "Text3", "Text4", "Text5", "Text6", "Text7", "Text8"}));
    for (QLabel *label : f.findChildren<QLabel *>())
        QCOMPARE(label->focusPolicy(), Qt::NoFocus);
}

void TestMainForm::menuTree()
{
    MainForm &f = m_program->form();
    QStringList menus;
    QStringList items;
    for (QAction *top : f.menuBar()->actions()) {
        menus << top->menu()->objectName() + u'=' + top->text();
        for (QAction *a : top->menu()->actions()) {
            items << a->objectName() + u'=' + (a->isSeparator() ? QStringLiteral("-") : a->text());
            QVERIFY(a->shortcut().isEmpty());
            QVERIFY(a->isEnabled());
            QVERIFY(!a->isCheckable());
            QVERIFY(a->isVisible());
        }
    }
    QCOMPARE(menus, (QStringList{"file=File(&F)", "setparameter=Set(&S)", "comm=Communicate(&C)",
                                 "run_stop=Run(&R)"}));
    QCOMPARE(items, (QStringList{"openfile=Open(&O)", "savefile=Save(&S)", "printpaper=Print(&P)", "invar=-",
                                 "exit=Exit(&X)", "selectport=Port Select(&P)",
                                 "to8031=Parameter Transfer(&T)", "getcanshu=Parameter Load(&L)",
                                 "stopcomm=Stop Communicate(&T)", "from8031=Run(&R)", "stop=Stop(&S)"}));
}

void TestMainForm::startUpState()
{
    Context &c = m_program->context();
    QCOMPARE(c.state.runFlag, LooseValue(0));
    QCOMPARE(c.services.Timer1.interval(), 10);
    QVERIFY(!c.services.Timer1.isEnabled());
    QCOMPARE(c.services.Timer3.interval(), 100);
    QVERIFY(!c.services.Timer3.isEnabled());
    MainForm &f = m_program->form();
    QVERIFY(!f.findChild<QGroupBox *>("Frame1")->isVisible());
    QVERIFY(f.findChild<QRadioButton *>("COM1")->isChecked());
    QVERIFY(!f.findChild<QRadioButton *>("COM2")->isChecked());
    QVERIFY(!c.services.line.isOpen());
}

void TestMainForm::commandsAreRoutedToTheirHandlers()
{
    MainForm &f = m_program->form();
    auto *panel = f.findChild<QGroupBox *>("Frame1");
    f.findChild<QAction *>("selectport")->trigger();
    QVERIFY(panel->isVisible());
    QTest::mouseClick(f.findChild<QRadioButton *>("COM2"), Qt::LeftButton);
    QVERIFY(!f.findChild<QRadioButton *>("COM1")->isChecked()); // one clears the other
    QTest::mouseClick(f.findChild<QPushButton *>("cancel"), Qt::LeftButton);
    QVERIFY(!panel->isVisible());
    QVERIFY(f.com2Selected()); // CANCEL keeps the choice

    // Parameter Load on an absent port 2: the operator is told which and why.
    QString shown;
    QTimer::singleShot(0, [&] {
        std::function<void()> answer = [&] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                shown = box->text();
                box->accept();
            } else {
                QTimer::singleShot(10, answer);
            }
        };
        answer();
    });
    f.findChild<QAction *>("getcanshu")->trigger();
    QVERIFY2(shown.contains(QStringLiteral("/dev/orvalen-test-absent-2")), qPrintable(shown));
}

void TestMainForm::everyMenuItemAndButtonReachesItsOwnHandler()
{
    // The program's window: every item is wired to a handler.
    QStringList items;
    for (QAction *a : m_program->form().findChildren<QAction *>())
        if (!a->isSeparator() && !a->objectName().isEmpty() && !a->menu())
            items << a->objectName();
    for (QPushButton *b : m_program->form().findChildren<QPushButton *>())
        items << b->objectName();
    QCOMPARE(items.size(), 12);
    for (const QString &name : items)
        QVERIFY2(m_program->form().routes(name), qPrintable(name));

    // A window of its own: each item runs the command of its own name, once.
    MainForm f;
    QStringList ran;
    auto record = [&ran](const char *name) { return [&ran, name] { ran << QString::fromLatin1(name); }; };
    f.setCommands({.openfile = record("openfile"),
                   .savefile = record("savefile"),
                   .printpaper = record("printpaper"),
                   .exit = record("exit"),
                   .selectport = record("selectport"),
                   .to8031 = record("to8031"),
                   .getcanshu = record("getcanshu"),
                   .stopcomm = record("stopcomm"),
                   .from8031 = record("from8031"),
                   .stop = record("stop"),
                   .yes = record("yes"),
                   .cancel = record("cancel")});
    f.show();
    for (QAction *a : f.findChildren<QAction *>()) {
        if (a->isSeparator() || a->objectName().isEmpty() || a->menu())
            continue;
        ran.clear();
        a->trigger();
        QCOMPARE(ran, QStringList{a->objectName()});
    }
    f.setPortPanelVisible(true);
    for (QPushButton *b : f.findChildren<QPushButton *>()) {
        ran.clear();
        QTest::mouseClick(b, Qt::LeftButton);
        QCOMPARE(ran, QStringList{b->objectName()});
    }
    // A command left unset is a dead item, and is seen.
    MainForm::Commands some;
    some.openfile = record("openfile");
    f.setCommands(some);
    QVERIFY(f.routes(QStringLiteral("openfile")));
    QVERIFY(!f.routes(QStringLiteral("savefile")));
    QVERIFY(!f.routes(QStringLiteral("no-such-item")));
}

void TestMainForm::fieldEditsReachTheState()
{
    MainForm &f = m_program->form();
    auto *field = f.findChild<QLineEdit *>("Text3");
    field->setFocus();
    QTest::keyClicks(field, QStringLiteral("23"));
    QCOMPARE(m_program->context().state.stageTemp[2], LooseValue("23"));
    QTest::keyClick(field, Qt::Key_Backspace);
    QTest::keyClick(field, Qt::Key_Backspace);
    QCOMPARE(m_program->context().state.stageTemp[2], LooseValue(""));
    // A program write of the same text still stores it as text.
    m_program->context().state.stageTemp[2] = 7;
    f.setText(Form::Field::Text3, QString());
    QCOMPARE(m_program->context().state.stageTemp[2], LooseValue(""));
}

void TestMainForm::chartKeepsItsImage()
{
    MainForm &f = m_program->form();
    f.chart().drawLine(0, 30, 7350, 30, chart::kGridColour);
    const QImage shown = f.chartView().grab().toImage();
    const QPoint p = f.chartView().image().pixelOf(3000, 30) / f.chartView().image().devicePixelRatio();
    QCOMPARE(shown.pixelColor(p * shown.devicePixelRatio()), chart::kGridColour);
    QVERIFY(f.chartView().testAttribute(Qt::WA_StaticContents));

    // Curve segments are drawn with one painter kept open between them: every
    // look at the image, and every copy of it, holds each segment drawn before
    // it and none drawn after.
    const RetainedChart &image = f.chartView().image();
    const auto curveNear = [](const QImage &img, QPoint at) {
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx)
                if (img.valid(at + QPoint(dx, dy))
                    && img.pixelColor(at + QPoint(dx, dy)) == chart::kCurveColour)
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
    const QImage later = f.chartView().grab().toImage();
    const qreal scale = later.devicePixelRatio() / image.devicePixelRatio();
    QVERIFY(curveNear(later, (QPointF(second) * scale).toPoint()));
}

// Paints of one widget, in order: the region, and for a field the text it
// showed.
class PaintLog : public QObject
{
public:
    explicit PaintLog(QWidget *widget) : m_field(qobject_cast<QLineEdit *>(widget))
    {
        widget->installEventFilter(this);
    }
    bool eventFilter(QObject *, QEvent *e) override
    {
        if (e->type() == QEvent::Paint) {
            painted.append(static_cast<QPaintEvent *>(e)->region());
            if (m_field)
                shown.append(m_field->text());
        }
        return false;
    }
    QList<QRegion> painted;
    QStringList shown;

private:
    QLineEdit *m_field;
};

void TestMainForm::readoutsReachScreenAtMostEvery50ms()
{
    MainForm &f = m_program->form();
    m_program->show();
    QVERIFY(QTest::qWaitForWindowExposed(&f));
    QTest::qWait(100);
    auto *text7 = f.findChild<QLineEdit *>(QStringLiteral("Text7"));
    QVERIFY(text7);
    PaintLog log(text7);
    // Readings at 80 a second for half a second, as at line rate.
    QElapsedTimer t;
    t.start();
    int reading = 20;
    while (t.elapsed() < 500) {
        f.setText(Form::Field::Text7, QString::number(++reading));
        QCOMPARE(f.text(Form::Field::Text7), QString::number(reading)); // the state changes at once
        QTest::qWait(12);
    }
    QTest::qWait(3 * MainForm::kPresentIntervalMs);
    QVERIFY2(!log.shown.isEmpty(), "the readout was never painted");
    QVERIFY2(log.shown.size() <= 500 / MainForm::kPresentIntervalMs + 2,
             qPrintable(QStringLiteral("%1 paints").arg(log.shown.size())));
    QCOMPARE(log.shown.last(), QString::number(reading)); // the last reading reaches the screen
}

void TestMainForm::curveReachesScreenWithItsPresentations()
{
    MainForm &f = m_program->form();
    ChartView &view = f.chartView();
    const RetainedChart &image = view.image();
    struct Segment
    {
        QPoint at; // in the view
        qsizetype paintsBefore;
    };
    std::vector<Segment> segments;
    PaintLog log(&view);
    double x = 100;
    auto drawSegment = [&] {
        f.chart().drawLine(float(x), 2000, float(x + 12), 2100, chart::kCurveColour);
        const QPointF mid = QPointF(image.pixelOf(x + 6, 2050)) / image.devicePixelRatio();
        segments.push_back({mid.toPoint(), log.painted.size()});
        x += 12;
    };
    // Drawn while the window is not shown, then shown and drawn at 80 a second
    // for half a second, as at line rate: the curve is painted at most once a
    // presentation, and every segment is painted after it was drawn.
    for (int i = 0; i < 10; ++i)
        drawSegment();
    m_program->show();
    QVERIFY(QTest::qWaitForWindowExposed(&f));
    QTest::qWait(100);
    const qsizetype paintsShown = log.painted.size();
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 500) {
        drawSegment();
        drawSegment(); // the monitor draws each reading twice
        QTest::qWait(12);
    }
    QTest::qWait(3 * MainForm::kPresentIntervalMs);
    QVERIFY2(log.painted.size() - paintsShown <= 500 / MainForm::kPresentIntervalMs + 3,
             qPrintable(QStringLiteral("%1 paints").arg(log.painted.size() - paintsShown)));
    for (std::size_t i = 0; i < segments.size(); ++i) {
        const Segment &s = segments[i];
        bool painted = false;
        for (qsizetype p = s.paintsBefore; p < log.painted.size() && !painted; ++p)
            painted = log.painted[p].contains(s.at);
        QVERIFY2(painted, qPrintable(QStringLiteral("segment %1 of %2 was never painted after it was drawn")
                                             .arg(i)
                                             .arg(segments.size())));
    }
}

void TestMainForm::editWinsOverTextNotYetShown()
{
    MainForm &f = m_program->form();
    m_program->show();
    QVERIFY(QTest::qWaitForWindowExposed(&f));
    auto *text3 = f.findChild<QLineEdit *>(QStringLiteral("Text3"));
    QVERIFY(text3);
    f.setText(Form::Field::Text3, QStringLiteral("231")); // presented at once: none was lately
    f.setText(Form::Field::Text3, QStringLiteral("232")); // held for the next presentation
    QCOMPARE(f.text(Form::Field::Text3), QStringLiteral("232"));
    QCOMPARE(m_program->context().state.stageTemp[2], LooseValue("232"));
    text3->setText(QStringLiteral("240")); // the operator's edit comes before it is shown
    QTest::qWait(3 * MainForm::kPresentIntervalMs);
    QCOMPARE(text3->text(), QStringLiteral("240"));
    QCOMPARE(f.text(Form::Field::Text3), QStringLiteral("240"));
    QCOMPARE(m_program->context().state.stageTemp[2], LooseValue("240"));
}

void TestMainForm::groupBoxesLookTheSameFromTheirPicture()
{
    MainForm &f = m_program->form();
    m_program->show();
    QVERIFY(QTest::qWaitForWindowExposed(&f));
    auto *run = f.findChild<QGroupBox *>(QStringLiteral("Frame5"));
    QVERIFY(run);
    // A plain group box of the same size, caption and place paints the frame
    // as the style draws it each time.
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
    QCOMPARE(copied.size(), drawn.size());
    QVERIFY(colourCount(copied) > 2); // a frame and its caption, not an empty picture
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
    for (int n = 1; n <= 8; ++n) {
        QLineEdit *field = f.findChild<QLineEdit *>(QStringLiteral("Text%1").arg(n));
        QVERIFY(field);
        QLineEdit plain(field->parentWidget());
        plain.setGeometry(field->geometry());
        plain.setFont(field->font());
        plain.setAlignment(field->alignment());
        plain.setTextMargins(field->textMargins());
        plain.setStyleSheet(field->styleSheet());
        const QString texts[] = {QStringLiteral("235"), QString(), QStringLiteral("-12.5")};
        for (const QString &text : texts) {
            for (int state = 0; state < 3; ++state) { // plain, focused, disabled
                const auto look = [&](QLineEdit &shown, QLineEdit &hidden) {
                    hidden.hide();
                    shown.show();
                    shown.raise();
                    shown.setText(text);
                    shown.setEnabled(state != 2);
                    if (state == 1)
                        shown.setFocus();
                    else
                        f.setFocus();
                    QCoreApplication::processEvents();
                    return shown.parentWidget()->grab(shown.geometry()).toImage();
                };
                const QImage drawn = look(plain, *field);
                const QImage copied = look(*field, plain);
                const QImage again = look(*field, plain); // from the picture taken above
                QVERIFY2(
                        copied == drawn && again == drawn,
                        qPrintable(
                                QStringLiteral("Text%1, text \"%2\", state %3").arg(n).arg(text).arg(state)));
                QVERIFY(colourCount(drawn) > 2); // a frame on a panel, not an empty picture
            }
        }
        field->setEnabled(true);
        field->show();
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
    probe.start(probePath(), {QStringLiteral("exit"), wait, peer.path()});
    QVERIFY(probe.waitForStarted());
    QElapsedTimer clock;
    clock.start();
    while (probe.state() != QProcess::NotRunning && clock.elapsed() < 10000)
        QTest::qWait(20);
    QVERIFY2(probe.state() == QProcess::NotRunning, "Exit did not end the program");
    sent += peer.readAvailable();
    const QString out = QString::fromLocal8Bit(probe.readAll());
    QCOMPARE(probe.exitStatus(), QProcess::NormalExit);
    QCOMPARE(probe.exitCode(), 0);
    QVERIFY2(out.contains(QStringLiteral("exiting")), qPrintable(out));
    QVERIFY2(!out.contains(QStringLiteral("RESUMED")), qPrintable(out));
    QVERIFY2(!out.contains(QStringLiteral("STILL RUNNING")), qPrintable(out));
    if (wait == u"run")
        QVERIFY2(sent.endsWith(char(0xAA)), sent.toHex().constData()); // monitoring when it ended
    if (wait == u"stop")
        QVERIFY(sent.size() < 11 && sent.count(char(0xBB)) == sent.size()); // cut short
    else
        QVERIFY2(!sent.contains(char(0xBB)), sent.toHex().constData()); // nothing told to the oven
}

QTEST_MAIN(TestMainForm)
#include "test_main_form.moc"
