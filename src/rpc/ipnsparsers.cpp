#include "ipnsparsers.h"

#include <QJsonArray>
#include <QJsonValue>

QString ipnsPublishPath(const QString& path)
{
    const QString trimmed = path.trimmed();
    if (trimmed.isEmpty() || trimmed.startsWith(QLatin1String("/ipfs/"))
        || trimmed.startsWith(QLatin1String("/ipns/")))
        return trimmed;
    return QStringLiteral("/ipfs/%1").arg(trimmed);
}

QString ipnsPublishKey(const QString& key)
{
    const QString trimmed = key.trimmed();
    return trimmed.isEmpty() ? QStringLiteral("self") : trimmed;
}

QString ipnsResolveName(const QString& name)
{
    const QString trimmed = name.trimmed();
    if (trimmed.isEmpty() || trimmed.startsWith(QLatin1String("/ipns/")))
        return trimmed;
    return QStringLiteral("/ipns/%1").arg(trimmed);
}

QList<IpnsKeyEntry> parseIpnsKeys(const QJsonObject& reply)
{
    QList<IpnsKeyEntry> keys;
    const QJsonArray array = reply.value(QLatin1String("Keys")).toArray();
    for (const QJsonValue& value : array) {
        if (!value.isObject())
            continue;
        const QJsonObject object = value.toObject();
        IpnsKeyEntry entry;
        entry.name = object.value(QLatin1String("Name")).toString().trimmed();
        entry.id = object.value(QLatin1String("Id")).toString().trimmed();
        if (!entry.name.isEmpty())
            keys.append(entry);
    }
    return keys;
}

IpnsPublishResult parseIpnsPublishResult(const QJsonObject& reply, const QString& key)
{
    IpnsPublishResult result;
    result.key = key;
    result.name = reply.value(QLatin1String("Name")).toString().trimmed();
    result.value = reply.value(QLatin1String("Value")).toString().trimmed();
    return result;
}

IpnsResolveResult parseIpnsResolveResult(const QJsonObject& reply, const QString& name)
{
    IpnsResolveResult result;
    result.name = name;
    result.path = reply.value(QLatin1String("Path")).toString().trimmed();
    return result;
}
