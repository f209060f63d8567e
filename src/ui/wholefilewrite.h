#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QString>

// Writes content to path whole or not at all: it goes to a temporary file that replaces path only
// once everything is written, so a full disk never leaves an existing file cut short. Where the
// folder allows no temporary file, it writes in place. Returns the error text, empty on success.
QString writeWholeFile(
    const QString& path, const QByteArray& content, QIODevice::OpenMode extraMode = QIODevice::NotOpen);
