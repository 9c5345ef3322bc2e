#include "main_form.h"

#include "layout.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPainter>
#include <QProxyStyle>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStyle>
#include <QStyleFactory>
#include <QStyleOptionButton>
#include <QStyleOptionGroupBox>

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

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

// The smallest size a caption is shrunk to.
constexpr double kSmallestPoints = 6.0;

// Pixels the caption covers, its ink included where that reaches past the
// advance.
int inkWidth(const QFont &font, const QString &caption)
{
    const QFontMetrics fm(font);
    return std::max(fm.horizontalAdvance(caption), fm.boundingRect(caption).width());
}

// Pixels of width the widget gives its caption in the given font: where the
// label, the option button or the push button draws it, or the group box's
// frame less the title's indent on both sides.
int captionRoom(const QWidget *w, const QFont &font)
{
    const QStyle *style = w->style();
    if (const auto *label = qobject_cast<const QLabel *>(w)) {
        int room = label->contentsRect().width() - 2 * label->margin();
        int indent = label->indent();
        if (indent < 0 && label->frameWidth() > 0)
            indent = QFontMetrics(font).horizontalAdvance(u'x') / 2;
        if (indent > 0 && (label->alignment() & (Qt::AlignLeft | Qt::AlignRight)))
            room -= indent;
        return room;
    }
    if (const auto *box = qobject_cast<const QGroupBox *>(w)) {
        QStyleOptionGroupBox opt;
        opt.initFrom(box);
        opt.fontMetrics = QFontMetrics(font);
        opt.text = box->title();
        opt.textAlignment = box->alignment();
        opt.lineWidth = 1;
        opt.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
        const QRect title = style->subControlRect(QStyle::CC_GroupBox, &opt, QStyle::SC_GroupBoxLabel, box);
        return box->width() - 2 * std::max(0, title.left());
    }
    if (const auto *button = qobject_cast<const QAbstractButton *>(w)) {
        QStyleOptionButton opt;
        opt.initFrom(button);
        opt.fontMetrics = QFontMetrics(font);
        opt.text = button->text();
        const bool option = qobject_cast<const QRadioButton *>(w) != nullptr;
        return style
                ->subElementRect(option ? QStyle::SE_RadioButtonContents : QStyle::SE_PushButtonContents,
                                 &opt, button)
                .width();
    }
    return w->width();
}

// The font asked for, made smaller in half points until the caption fits the
// widget. The layout fixes the boxes in twips; a fallback face, or a larger
// system font, may be wider than the face the layout was drawn for.
QFont fittingFont(const QWidget *w, QFont font, const QString &caption)
{
    double points = font.pointSizeF();
    if (points <= 0 || caption.isEmpty())
        return font;
    font.setPointSizeF(points); // held by the widget, not inherited from a parent that shrank
    while (points > kSmallestPoints && inkWidth(font, caption) > captionRoom(w, font)) {
        points -= 0.5;
        font.setPointSizeF(points);
    }
    return font;
}

QString captionOf(const QWidget *w)
{
    if (const auto *label = qobject_cast<const QLabel *>(w))
        return label->text();
    if (const auto *box = qobject_cast<const QGroupBox *>(w))
        return box->title();
    if (const auto *button = qobject_cast<const QAbstractButton *>(w))
        return button->text();
    return QString();
}

// Every caption of the window in a size that fits its box. The fonts are all
// taken before any is changed, since a group box passes its font on.
void fitCaptions(QWidget *client)
{
    std::vector<std::pair<QWidget *, QFont>> asked;
    for (QWidget *w : client->findChildren<QWidget *>())
        if (!captionOf(w).isEmpty())
            asked.emplace_back(w, w->font());
    for (auto &[w, font] : asked)
        w->setFont(fittingFont(w, font, captionOf(w)));
}
// The fields' style: the application's own, except that a field's panel and
// frame are drawn once for each size, state and palette and then copied. The
// temperature field repaints at every presentation of a run, and the style
// strokes the frame's rounded outline afresh each time, which costs more than
// the field's text.
class KeptPanelStyle : public QProxyStyle
{
public:
    // A style of its own: a proxy takes over the style it wraps.
    KeptPanelStyle() : QProxyStyle(QStyleFactory::create(QApplication::style()->name())) {}

