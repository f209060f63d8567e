#include "endpointinput.h"

#include <QHostAddress>
#include <QRegularExpression>
#include <QUrl>

namespace {

QString hostError()
{
    return QStringLiteral("The host must be a name or an IP address such as 127.0.0.1, or a URL such as "
                          "http://127.0.0.1:5001.");
}

EndpointInput refused(const QString& error)
{
    EndpointInput input;
    input.error = error;
    return input;
}

// A host as the request URL will carry it: letters, digits, dots, hyphens, or an IP address.
bool isValidHost(const QString& host)
{
    if (host.isEmpty())
        return false;
    QUrl url;
    url.setScheme(QStringLiteral("http"));
    url.setHost(host, QUrl::StrictMode);
    return url.isValid() && !url.host().isEmpty();
}

// Digits only, so that "+5001" or " 5001" are refused as a node address would be.
int parsePort(const QString& text)
{
    if (text.isEmpty() || text.size() > 5)
        return -1;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return -1;
    }
    const int port = text.toInt();
    return port >= 1 && port <= 65535 ? port : -1;
}

EndpointInput fromHostAndPort(QString host, const QString& portText)
{
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    const bool bracketsLeft = host.contains(QLatin1Char('[')) || host.contains(QLatin1Char(']'));
    const bool ipv6 = host.contains(QLatin1Char(':'));
    if (bracketsLeft || (ipv6 && QHostAddress(host).protocol() != QAbstractSocket::IPv6Protocol)
        || !isValidHost(host))
        return refused(hostError());
    EndpointInput input;
    input.host = ipv6 ? host : QUrl(QStringLiteral("http://") + host).host();
    if (!portText.isNull()) {
        input.port = parsePort(portText);
        if (input.port < 0)
            return refused(endpointPortError());
    }
    return input;
}

// "[v6]:port" or "name:port"; several colons without brackets are an IPv6 address alone.
int portColon(const QString& authority)
{
    if (authority.startsWith(QLatin1Char('['))) {
        const int close = int(authority.indexOf(QLatin1String("]:")));
        return close < 0 ? -1 : close + 1;
    }
    return authority.count(QLatin1Char(':')) == 1 ? int(authority.indexOf(QLatin1Char(':'))) : -1;
}

EndpointInput fromAuthority(const QString& authority)
{
    const int colon = portColon(authority);
    if (colon < 0)
        return fromHostAndPort(authority, QString());
    return fromHostAndPort(authority.left(colon), authority.mid(colon + 1));
}

EndpointInput fromUrl(const QString& text)
{
    const int schemeEnd = int(text.indexOf(QLatin1String("://")));
    const QString scheme = text.left(schemeEnd).toLower();
    if (scheme == QLatin1String("https"))
        return refused(
            QStringLiteral("The node's RPC API is reached over plain HTTP: use an http:// address."));
    if (scheme != QLatin1String("http"))
        return refused(hostError());

    // The authority ends at the path, query or fragment; those name a page of the node, not the node.
    QString authority = text.mid(schemeEnd + 3);
    if (authority.contains(QLatin1String("://")))
        return refused(hostError()); // a scheme pasted after one already typed
    const int authorityEnd = int(authority.indexOf(QRegularExpression(QStringLiteral("[/?#]"))));
    if (authorityEnd >= 0)
        authority.truncate(authorityEnd);
    if (authority.contains(QLatin1Char('@')))
        return refused(QStringLiteral("A user name or password in the address is not supported."));

    EndpointInput input = fromAuthority(authority);
    if (input.error.isEmpty() && input.port == 0)
        input.port = 80; // what the URL means without a port
    return input;
}

} // namespace

QString endpointPortError()
{
    return QStringLiteral("The port must be a whole number from 1 to 65535.");
}

EndpointInput parseEndpointInput(const QString& text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return {};
    if (trimmed.contains(QLatin1String("://")))
        return fromUrl(trimmed);
    if (trimmed.contains(QLatin1Char('/')))
        return refused(hostError());
    return fromAuthority(trimmed);
}
