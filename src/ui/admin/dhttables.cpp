#include "dhttables.h"

#include "displaytext.h"
#include "slicedwork.h"

#include <QGroupBox>
#include <QHeaderView>
#include <QJsonArray>
#include <QLabel>
#include <QTableWidget>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace {

constexpr auto kDhtBoxStyle = "QGroupBox { font-weight: bold; margin-top: 10px; padding-top: 8px; } "
                              "QGroupBox::title { subcontrol-origin: margin; left: 8px; padding: 0 4px; }"_L1;
constexpr auto kBucketBoxStyle
    = "QGroupBox { font-weight: normal; margin-top: 6px; } "
      "QGroupBox::title { subcontrol-origin: margin; left: 8px; padding: 0 4px; }"_L1;

// Inside the scrolling window a table shows all its rows; the window scrolls, not each table.
void fitTableToRows(QTableWidget* table, int columnsWidth)
{
    table->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    table->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    const int frame = 2 * table->frameWidth();
    const int rowsHeight = table->rowCount() * table->verticalHeader()->defaultSectionSize();
    table->setFixedHeight(frame + table->horizontalHeader()->sizeHint().height() + rowsHeight);
    table->setMinimumWidth(frame + columnsWidth + table->horizontalHeader()->minimumSectionSize());
}

} // namespace

QList<QJsonObject> dhtObjectsOf(const QJsonValue& value)
{
    QList<QJsonObject> result;
    if (value.isArray()) {
        const QJsonArray array = value.toArray();
        for (const QJsonValue& element : array) {
            if (element.isObject())
                result.append(element.toObject());
        }
    } else if (value.isObject()) {
        result.append(value.toObject());
    }
    return result;
}

void DhtPeerTableAligner::add(QTableWidget* table)
{
    for (int column = 0; column < kColumns; ++column) {
        int needed = table->columnWidth(column);
        if (column == 1)
            needed = qMin(needed, kMaxAgentWidth);
        widths[column] = qMax(widths[column], needed);
    }
    tables.append(table);
}

void DhtPeerTableAligner::apply() const
{
    int fixedWidth = 0;
    for (int column = 0; column < kColumns - 1; ++column)
        fixedWidth += widths[column];
    for (QTableWidget* table : tables) {
        QHeaderView* header = table->horizontalHeader();
        for (int column = 0; column < kColumns - 1; ++column) {
            header->setSectionResizeMode(column, QHeaderView::Fixed);
            header->resizeSection(column, widths[column]);
        }
        header->setSectionResizeMode(kColumns - 1, QHeaderView::Stretch);
        fitTableToRows(table, fixedWidth);
    }
}

QTableWidget* buildDhtPeerTable(const QJsonArray& peers, QWidget* parent)
{
    auto* table = new QTableWidget(int(peers.size()), DhtPeerTableAligner::kColumns, parent);
    table->setHorizontalHeaderLabels(
        { u"Peer ID"_s, u"Agent"_s, u"Connected"_s, u"Last queried"_s, u"Last useful"_s });
    table->setAlternatingRowColors(true);
    table->horizontalHeader()->setStretchLastSection(false);
    table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    table->verticalHeader()->hide();

    for (int row = 0; row < peers.size(); ++row) {
        const QJsonObject peer = peers.at(row).toObject();
        const QString connected = peer.value("Connected"_L1).toBool(false) ? u"Yes"_s : u"No"_s;
        const auto text = [&peer](QLatin1StringView key) {
            return new QTableWidgetItem(clipLongLines(peer.value(key).toString()));
        };
        table->setItem(row, 0, text("ID"_L1));
        table->setItem(row, 1, text("AgentVersion"_L1));
        table->setItem(row, 2, new QTableWidgetItem(connected));
        table->setItem(row, 3, text("LastQueriedAt"_L1));
        table->setItem(row, 4, text("LastUsefulAt"_L1));
    }
    table->resizeColumnsToContents();
    return table;
}

