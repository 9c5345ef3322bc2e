#include "main_form.h"

#include "caption_fit.h"
#include "kept_paint.h"
#include "layout.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>

#include <cmath>
#include <map>
#include <utility>

namespace {

Qt::Alignment alignment(layout::Align a)
{
    switch (a) {
    case layout::Align::Left: return Qt::AlignLeft | Qt::AlignVCenter;
    case layout::Align::Right: return Qt::AlignRight | Qt::AlignVCenter;
    case layout::Align::Centre: break;
    }
    return Qt::AlignCenter;
}

double screenDpi()
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    return screen ? screen->logicalDotsPerInch() : 96.0;
}

qreal screenRatio()
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    return screen ? screen->devicePixelRatio() : 1.0;
}

} // namespace

QFont systemBoldFont()
{
    QFont font;
    font.setFamilies({QStringLiteral("System"), QStringLiteral("DejaVu Sans"),
                      QStringLiteral("AR PL UKai CN"), QStringLiteral("Noto Sans")});
    font.setPointSize(12);
    font.setBold(true);
    return font;
}

QFont chartTitleFont()
{
    QFont font;
    font.setFamilies({QStringLiteral("楷体_GB2312"), QStringLiteral("AR PL UKai CN"),
                      QStringLiteral("AR PL UKai TW"), QStringLiteral("DejaVu Serif")});
    font.setPointSize(15);
    font.setBold(true);
    return font;
}

MainForm::MainForm(QWidget *parent) : QMainWindow(parent), m_dpi(screenDpi())
{
    setObjectName(QStringLiteral("MainForm"));
    m_presentLater.setSingleShot(true);
    m_presentLater.setTimerType(Qt::PreciseTimer);
    connect(&m_presentLater, &QTimer::timeout, this, &MainForm::present);
    setWindowTitle(QString::fromUtf8(layout::kTitle));
    buildMenus();

    auto *client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    client->setFixedSize(twips(layout::kClientWidth), twips(layout::kClientHeight));
    setCentralWidget(client);

    buildChartAndGroups(client);
    const QFont fieldFont = systemBoldFont();
    buildFields(client, fieldFont);
    buildReadouts(client, fieldFont);
    buildPortPanel();

    captions::fitCaptions(client);
    m_readoutFont = fieldFont;

    m_fields[0]->setFocus();
    QIcon icon;
    icon.addFile(QStringLiteral(":/orvalen/icon32.png"), QSize(32, 32));
    icon.addFile(QStringLiteral(":/orvalen/icon16.png"), QSize(16, 16));
    setWindowIcon(icon);
    adjustSize();
    setFixedSize(sizeHint());
}

void MainForm::place(QWidget *w, const layout::Box &b) const
{
    w->setObjectName(QString::fromLatin1(b.name));
    w->setGeometry(twips(b.left), twips(b.top), twips(b.width), twips(b.height));
}

void MainForm::buildChartAndGroups(QWidget *client)
{
    for (const layout::Box &b : layout::kAxisLabels) {
        auto *label = new QLabel(QString::fromUtf8(b.caption), client);
        label->setAlignment(alignment(b.align));
        place(label, b);
        if (QLatin1StringView(b.name) == QLatin1StringView("Label15"))
            label->setFont(chartTitleFont());
    }

    m_picture = new ChartView(client, layout::kPicture.width, layout::kPicture.height, m_dpi, screenRatio());
    place(m_picture, layout::kPicture);

    std::map<QString, QGroupBox *> groups;
    for (const layout::Box &b : layout::kGroups) {
        auto *group = new StillGroupBox(QString::fromUtf8(b.caption), client);
        place(group, b);
        groups[QString::fromLatin1(b.name)] = group;
    }
    for (const layout::Box &b : layout::kGroupLabels) {
        auto *label = new QLabel(QString::fromUtf8(b.caption), groups[QString::fromLatin1(b.parent)]);
        label->setAlignment(alignment(b.align));
        place(label, b);
    }
}

void MainForm::buildFields(QWidget *client, const QFont &fieldFont)
{
    m_fieldStyle = new KeptPanelStyle;
    m_fieldStyle->setParent(this);
    QWidget *previous = nullptr;
    for (std::size_t i = 0; i < m_fields.size(); ++i) {
        auto *field = new QLineEdit(client);
        place(field, layout::kFields[i]);
        field->setFont(fieldFont);
        field->setAlignment(Qt::AlignCenter);
        field->setTextMargins(0, 0, 0, 0);
        field->setStyle(m_fieldStyle); // before the style sheet, which draws through it
        field->setStyleSheet(QStringLiteral("QLineEdit { padding: 0px; }"));
        field->raise(); // drawn above the group boxes it lies over
        const int number = int(i) + 1;
        connect(field, &QLineEdit::textChanged, this, [this, number] {
            if (m_showing)
                return; // told when the text was set
            m_unshown[std::size_t(number - 1)].reset(); // an edit wins over an older setting
            if (m_fieldChanged)
                m_fieldChanged(number);
        });
        if (previous)
            setTabOrder(previous, field);
        previous = field;
        m_fields[i] = field;
    }
}

void MainForm::buildReadouts(QWidget *client, const QFont &fieldFont)
{
    const QColor menuColour = QApplication::palette("QMenu").color(QPalette::Window);
    for (const layout::Box &b : layout::kReadouts) {
        auto *label = new QLabel(client);
        place(label, b);
        label->setFrameStyle(QFrame::Box | QFrame::Plain);
        label->setLineWidth(1);
        label->setAlignment(Qt::AlignCenter);
        label->setFont(fieldFont);
        label->setAutoFillBackground(true);
        QPalette palette = label->palette();
        palette.setColor(QPalette::Window, menuColour);
        label->setPalette(palette);
        (QLatin1StringView(b.name) == QLatin1StringView("Label5") ? m_label5 : m_label6) = label;
    }
}

