#pragma once

#include <QJsonArray>
#include <QJsonObject>

// The benchmark's figures as tables, each figure beside its target.

void printPinRoad(const QJsonArray& sizes, const QJsonObject& metadata);
void printKuboRoad(const QJsonObject& kubo);
void printSortedRefreshes(const QJsonArray& refreshes);
void printWindowSteps(const QJsonObject& steps);
void printNetworkWindows(const QJsonObject& windows);
void printSoak(const QJsonObject& soak);
