#include "elidedlabel.h"

#include "displaytext.h"

#include <QFontMetrics>
#include <QHelpEvent>
#include <QPainter>
#include <QStyle>
#include <QToolTip>

namespace {

// A label asks for room for this many average characters at most; it takes more when its row has it.
constexpr int kHintChars = 40;

// Only this much of a text can ever be seen on one line; the rest is never laid out.
QString oneLineSource(const QString& text, qsizetype maxChars)
{
    QString line = text.left(maxChars);
    line.replace(QLatin1String("\r\n"), QLatin1String(" "));
    for (QChar& character : line) {
        if (character == QLatin1Char('\n') || character == QLatin1Char('\r')
            || character == QLatin1Char('\t'))
            character = QLatin1Char(' ');
    }
    return line;
}

} // namespace

ElidedLine elideToWidth(const QString& text, const QFont& font, int width)
{
    ElidedLine shown;
    if (text.isEmpty())
        return shown;
    const QString source = oneLineSource(text, kMaxShownLineChars);
    shown.text = QFontMetrics(font).elidedText(source, Qt::ElideRight, qMax(width, 0));
    shown.cut = shown.text != source || source.size() < text.size();
    return shown;
}

ElidedLabel::ElidedLabel(const QString& text, QWidget* parent)
    : QLabel(text, parent)
{
    setTextFormat(Qt::PlainText);
    setWordWrap(false);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

ElidedLine ElidedLabel::shownLine() const
{
    return elideToWidth(text(), font(), textArea().width());
}

QRect ElidedLabel::textArea() const
{
    const int edge = margin();
    return contentsRect().adjusted(edge, edge, -edge, -edge);
}

QSize ElidedLabel::withMargins(int textWidth) const
{
    const QMargins frame = contentsMargins();
    return QSize(textWidth + frame.left() + frame.right() + 2 * margin(),
        fontMetrics().height() + frame.top() + frame.bottom() + 2 * margin());
}

QSize ElidedLabel::sizeHint() const
{
    const QFontMetrics metrics = fontMetrics();
    const int cap = kHintChars * metrics.averageCharWidth();
    return withMargins(qMin(metrics.horizontalAdvance(oneLineSource(text(), 2 * kHintChars)), cap));
}

QSize ElidedLabel::minimumSizeHint() const
{
    return withMargins(3 * fontMetrics().horizontalAdvance(QChar(0x2026)));
}

bool ElidedLabel::event(QEvent* event)
{
    if (event->type() == QEvent::ToolTip && shownLine().cut) {
        QToolTip::showText(static_cast<QHelpEvent*>(event)->globalPos(), plainToolTip(text()), this);
        return true;
    }
    return QLabel::event(event);
}

void ElidedLabel::paintEvent(QPaintEvent* event)
{
    const ElidedLine line = shownLine();
    // A text that fits is drawn by the label itself, which keeps a selection visible.
    if (!line.cut && !text().contains(QLatin1Char('\n'))) {
        QLabel::paintEvent(event);
        return;
    }
    QPainter painter(this);
    drawFrame(&painter);
    style()->drawItemText(&painter, textArea(), int(QStyle::visualAlignment(layoutDirection(), alignment())),
        palette(), isEnabled(), line.text, foregroundRole());
}
