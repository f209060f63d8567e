#include "refsparser.h"

#include "streamlines.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

using namespace Qt::StringLiterals;

namespace {

// The trimmed text of a line as a JSON object, or nothing. Only a text that opens with a brace
// can be an object, which spares the parser the plain-text lines.
bool lineAsObject(const QString& text, QJsonObject* object)
{
    if (!text.startsWith(u'{'))
        return false;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return false;
    *object = document.object();
    return true;
}

} // namespace

QString parseRefsLocalLine(const QByteArray& line)
{
    const QString text = QString::fromUtf8(line).trimmed();
    if (text.isEmpty())
        return {};
    QJsonObject object;
    if (lineAsObject(text, &object) && object.contains("Ref"_L1))
        return object.value("Ref"_L1).toString();
    if (text.startsWith("Qm"_L1) || text.startsWith("ba"_L1))
        return text;
    return {};
}

QString parseRefsLine(const QByteArray& line)
{
    const QString text = QString::fromUtf8(line).trimmed();
    QJsonObject object;
    if (text.isEmpty() || !lineAsObject(text, &object))
        return {};
    if (object.contains("Ref"_L1))
        return object.value("Ref"_L1).toString();
    const QJsonValue cid = object.value("Cid"_L1);
    if (cid.isString())
        return cid.toString();
    if (cid.isObject())
        return cid.toObject().value("/"_L1).toString();
    return {};
}

QStringList parseRefsReply(const QByteArray& body)
{
    QStringList refs;
    forEachBodyLine(body, [&refs](const QByteArray& line) {
        const QString ref = parseRefsLine(line);
        if (!ref.isEmpty())
            refs.append(ref);
    });
    return refs;
}

QString refsWalkError(const QByteArray& body)
{
    QString error;
    forEachBodyLine(body, [&error](const QByteArray& line) {
        if (!error.isEmpty() || !line.contains("\"Err\""))
            return;
        QJsonObject object;
        if (lineAsObject(QString::fromUtf8(line).trimmed(), &object))
            error = object.value("Err"_L1).toString().trimmed();
    });
    return error;
}
