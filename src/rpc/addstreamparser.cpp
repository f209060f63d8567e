#include "addstreamparser.h"

#include <QJsonDocument>
#include <QJsonParseError>
#include <QJsonValue>

AddEntry addEntryFromObject(const QJsonObject& object)
{
    AddEntry entry;
    entry.name = object.value(QLatin1String("Name")).toString();
    entry.hash = object.value(QLatin1String("Hash")).toString();
    bool ok = false;
    const qint64 size = object.value(QLatin1String("Size")).toString().toLongLong(&ok, 10);
    entry.size = ok ? size : 0;
    return entry;
}

AddStreamLine parseAddStreamLine(const QByteArray& line)
{
    AddStreamLine result;
    const QByteArray trimmed = line.trimmed();
    if (trimmed.isEmpty())
        return result;
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(trimmed, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject())
        return result;
    const QJsonObject object = document.object();

    const QString error = object.value(QLatin1String("Error")).toString().trimmed();
    if (!error.isEmpty()) {
        result.kind = AddStreamLine::Error;
        result.error = error;
        return result;
    }
    result.entry = addEntryFromObject(object);
    if (!result.entry.hash.isEmpty())
        result.kind = AddStreamLine::Entry;
    return result;
}

QList<AddStreamLine> takeAddStreamLines(QByteArray& buffer)
{
    QList<AddStreamLine> lines;
    qsizetype start = 0;
    for (qsizetype newline = buffer.indexOf('\n'); newline >= 0; newline = buffer.indexOf('\n', start)) {
        AddStreamLine line
            = parseAddStreamLine(QByteArray::fromRawData(buffer.constData() + start, newline - start));
        if (line.kind != AddStreamLine::Ignored)
            lines.append(std::move(line));
        start = newline + 1;
    }
    buffer.remove(0, start);
    return lines;
}
