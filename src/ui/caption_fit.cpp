#include "caption_fit.h"

#include <QAbstractButton>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionGroupBox>

#include <algorithm>
#include <utility>
#include <vector>

namespace captions {

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
} // namespace captions