void MainForm::buildPortPanel()
{
    m_portPanel = new QGroupBox(QString::fromUtf8(layout::kPortPanel.caption), m_picture);
    place(m_portPanel, layout::kPortPanel);
    m_portPanel->setAutoFillBackground(true);
    for (const layout::Box &b : layout::kPortOptions) {
        auto *option = new QRadioButton(QString::fromUtf8(b.caption), m_portPanel);
        place(option, b);
        (QLatin1StringView(b.name) == QLatin1StringView("COM1") ? m_com1 : m_com2) = option;
    }
    m_com1->setChecked(true);
    for (const layout::Button &b : layout::kPortButtons) {
        auto *button = new QPushButton(QString::fromUtf8(b.box.caption), m_portPanel);
        place(button, b.box);
        button->setAutoDefault(false);
        connect(button, &QPushButton::clicked, this, [this, command = b.command] { route(command); });
    }
}

bool MainForm::event(QEvent *event)
{
    // Qt asks for a repaint of the window after every change; at line rate
    // that is each frame. A request within the interval of the last one is
    // held and answered once at its end, so a burst of changes is painted
    // once, with the latest of each.
    if (event->type() == QEvent::UpdateRequest) {
        if (m_presented.isValid() && m_presented.elapsed() < kPresentIntervalMs) {
            if (!m_presentLater.isActive())
                m_presentLater.start(int(kPresentIntervalMs - m_presented.elapsed()));
            return true;
        }
        beginPresentation();
    }
    return QMainWindow::event(event);
}

void MainForm::beginPresentation()
{
    m_presented.start();
    showUnshownTexts();
    if (m_picture)
        m_picture->takeDrawn();
}

void MainForm::present()
{
    beginPresentation();
    QEvent request(QEvent::UpdateRequest);
    QMainWindow::event(&request);
}

void MainForm::buildMenus()
{
    for (const layout::Menu &m : layout::kMenus) {
        QMenu *menu = menuBar()->addMenu(QString::fromUtf8(m.caption));
        menu->setObjectName(QString::fromLatin1(m.name));
        for (int i = 0; i < m.count; ++i) {
            const layout::MenuItem &item = m.items[i];
            QAction *action = QLatin1StringView(item.caption) == QLatin1StringView("-")
                                      ? menu->addSeparator()
                                      : menu->addAction(QString::fromUtf8(item.caption));
            action->setObjectName(QString::fromLatin1(item.name));
            if (item.command)
                connect(action, &QAction::triggered, this,
                        [this, command = item.command] { route(command); });
        }
    }
}

namespace {

Command commandOf(const QString &name)
{
    for (const layout::Menu &m : layout::kMenus)
        for (int i = 0; i < m.count; ++i)
            if (name == QLatin1StringView(m.items[i].name))
                return m.items[i].command;
    for (const layout::Button &b : layout::kPortButtons)
        if (name == QLatin1StringView(b.box.name))
            return b.command;
    return nullptr;
}

} // namespace

bool MainForm::routes(const QString &name) const
{
    const Command command = commandOf(name);
    return command && m_commands.*command;
}

void MainForm::route(Command command)
{
    if (m_commands.*command)
        (m_commands.*command)();
}

int MainForm::twips(int value) const { return int(std::lround(value * m_dpi / 1440.0)); }

void MainForm::centreOnScreen()
{
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
}

QString MainForm::text(Field field) const
{
    const std::size_t i = std::size_t(field) - 1;
    return m_unshown[i] ? *m_unshown[i] : m_fields[i]->text();
}

void MainForm::setText(Field field, const QString &text)
{
    const std::size_t i = std::size_t(field) - 1;
    QLineEdit *edit = m_fields[i];
    if (MainForm::text(field) == text) {
        // The line edit stays silent when nothing changes; the change handling
        // must still run so the element holds the field's text.
        if (m_fieldChanged)
            m_fieldChanged(int(field));
        return;
    }
    if (!isVisible() || edit->hasFocus()) {
        m_unshown[i].reset();
        edit->setText(text);
        return;
    }
    // Laying the text out costs more than the reading; the field takes it
    // when the window is next presented, and only the latest.
    m_unshown[i] = text;
    edit->update();
    if (m_fieldChanged)
        m_fieldChanged(int(field));
}

void MainForm::showUnshownTexts()
{
    m_showing = true;
    for (std::size_t i = 0; i < m_unshown.size(); ++i)
        if (m_unshown[i])
            m_fields[i]->setText(*std::exchange(m_unshown[i], std::nullopt));
    m_showing = false;
}

void MainForm::setCaption(Caption label, const QString &text)
{
    QLabel *readout = label == Caption::Label5 ? m_label5 : m_label6;
    if (readout->text() == text)
        return; // the monitor writes the readouts at every poll
    readout->setFont(captions::fittingFont(readout, m_readoutFont, text));
    readout->setText(text);
}

QString MainForm::caption(Caption label) const
{
    return (label == Caption::Label5 ? m_label5 : m_label6)->text();
}

bool MainForm::com1Selected() const { return m_com1->isChecked(); }
bool MainForm::com2Selected() const { return m_com2->isChecked(); }
void MainForm::setPortPanelVisible(bool visible) { m_portPanel->setVisible(visible); }

void MainForm::closeEvent(QCloseEvent *event)
{
    if (m_close)
        m_close(); // ends the program; does not come back
    event->accept();
}
