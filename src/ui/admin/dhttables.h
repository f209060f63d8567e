#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QObject>
#include <QPointer>

#include <array>

class QGroupBox;
class SlicedWork;
class QTableWidget;
class QVBoxLayout;
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
// A DHT's box, with no bucket boxes in it yet.
QGroupBox* buildDhtBox(const QJsonObject& dht, QWidget* parent);
QGroupBox* buildBucketBox(
    const QJsonObject& bucket, int index, DhtPeerTableAligner& aligner, QWidget* parent);

// Puts the boxes of one answer into a layout a few buckets at a time, so that the window answers
// while dozens of tables are made. The boxes stay hidden until the last bucket is in, then show at
// once with their columns lined up.
class DhtContentBuilder : public QObject
{
    Q_OBJECT

public:
    // The boxes go before the layout's last item, its stretch.
    DhtContentBuilder(QVBoxLayout* layout, QObject* parent);

    // A small answer is built whole before this returns; finished() follows the last bucket.
    void start(const QJsonValue& answer);
    // Stops where it is; what was built stays in the layout and finished() is not sent.
    void stop();

signals:
    void finished();

private:
    struct PendingBucket {
        QPointer<QGroupBox> dhtBox;
        QJsonObject bucket;
        int index = 0;
    };

    bool buildNextBucket();
    void showBuilt();

    QVBoxLayout* layout;
    QList<QPointer<QGroupBox>> dhtBoxes;
    QList<PendingBucket> pending;
    qsizetype next = 0;
    DhtPeerTableAligner aligner;
    SlicedWork* work = nullptr;
};
