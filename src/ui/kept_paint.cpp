#include "kept_paint.h"

#include <QApplication>
#include <QPaintEvent>
#include <QPainter>
#include <QStyleFactory>
#include <QStyleOption>
#include <QTimer>

#include <algorithm>
#include <cmath>

KeptPanelStyle::KeptPanelStyle() : QProxyStyle(QStyleFactory::create(QApplication::style()->name())) {}

void KeptPanelStyle::drawPrimitive(PrimitiveElement element,
                                   const QStyleOption *option,
                                   QPainter *painter,
                                   const QWidget *widget) const
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

bool KeptPanelStyle::onWholePixels(const QTransform &t, qreal ratio, const QRect &rect)
{
    const QRectF at = t.mapRect(QRectF(rect));
    const auto whole = [](qreal v) { return v == std::round(v); };
    return t.type() <= QTransform::TxScale && t.m11() == ratio && t.m22() == ratio && whole(at.left())
           && whole(at.top()) && whole(at.width()) && whole(at.height());
}

void StillGroupBox::paintEvent(QPaintEvent *event)
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

void StillGroupBox::changeEvent(QEvent *event)
{
    m_picture = QPixmap(); // style, palette, font or state changed
    QGroupBox::changeEvent(event);
}

void StillGroupBox::takePicture()
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