QGroupBox* buildDhtBox(const QJsonObject& dht, QWidget* parent)
{
    QString name = clipLongLines(dht.value("Name"_L1).toString());
    if (name.isEmpty())
        name = u"DHT"_s;
    auto* dhtBox = new QGroupBox(u"DHT: %1"_s.arg(name), parent);
    dhtBox->setStyleSheet(QString(kDhtBoxStyle));
    auto* dhtLayout = new QVBoxLayout(dhtBox);
    if (dht.value("Buckets"_L1).toArray().isEmpty()) {
        auto* empty = new QLabel(u"No buckets in this DHT."_s, dhtBox);
        empty->setStyleSheet(hintTextStyle());
        dhtLayout->addWidget(empty);
    }
    return dhtBox;
}

QGroupBox* buildBucketBox(const QJsonObject& bucket, int index, DhtPeerTableAligner& aligner, QWidget* parent)
{
    const QString lastRefresh = clipLongLines(bucket.value("LastRefresh"_L1).toString());
    const QJsonArray peers = bucket.value("Peers"_L1).toArray();
    const QString title = peers.isEmpty()
        ? u"Bucket %1 \u2014 Last refresh: %2 (no peers)"_s.arg(QString::number(index), lastRefresh)
        : u"Bucket %1 \u2014 Last refresh: %2 \u2014 %3 peer(s)"_s.arg(
            QString::number(index), lastRefresh, QString::number(peers.size()));
    auto* bucketBox = new QGroupBox(title, parent);
    bucketBox->setStyleSheet(QString(kBucketBoxStyle));
    auto* bucketLayout = new QVBoxLayout(bucketBox);
    if (!peers.isEmpty()) {
        QTableWidget* table = buildDhtPeerTable(peers, bucketBox);
        bucketLayout->addWidget(table);
        aligner.add(table);
    }
    return bucketBox;
}

DhtContentBuilder::DhtContentBuilder(QVBoxLayout* layout, QObject* parent)
    : QObject(parent)
    , layout(layout)
    , work(new SlicedWork(this))
{
    connect(work, &SlicedWork::finished, this, &DhtContentBuilder::showBuilt);
}

void DhtContentBuilder::start(const QJsonValue& answer)
{
    stop();
    QWidget* content = layout->parentWidget();
    for (const QJsonObject& dht : dhtObjectsOf(answer)) {
        QGroupBox* dhtBox = buildDhtBox(dht, content);
        dhtBox->hide(); // until all its buckets are in
        layout->insertWidget(layout->count() - 1, dhtBox);
        dhtBoxes.append(dhtBox);
        const QJsonArray buckets = dht.value("Buckets"_L1).toArray();
        for (int index = 0; index < buckets.size(); ++index)
            pending.append({ dhtBox, buckets.at(index).toObject(), index });
    }
    work->start([this] { return buildNextBucket(); });
}

void DhtContentBuilder::stop()
{
    work->stop();
    dhtBoxes.clear();
    pending.clear();
    next = 0;
    aligner = DhtPeerTableAligner();
}

bool DhtContentBuilder::buildNextBucket()
{
    if (next < pending.size()) {
        const PendingBucket& step = pending.at(next++);
        if (step.dhtBox)
            step.dhtBox->layout()->addWidget(buildBucketBox(step.bucket, step.index, aligner, step.dhtBox));
    }
    return next < pending.size();
}

// Shown in one pass: dozens of boxes should cost one layout, not one each.
void DhtContentBuilder::showBuilt()
{
    QWidget* content = layout->parentWidget();
    content->setUpdatesEnabled(false);
    aligner.apply();
    for (const QPointer<QGroupBox>& dhtBox : std::as_const(dhtBoxes)) {
        if (dhtBox)
            dhtBox->show();
    }
    content->setUpdatesEnabled(true);
    stop();
    emit finished();
}
