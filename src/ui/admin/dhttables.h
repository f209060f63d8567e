#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>

#include <array>

class QGroupBox;
class QTableWidget;
class QWidget;

// Pieces of the DHT window: the boxes and peer tables built from one "/stats/dht" answer.

// The DHT objects of an answer: an array's object elements, or a lone object.
QList<QJsonObject> dhtObjectsOf(const QJsonValue& value);

// Gives every peer table the same column widths, so that all buckets read as one table.
class DhtPeerTableAligner
{
public:
    static constexpr int kColumns = 5;
    static constexpr int kMaxAgentWidth = 300;

    void add(QTableWidget* table); // after its columns were sized to their contents
    void apply() const;
    int width(int column) const { return widths.at(column); }

private:
    std::array<int, kColumns> widths {};
    QList<QTableWidget*> tables;
};

QTableWidget* buildDhtPeerTable(const QJsonArray& peers, QWidget* parent);
QGroupBox* buildDhtBox(const QJsonObject& dht, DhtPeerTableAligner& aligner, QWidget* parent);
