#include "displaytext.h"

#include <QStringView>

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
