#include "appsettings.h"

#include <QCoreApplication>
#include <QNetworkRequest>

QSettings appSettings()
{
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Vaxel"),
                     QStringLiteral("settings"));
}

void applyConfiguredOriginHeader(QNetworkRequest& request)
{
    const QSettings settings = appSettings();
    applyOriginHeader(request, settings.value(QStringLiteral("http/sendOrigin"), false).toBool(),
                      settings.value(QStringLiteral("http/originValue"), QString()).toString());
}

void applyOriginHeader(QNetworkRequest& request, bool send, const QString& value)
{
    const QByteArray origin = configuredOriginHeaderValue(send, value);
    if (!origin.isEmpty())
        request.setRawHeader(QByteArrayLiteral("Origin"), origin);
}

QByteArray configuredOriginHeaderValue(bool send, const QString& value)
{
    if (!send)
        return {};
    QString origin = sanitizeOriginHeaderValue(value);
    if (origin.isEmpty())
        origin = sanitizeOriginHeaderValue(defaultHttpOriginValue());
    return origin.toUtf8();
}

QString sanitizeOriginHeaderValue(QString value)
{
    value.remove(QChar(u'\r'));
    value.remove(QChar(u'\n'));
    value.remove(QChar(u'\0'));
    value = value.trimmed();
    if (value.size() > 256)
        value.truncate(256);
    return value;
}

QString defaultHttpOriginValue()
{
    const QString version = QCoreApplication::applicationVersion().trimmed();
    return version.isEmpty() ? QStringLiteral("Vaxel") : QStringLiteral("Vaxel %1").arg(version);
}

QByteArray vaxelUserAgent()
{
    QString version = QCoreApplication::applicationVersion().trimmed();
    if (version.isEmpty())
        version = QStringLiteral(VAXEL_VERSION);
    return QStringLiteral("Vaxel/%1").arg(version).toUtf8();
}
