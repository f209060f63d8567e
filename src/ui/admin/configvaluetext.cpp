#include "configvaluetext.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QStringList>

namespace {

// Qt writes JSON only as a document; wrap the value in a one-element array and unwrap the text.
QString singleValueJson(const QJsonValue& value)
{
    const QByteArray wrapped = QJsonDocument(QJsonArray { value }).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(wrapped.mid(1, wrapped.size() - 2));
}

} // namespace

bool parseJsonValueText(const QString& text, QJsonValue* out)
{
    if (!out)
        return false;
    // Inside brackets, a text of exactly one value gives an array of one element; extra members,
    // a second value or a trailing comma do not.
    const QByteArray wrapped = QStringLiteral("[%1]").arg(text.trimmed()).toUtf8();
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(wrapped, &error);
    if (error.error != QJsonParseError::NoError || !document.isArray() || document.array().size() != 1)
        return false;
    *out = document.array().first();
    return true;
}

QString jsonValueToDisplayString(const QJsonValue& value)
{
    switch (value.type()) {
    case QJsonValue::Bool:
        return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    case QJsonValue::Double:
        return QString::number(value.toDouble(), 'g', 6);
    case QJsonValue::String:
        return value.toString();
    default:
        return {};
    }
}

QString jsonValueToCompactString(const QJsonValue& value)
{
    switch (value.type()) {
    case QJsonValue::Object:
        return QString::fromUtf8(QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact));
    case QJsonValue::Array:
        return QString::fromUtf8(QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact));
    case QJsonValue::String:
        return value.toString();
    case QJsonValue::Bool:
        return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    case QJsonValue::Double:
        return singleValueJson(value);
    case QJsonValue::Null:
        return QStringLiteral("null");
    case QJsonValue::Undefined:
        break;
    }
    return {};
}

QString jsonValueToJsonText(const QJsonValue& value)
{
    return value.isUndefined() ? QString() : singleValueJson(value);
}

bool isRiskyConfigKey(const QString& key)
{
    static const QStringList riskyPrefixes = {
        QStringLiteral("addresses.api"),
        QStringLiteral("addresses.gateway"),
        QStringLiteral("bootstrap"),
        QStringLiteral("swarm"),
        QStringLiteral("identity"),
        QStringLiteral("datastore"),
    };
    const QString k = key.trimmed().toLower();
    for (const QString& prefix : riskyPrefixes) {
        if (k == prefix || k.startsWith(prefix + QLatin1Char('.')))
            return true;
    }
    return false;
}
