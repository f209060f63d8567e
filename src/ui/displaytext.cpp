#include "displaytext.h"

#include <QStringView>
#include <QTextDocument>

QString clipLongLines(const QString& text, int maxLineChars)
{
    if (text.size() <= maxLineChars)
        return text;
    const QStringView all(text);
    QString clipped;
    clipped.reserve(qMin<qsizetype>(text.size(), 1 << 20));
    qsizetype start = 0;
    while (true) {
        qsizetype end = text.indexOf(QLatin1Char('\n'), start);
        if (end < 0)
            end = text.size();
        if (end - start > maxLineChars) {
            clipped += all.mid(start, maxLineChars);
            clipped += QChar(0x2026);
        } else {
            clipped += all.mid(start, end - start);
        }
        if (end == text.size())
            return clipped;
        clipped += QLatin1Char('\n');
        start = end + 1;
    }
}

QString hintTextStyle()
{
    return QStringLiteral("color: #ababab;");
}

QString errorTextStyle()
{
    return QStringLiteral("color: #ff8a80;");
}

QString plainToolTip(const QString& text)
{
    if (text.isEmpty())
        return QString();
    QString shown = text;
    qsizetype lineBreaks = 0;
    for (qsizetype at = 0; at < shown.size(); ++at) {
        if (shown.at(at) == QLatin1Char('\n') && ++lineBreaks == kMaxToolTipLines) {
            shown.truncate(at);
            shown += QStringLiteral("\n\u2026");
            break;
        }
    }
    return Qt::convertFromPlainText(clipLongLines(shown), Qt::WhiteSpaceNormal);
}

QMessageBox::StandardButton showPlainMessage(QWidget* parent, QMessageBox::Icon icon, const QString& title,
    const QString& text, QMessageBox::StandardButtons buttons)
{
    QMessageBox box(icon, title, QString(), buttons, parent);
    box.setTextFormat(Qt::PlainText);
    box.setText(clipLongLines(text));
    return QMessageBox::StandardButton(box.exec());
}
