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

// Values this short are no credential worth hiding, and masking them in free text would garble it.
constexpr qsizetype kMinimumMaskedLength = 4;

struct MaskedQuery {
    QString query; // fully encoded, secrets replaced
    QStringList secrets; // the replaced values, decoded
};

MaskedQuery maskQuery(const QUrl& url)
{
    const QString path = url.path();
    const bool serviceAdd = path.endsWith(QLatin1String("/pin/remote/service/add"));
    const bool configSet = path.endsWith(QLatin1String("/config"));

    // Work on the encoded pieces so that every item that stays visible reads exactly as sent.
    QStringList pieces = url.query(QUrl::FullyEncoded).split(QLatin1Char('&'));
    MaskedQuery masked;
    int argIndex = 0;
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
            masked.secrets.append(decoded(piece.mid(equals + 1)));
            piece = piece.left(equals + 1) + kMask;
        }
    }
    masked.query = pieces.join(QLatin1Char('&'));
    return masked;
}

} // namespace

QString maskSecretsForLog(const QUrl& url)
{
    if (!url.hasQuery())
        return url.toString(QUrl::FullyEncoded);
    const MaskedQuery masked = maskQuery(url);
    if (masked.secrets.isEmpty())
        return url.toString(QUrl::FullyEncoded);

    QUrl maskedUrl = url;
    maskedUrl.setQuery(masked.query, QUrl::StrictMode);
    return maskedUrl.toString(QUrl::FullyEncoded);
}

QString maskSecretsInText(const QString& text, const QUrl& url)
{
    if (!url.hasQuery())
        return text;
    const MaskedQuery masked = maskQuery(url);
    if (masked.secrets.isEmpty())
        return text;

    QUrl maskedUrl = url;
    maskedUrl.setQuery(masked.query, QUrl::StrictMode);
    QString result = text;
    // The whole URL first, in the forms the network layer writes it, so that it stays readable.
    result.replace(url.toString(QUrl::FullyEncoded), maskedUrl.toString(QUrl::FullyEncoded));
    result.replace(url.toString(), maskedUrl.toString());
    result.replace(url.toDisplayString(), maskedUrl.toDisplayString());
    for (const QString& secret : masked.secrets) {
        if (secret.size() < kMinimumMaskedLength)
            continue;
        result.replace(secret, kMask);
        result.replace(QString::fromLatin1(QUrl::toPercentEncoding(secret)), kMask);
    }
    return result;
}
