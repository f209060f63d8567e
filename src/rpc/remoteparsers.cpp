#include "remoteparsers.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QStringList>

namespace {

bool parseObject(const QByteArray& body, QJsonObject& object)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(body, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject())
        return false;
    object = document.object();
    return true;
}

// Field names differ between node versions and services; the first non-empty one wins.
QString firstNonEmptyString(const QJsonObject& object, const QStringList& keys)
{
    for (const QString& key : keys) {
        const QString value = object.value(key).toString().trimmed();
        if (!value.isEmpty())
            return value;
    }
    return {};
}

QJsonArray serviceArrayOf(const QJsonObject& object)
{
    const QJsonValue services = object.value(QLatin1String("RemoteServices"));
    if (services.isArray())
        return services.toArray();
    const QJsonValue wrapped = object.value(QLatin1String("RemoteServiceLsOutput"));
    if (wrapped.isObject())
        return wrapped.toObject().value(QLatin1String("RemoteServices")).toArray();
    const QJsonValue plain = object.value(QLatin1String("Services"));
    if (plain.isArray())
        return plain.toArray();
    return {};
}

QJsonArray pinArrayOf(const QJsonObject& object)
{
    const QJsonValue pins = object.value(QLatin1String("Pins"));
    if (pins.isArray())
        return pins.toArray();
    const QJsonValue wrapped = object.value(QLatin1String("RemotePinLsOutput"));
    if (wrapped.isObject())
        return wrapped.toObject().value(QLatin1String("Pins")).toArray();
    return {};
}

// "Cid" is a plain string or the JSON link form {"/": "<cid>"}.
QString pinCidOf(const QJsonObject& pin)
{
    const QJsonValue cid = pin.value(QLatin1String("Cid"));
    if (cid.isString())
        return cid.toString().trimmed();
    if (cid.isObject())
        return cid.toObject().value(QLatin1String("/")).toString().trimmed();
    return {};
}

} // namespace

QString remoteReplyErrorText(const QByteArray& body)
{
    QJsonObject object;
    if (!parseObject(body, object))
        return {};
    return object.value(QLatin1String("Error")).toString().trimmed();
}

RemoteServicesReading readRemoteServicesBody(const QByteArray& body)
{
    RemoteServicesReading reading;
    QJsonObject object;
    if (!parseObject(body, object)) {
        reading.error = QStringLiteral("Remote service request failed: invalid JSON response.");
        return reading;
    }
    const QString error = object.value(QLatin1String("Error")).toString().trimmed();
    if (!error.isEmpty()) {
        reading.error = error;
        return reading;
    }

    static const QStringList nameKeys = { QStringLiteral("Service"), QStringLiteral("Name"),
        QStringLiteral("service"), QStringLiteral("name") };
    static const QStringList endpointKeys = { QStringLiteral("ApiEndpoint"), QStringLiteral("Endpoint"),
        QStringLiteral("apiEndpoint"), QStringLiteral("endpoint") };
    for (const QJsonValue& element : serviceArrayOf(object)) {
        if (!element.isObject())
            continue;
        const QJsonObject service = element.toObject();
        RemoteServiceEntry entry;
        entry.name = firstNonEmptyString(service, nameKeys);
        if (entry.name.isEmpty())
            continue;
        entry.endpoint = firstNonEmptyString(service, endpointKeys);
        reading.services.append(entry);
        // With "stat" the node tries each service; "invalid" means it could not use it.
        const QString status
            = service.value(QLatin1String("Stat")).toObject().value(QLatin1String("Status")).toString();
        if (status.trimmed().compare(QLatin1String("invalid"), Qt::CaseInsensitive) == 0)
            reading.unreachable.append(entry.name);
    }
    reading.ok = true;
    return reading;
}

namespace {

// The pins of a status answer. The node streams one pin object per line; a body holding the
// list under "Pins" (or wrapped in "RemotePinLsOutput") is read as well. Fails with the
// user-facing detail when the body is neither.
bool pinsOfStatusBody(const QByteArray& body, QJsonArray& pins, QString& error)
{
    QJsonObject object;
    if (parseObject(body, object)) {
        error = object.value(QLatin1String("Error")).toString().trimmed();
        if (!error.isEmpty())
            return false;
        if (object.contains(QLatin1String("Pins")) || object.contains(QLatin1String("RemotePinLsOutput")))
            pins = pinArrayOf(object);
        else
            pins = QJsonArray { object }; // one streamed pin
        return true;
    }
    // No pin at all streams nothing.
    for (const QByteArray& line : body.split('\n')) {
        if (line.trimmed().isEmpty())
            continue;
        if (!parseObject(line, object)) {
            error = QStringLiteral("invalid JSON response.");
            return false;
        }
        error = object.value(QLatin1String("Error")).toString().trimmed();
        if (!error.isEmpty())
            return false;
        pins.append(object);
    }
    return true;
}

} // namespace

RemotePinStatusesReading readRemotePinStatusesBody(const QByteArray& body)
{
    RemotePinStatusesReading reading;
    QJsonArray pins;
    if (!pinsOfStatusBody(body, pins, reading.error))
        return reading;

    static const QStringList statusKeys = { QStringLiteral("Status"), QStringLiteral("status") };
    reading.ok = true;
    for (const QJsonValue& element : std::as_const(pins)) {
        if (!element.isObject())
            continue;
        const QJsonObject pin = element.toObject();
        const QString pinCid = pinCidOf(pin);
        if (pinCid.isEmpty() || reading.statusByCid.contains(pinCid))
            continue;
        const QString status = firstNonEmptyString(pin, statusKeys).toLower();
        reading.statusByCid.insert(pinCid, status.isEmpty() ? QStringLiteral("unknown") : status);
    }
    return reading;
}

RemotePinStatusReading readRemotePinStatusBody(const QByteArray& body, const QString& cid)
{
    const RemotePinStatusesReading all = readRemotePinStatusesBody(body);
    RemotePinStatusReading reading;
    reading.ok = all.ok;
    reading.error = all.error;
    if (all.ok)
        reading.status = all.statusByCid.value(cid, QStringLiteral("not-found"));
    return reading;
}
