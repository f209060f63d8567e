#include "gateway.h"

QUrl publicIpfsUrl(const QString& cid)
{
    return QUrl(kPublicGatewayBaseUrl + QLatin1String("/ipfs/") + cid, QUrl::TolerantMode);
}

QUrl publicIpnsUrl(const QString& name)
{
    return QUrl(kPublicGatewayBaseUrl + QLatin1String("/ipns/") + name, QUrl::TolerantMode);
}

QUrl localGatewayUrl(const QString& rpcHost, const QString& cid)
{
    // A literal IPv6 address needs brackets in a URL, or the port would be read as part of it.
    QString host = rpcHost;
    if (host.contains(QLatin1Char(':')) && !host.startsWith(QLatin1Char('[')))
        host = QLatin1Char('[') + host + QLatin1Char(']');
    return QUrl(QStringLiteral("http://%1:8080/ipfs/%2").arg(host, cid), QUrl::TolerantMode);
}

QString rpcHostFromBaseUrl(const QString& baseUrl)
{
    QString rest = baseUrl;
    if (rest.startsWith(QLatin1String("http://")))
        rest.remove(0, 7);
    if (rest.endsWith(QLatin1String("/api/v0")))
        rest.chop(7);
    // The host is stored unbracketed, so the port is whatever follows the last colon.
    const qsizetype colon = rest.lastIndexOf(QLatin1Char(':'));
    return colon < 0 ? rest : rest.left(colon);
}
