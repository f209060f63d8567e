#include "logmasking.h"

#include <QStringList>
#include <QUrl>

#include <algorithm>

namespace {

const QLatin1String kMask("***");

// Query items that are credentials whatever the command. "key" is not one of them: it names an
// IPNS key in "/name/publish" and is no secret.
bool isCredentialItemName(const QString& name)
{
    static const QStringList names = { QStringLiteral("token"), QStringLiteral("access-token"),
        QStringLiteral("api-key"), QStringLiteral("apikey"), QStringLiteral("secret"),
        QStringLiteral("password"), QStringLiteral("authorization") };
    return names.contains(name, Qt::CaseInsensitive);
}

// Config values that are or may hold a secret: the remote pinning services (tokens live under
// "Pinning.RemoteServices.<name>.API.Key"), the node identity (its private key), and any leaf named
// like a key, token, secret or password.
bool isSecretConfigKey(const QString& key)
{
    const QString root = key.section(QLatin1Char('.'), 0, 0);
    if (root.compare(QLatin1String("Pinning"), Qt::CaseInsensitive) == 0
        || root.compare(QLatin1String("Identity"), Qt::CaseInsensitive) == 0)
        return true;
    const QString leaf = key.section(QLatin1Char('.'), -1);
    static const QStringList endings = { QStringLiteral("key"), QStringLiteral("token"),
        QStringLiteral("secret"), QStringLiteral("password") };
    return std::any_of(endings.cbegin(), endings.cend(),
        [&leaf](const QString& ending) { return leaf.endsWith(ending, Qt::CaseInsensitive); });
}

QString decoded(const QString& encoded)
{
    return QUrl::fromPercentEncoding(encoded.toUtf8());
}

} // namespace

QString maskSecretsForLog(const QUrl& url)
{
    const QString fullyEncoded = url.toString(QUrl::FullyEncoded);
    if (!url.hasQuery())
        return fullyEncoded;

    const QString path = url.path();
    const bool serviceAdd = path.endsWith(QLatin1String("/pin/remote/service/add"));
    const bool configSet = path.endsWith(QLatin1String("/config"));

    // Work on the encoded pieces so that every item that stays visible reads exactly as sent.
    QStringList pieces = url.query(QUrl::FullyEncoded).split(QLatin1Char('&'));
    int argIndex = 0;
    bool masked = false;
    QString configKey;
    for (QString& piece : pieces) {
        const int equals = piece.indexOf(QLatin1Char('='));
        const QString name = decoded(equals < 0 ? piece : piece.left(equals));
        bool secret = isCredentialItemName(name);
        if (name == QLatin1String("arg")) {
            ++argIndex;
            if (configSet && argIndex == 1 && equals >= 0)
                configKey = decoded(piece.mid(equals + 1));
            secret = secret || (serviceAdd && argIndex == 3)
                || (configSet && argIndex == 2 && isSecretConfigKey(configKey));
        }
        if (secret && equals >= 0) {
            piece = piece.left(equals + 1) + kMask;
            masked = true;
        }
    }
    if (!masked)
        return fullyEncoded;

    QUrl maskedUrl = url;
    maskedUrl.setQuery(pieces.join(QLatin1Char('&')), QUrl::StrictMode);
    return maskedUrl.toString(QUrl::FullyEncoded);
}