    void drawPrimitive(PrimitiveElement element,
                       const QStyleOption *option,
                       QPainter *painter,
                       const QWidget *widget) const override
    {
        const auto *frame = qstyleoption_cast<const QStyleOptionFrame *>(option);
        const qreal ratio = painter->device()->devicePixelRatioF();
        if (element != PE_PanelLineEdit || !frame || option->rect.isEmpty()
            || !onWholePixels(painter->deviceTransform(), ratio, option->rect)) {
            QProxyStyle::drawPrimitive(element, option, painter, widget);
            return;
        }
        const Key key{option->rect.size(),
                      uint(option->state),
                      option->palette.cacheKey(),
                      frame->lineWidth,
                      uint(frame->features),
                      option->direction,
                      ratio};
        auto kept = std::find_if(m_panels.begin(), m_panels.end(),
                                 [&key](const auto &p) { return p.first == key; });
        if (kept == m_panels.end()) {
            if (m_panels.size() >= 64)
                m_panels.clear(); // palettes or sizes that keep changing
            QPixmap panel((QSizeF(key.size) * ratio).toSize());
            panel.setDevicePixelRatio(ratio);
            panel.fill(Qt::transparent);
            QStyleOptionFrame at(*frame);
            at.rect.moveTopLeft(QPoint(0, 0));
            QPainter p(&panel);
            QProxyStyle::drawPrimitive(element, &at, &p, widget);
            p.end();
            kept = m_panels.insert(m_panels.end(), {key, panel});
        }
        painter->drawPixmap(option->rect.topLeft(), kept->second);
    }

private:
    // A picture copied between device pixels (fractional scaling) or scaled
    // would not be the panel the style draws there.
    static bool onWholePixels(const QTransform &t, qreal ratio, const QRect &rect)
    {
        const QRectF at = t.mapRect(QRectF(rect));
        const auto whole = [](qreal v) { return v == std::round(v); };
        return t.type() <= QTransform::TxScale && t.m11() == ratio && t.m22() == ratio && whole(at.left())
               && whole(at.top()) && whole(at.width()) && whole(at.height());
    }

    struct Key
    {
        QSize size;
        uint state;
        qint64 palette;
        int lineWidth;
        uint features;
        Qt::LayoutDirection direction;
        qreal ratio;
        bool operator==(const Key &) const = default;
    };
    mutable std::vector<std::pair<Key, QPixmap>> m_panels;
};

// A group box that paints itself once and then copies that picture: the
// readouts lie over group boxes and are not opaque, so every repaint of a
// readout repaints the box under it, and the style draws a group box frame
// from an image it looks up by name each time.
class StillGroupBox : public QGroupBox
{
public:
    using QGroupBox::QGroupBox;

protected:
    void paintEvent(QPaintEvent *event) override
    {
        const qreal ratio = devicePixelRatioF();
        if (m_drawing || m_picture.isNull() || m_picture.deviceIndependentSize() != QSizeF(size())
            || m_picture.devicePixelRatio() != ratio) {
            QGroupBox::paintEvent(event);
            if (!m_drawing && !m_pending) { // a widget cannot render itself while painting
                m_pending = true;
                QTimer::singleShot(0, this, [this] { takePicture(); });
            }
            return;
        }
        QPainter painter(this);
        const QRectF r(event->rect());
        painter.drawPixmap(r, m_picture, QRectF(r.topLeft() * ratio, r.size() * ratio));
    }
    void changeEvent(QEvent *event) override
    {
        m_picture = QPixmap(); // style, palette, font or state changed
        QGroupBox::changeEvent(event);
    }

private:
    void takePicture()
    {
        m_pending = false;
        const qreal ratio = devicePixelRatioF();
        QPixmap picture(size() * ratio);
        picture.setDevicePixelRatio(ratio);
        picture.fill(Qt::transparent);
        m_drawing = true;
        render(&picture, QPoint(), QRegion(), QWidget::RenderFlags());
        m_drawing = false;
        m_picture = picture;
    }

    QPixmap m_picture;
    bool m_drawing = false;
    bool m_pending = false;
};

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

