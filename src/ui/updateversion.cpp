#include "updateversion.h"

QString versionTextWithoutPrefix(const QString& text)
{
    QString version = text.trimmed();
    if (version.startsWith(u'v') || version.startsWith(u'V'))
        version.remove(0, 1);
    return version;
}

QString latestVersionText(const QByteArray& body)
{
    QString text = QString::fromUtf8(body).trimmed();
    const qsizetype lineFeed = text.indexOf(u'\n');
    if (lineFeed >= 0)
        text = text.left(lineFeed).trimmed();
    text.remove(u'\r');
    return versionTextWithoutPrefix(text);
}

QUrl updateDownloadUrl(const QString& siteUrl)
{
    QString base = siteUrl.trimmed();
    while (base.endsWith(u'/'))
        base.chop(1);
    return QUrl(base);
}

QUrl updateVersionUrl(const QString& siteUrl)
{
    QUrl url = updateDownloadUrl(siteUrl);
    url.setPath(url.path() + QStringLiteral("/latest-version.txt"));
    return url;
}
