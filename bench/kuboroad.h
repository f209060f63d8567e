#pragma once

#include <QJsonObject>
#include <QString>

// The pin road against a real Kubo holding `pins` pins (seeded by one multipart "/add" of that many
// small files, each its own root): the client's load beside a bare reply and curl reading the same
// two listings. "skipped" says why when no Kubo could be started.
QJsonObject measureKuboRoad(int pins, int runs, const QString& startScript);