ChartView::ChartView(QWidget *parent, int widthTwips, int heightTwips, double dpi, qreal devicePixelRatio)
    : QWidget(parent), m_chart(widthTwips, heightTwips, dpi, devicePixelRatio)
{
    setAttribute(Qt::WA_StaticContents);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void ChartView::clear()
{
    m_chart.clear();
    refresh();
}

void ChartView::drawLine(float x1, float y1, float x2, float y2, QColor colour)
{
    m_chart.drawLine(x1, y1, x2, y2, colour);
    // Only the first line since the last presentation asks for one; the rest
    // join it as one rectangle when it comes. A region update per line cost
    // more than the line (the grid is dozens of them, redrawn per reading at
    // the start of a run).
    if (!m_presentationAsked) {
        m_presentationAsked = true;
        refresh();
    }
}

void ChartView::takeDrawn()
{
    m_presentationAsked = false;
    refresh();
}

void ChartView::refresh()
{
    const QRect dirty = m_chart.takeDirty();
    if (dirty.isEmpty())
        return;
    const qreal r = m_chart.devicePixelRatio();
    update(QRectF(dirty.x() / r, dirty.y() / r, dirty.width() / r, dirty.height() / r)
                   .toAlignedRect()
                   .adjusted(-1, -1, 1, 1));
}

void ChartView::paintEvent(QPaintEvent *event)
{
    if (m_presentationAsked)
        takeDrawn(); // painted before a presentation (shown, uncovered): the rest still comes
    QPainter painter(this);
    const QRect r = event->rect();
    const qreal ratio = m_chart.devicePixelRatio();
    const QRectF source(r.x() * ratio, r.y() * ratio, r.width() * ratio, r.height() * ratio);
    painter.fillRect(r, Qt::white);
    painter.drawImage(QRectF(r), m_chart.image(), source);
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

    auto place = [this](QWidget *w, const layout::Box &b) {
        w->setObjectName(QString::fromLatin1(b.name));
        w->setGeometry(twips(b.left), twips(b.top), twips(b.width), twips(b.height));
    };

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

    const QFont fieldFont = systemBoldFont();
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

    m_portPanel = new QGroupBox(QString::fromUtf8(layout::kPortPanel.caption), m_picture);
    place(m_portPanel, layout::kPortPanel);
    m_portPanel->setAutoFillBackground(true);
    for (const layout::Box &b : layout::kPortOptions) {
        auto *option = new QRadioButton(QString::fromUtf8(b.caption), m_portPanel);
        place(option, b);
        (QLatin1StringView(b.name) == QLatin1StringView("COM1") ? m_com1 : m_com2) = option;
    }
    m_com1->setChecked(true);
    for (const layout::Box &b : layout::kPortButtons) {
        auto *button = new QPushButton(QString::fromUtf8(b.caption), m_portPanel);
        place(button, b);
        button->setAutoDefault(false);
        const QString name = QString::fromLatin1(b.name);
        connect(button, &QPushButton::clicked, this, [this, name] { route(name); });
    }

    fitCaptions(client);
    m_readoutFont = fieldFont;

    m_fields[0]->setFocus();
    QIcon icon;
    icon.addFile(QStringLiteral(":/orvalen/icon32.png"), QSize(32, 32));
    icon.addFile(QStringLiteral(":/orvalen/icon16.png"), QSize(16, 16));
    setWindowIcon(icon);
    adjustSize();
    setFixedSize(sizeHint());
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
            const QString name = QString::fromLatin1(item.name);
            QAction *action = QLatin1StringView(item.caption) == QLatin1StringView("-")
                                      ? menu->addSeparator()
                                      : menu->addAction(QString::fromUtf8(item.caption));
            action->setObjectName(name);
            if (!action->isSeparator())
                connect(action, &QAction::triggered, this, [this, name] { route(name); });
        }
    }
}

namespace {

// Which command each menu item and button of the layout runs.
struct Route
{
    const char *name;
    std::function<void()> MainForm::Commands::*command;
};
const Route kRoutes[] = {
        {"openfile", &MainForm::Commands::openfile},
        {"savefile", &MainForm::Commands::savefile},
        {"printpaper", &MainForm::Commands::printpaper},
        {"exit", &MainForm::Commands::exit},
        {"selectport", &MainForm::Commands::selectport},
        {"to8031", &MainForm::Commands::to8031},
        {"getcanshu", &MainForm::Commands::getcanshu},
        {"stopcomm", &MainForm::Commands::stopcomm},
        {"from8031", &MainForm::Commands::from8031},
        {"stop", &MainForm::Commands::stop},
        {"yes", &MainForm::Commands::yes},
        {"cancel", &MainForm::Commands::cancel},
};

const Route *routeOf(const QString &name)
{
    for (const Route &r : kRoutes)
        if (name == QLatin1StringView(r.name))
            return &r;
    return nullptr;
}

} // namespace

bool MainForm::routes(const QString &name) const
{
    const Route *r = routeOf(name);
    return r && m_commands.*(r->command);
}

void MainForm::route(const QString &name)
{
    if (const Route *r = routeOf(name); r && m_commands.*(r->command))
        (m_commands.*(r->command))();
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
    readout->setFont(fittingFont(readout, m_readoutFont, text));
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
