#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

// Reading the update site's answer; no network here, so tests call these directly.

// Trimmed, without one leading "v" or "V".
QString versionTextWithoutPrefix(const QString& text);

// The latest version text of a "/latest-version.txt" body: its first line, carriage returns
// dropped, trimmed, without one leading "v" or "V".
QString latestVersionText(const QByteArray& body);

// The version file and the download page of an update site given by its base URL.
QUrl updateVersionUrl(const QString& siteUrl);
QUrl updateDownloadUrl(const QString& siteUrl);
