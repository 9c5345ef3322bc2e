#include "pty_peer.h"

#include "ui/layout.h"
#include "ui/program.h"

#include <QAction>
#include <QElapsedTimer>
#include <QTimer>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QSet>
#include <QTest>

namespace {

QString probePath() { return QCoreApplication::applicationDirPath() + QStringLiteral("/window_probe"); }

} // namespace

class TestMainForm : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void windowTitleSizeAndIcon();
    void widgetsFollowLayoutTables();
    void fontsAsked();
    void readoutsHaveBorderOnMenuColour();
    void focusOrderRunsThroughTheFields();
    void menuTree();
    void startUpState();
    void commandsAreRoutedToTheirHandlers();
    void fieldEditsReachTheState();
    void chartKeepsItsImage();
    void readoutsReachScreenAtMostEvery50ms();
    void editWinsOverTextNotYetShown();
    void groupBoxesLookTheSameFromTheirPicture();
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

void TestMainForm::widgetsFollowLayoutTables()
{
    MainForm &f = m_program->form();
    auto check = [&](const layout::Box &b) {
        QWidget *w = f.findChild<QWidget *>(QString::fromLatin1(b.name));
        QVERIFY2(w, b.name);
        const QString parent = QString::fromLatin1(b.parent);
        QCOMPARE(w->parentWidget()->objectName(), parent.isEmpty() ? QStringLiteral("client") : parent);
        QCOMPARE(w->geometry(), QRect(f.twips(b.left), f.twips(b.top), f.twips(b.width), f.twips(b.height)));
        const QString caption = QString::fromUtf8(b.caption);
        if (auto *label = qobject_cast<QLabel *>(w))
            QCOMPARE(label->text(), caption);
        else if (auto *group = qobject_cast<QGroupBox *>(w))
            QCOMPARE(group->title(), caption);
        else if (auto *button = qobject_cast<QAbstractButton *>(w))
            QCOMPARE(button->text(), caption);
        else if (auto *edit = qobject_cast<QLineEdit *>(w))
            QCOMPARE(edit->text(), QString());
    };
    for (const auto &b : layout::kAxisLabels)
        check(b);
    check(layout::kPicture);
    for (const auto &b : layout::kGroups)
        check(b);
    for (const auto &b : layout::kGroupLabels)
        check(b);
    for (const auto &b : layout::kFields)
        check(b);
    for (const auto &b : layout::kReadouts)
        check(b);
    check(layout::kPortPanel);
    for (const auto &b : layout::kPortOptions)
        check(b);
    for (const auto &b : layout::kPortButtons)
        check(b);
    // Spot checks of the tables themselves.
    QCOMPARE(f.findChild<QLabel *>("Label15")->text(), QStringLiteral("        REFLOW    PROFILE"));
    QCOMPARE(f.findChild<QLabel *>("Label31")->text(), QStringLiteral("500  S"));
    QCOMPARE(f.findChild<QLabel *>("Label24")->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignRight);
    QCOMPARE(f.findChild<QLabel *>("Label23")->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
    QCOMPARE(f.findChild<QLineEdit *>("Text4")->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
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
    QCOMPARE(items, (QStringList{"openfile=Open(&O)", "savefile=Save(&S)", "printpaper=Print(&P)",
                                 "invar=-", "exit=Exit(&X)", "selectport=Port Select(&P)",
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
}

// Paints of one widget, with the text it showed.
class PaintLog : public QObject
{
public:
    explicit PaintLog(QLineEdit *field) : m_field(field) { field->installEventFilter(this); }
    bool eventFilter(QObject *, QEvent *e) override
    {
        if (e->type() == QEvent::Paint)
            shown.append(m_field->text());
        return false;
    }
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
    QSet<QRgb> colours;
    for (int y = 0; y < copied.height(); ++y)
        for (int x = 0; x < copied.width(); ++x)
            colours.insert(copied.pixel(x, y));
    QVERIFY(colours.size() > 2); // a frame and its caption, not an empty picture
    QCOMPARE(copied, drawn);
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
    connect(&frames, &QTimer::timeout, [&] { peer.write(QByteArray("\x00\x64\x64", 3)); });
    peer.onReceive([&](unsigned char b) {
        sent.append(char(b));
        if (wait == u"run" && b >= 1 && b <= 6)
            peer.write(QByteArray(1, char(100 + b))); // a controller that answers and runs
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
