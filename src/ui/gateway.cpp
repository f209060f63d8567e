#include "gateway.h"

namespace {

// A CID or name as path segments below the gateway's namespace, each percent-encoded on its own:
// '?', '#', '%', '\' and '@' stay part of the path, and "." or ".." segments, which a browser
// would climb out of the namespace with, are left out. Nothing in it can reach the host or scheme.
QString encodedContentPath(const QString& namespaceRoot, const QString& rest)
{
    QString path = namespaceRoot;
    const QStringList segments = rest.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    bool first = true;
    for (const QString& segment : segments) {
        if (segment == QLatin1String(".") || segment == QLatin1String(".."))
            continue;
        if (!first)
            path += QLatin1Char('/');
        path += QString::fromLatin1(QUrl::toPercentEncoding(segment));
        first = false;
    }
    return path;
}

QUrl publicGatewayUrl(const QString& namespaceRoot, const QString& rest)
{
    QUrl url(QString(kPublicGatewayBaseUrl), QUrl::StrictMode);
    url.setPath(url.path(QUrl::FullyEncoded) + encodedContentPath(namespaceRoot, rest), QUrl::StrictMode);
    return url;
}

} // namespace

QUrl publicIpfsUrl(const QString& cid)
{
    return publicGatewayUrl(QStringLiteral("/ipfs/"), cid);
}

QUrl publicIpnsUrl(const QString& name)
{
    return publicGatewayUrl(QStringLiteral("/ipns/"), name);
}

QUrl localGatewayUrl(const QString& rpcHost, const QString& cid)
{
    QUrl url;
    url.setScheme(QStringLiteral("http"));
    // setHost brackets a literal IPv6 address itself. A host that is no host gives an invalid
    // URL, which opens nothing.
    QString host = rpcHost.trimmed();
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    url.setHost(host, QUrl::StrictMode);
    if (url.host().isEmpty())
        return QUrl();
    url.setPort(8080);
    url.setPath(encodedContentPath(QStringLiteral("/ipfs/"), cid), QUrl::StrictMode);
    return url;
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
