#pragma once
// Captions in a size that fits their boxes. The layout fixes the boxes in
// twips; a fallback face, or a larger system font, may be wider than the face
// the layout was drawn for.
#include <QFont>
#include <QString>

class QWidget;

namespace captions {

// The smallest size a caption is shrunk to.
inline constexpr double kSmallestPoints = 6.0;

// Pixels the caption covers, its ink included where that reaches past the
// advance.
[[nodiscard]] int inkWidth(const QFont &font, const QString &caption);
// Pixels of width the widget gives its caption in the given font.
[[nodiscard]] int captionRoom(const QWidget *w, const QFont &font);
// The font asked for, made smaller in half points until the caption fits.
[[nodiscard]] QFont fittingFont(const QWidget *w, QFont font, const QString &caption);
// The caption a label, group box or button shows; empty for other widgets.
[[nodiscard]] QString captionOf(const QWidget *w);
// Every caption below the widget in a size that fits its box.
void fitCaptions(QWidget *client);

} // namespace captions
