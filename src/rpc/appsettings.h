#pragma once

#include <QByteArray>
#include <QSettings>
#include <QString>

class QNetworkRequest;

// The application's settings store; a fresh object on the same store per call.
QSettings appSettings();

// Optional Origin header on RPC requests, read from the settings at each request.
void applyConfiguredOriginHeader(QNetworkRequest& request);
void applyOriginHeader(QNetworkRequest& request, bool send, const QString& value);
QByteArray configuredOriginHeaderValue(bool send, const QString& value);
QString sanitizeOriginHeaderValue(QString value);
QString defaultHttpOriginValue();

// "Vaxel/<version>": sent on every request so that a node never takes us for a browser.
QByteArray vaxelUserAgent();
