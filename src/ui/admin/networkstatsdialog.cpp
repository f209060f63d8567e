#include "networkstatsdialog.h"

#include "dialogsizing.h"
#include "displaytext.h"
#include "elidedlabel.h"
#include "ipfsclient.h"
#include "offguithread.h"
#include "textfeeder.h"
#include "wholefilewrite.h"

#include <QClipboard>
#include <QDateTime>
#include <QFileDialog>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QJsonDocument>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QShowEvent>
#include <QTextEdit>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace {

QLabel* makeSummaryLabel(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setStyleSheet(u"font-weight: bold;"_s);
    return label;
}

QString localTimeStamp(const QString& format)
{
    return QDateTime::currentDateTime().toString(format);
}

struct BuiltSnapshot {
    QJsonObject document;
    QString text; // what Copy and Save take
    QStringList lines; // of the text, for the view
};

BuiltSnapshot buildSnapshot(const NetworkSnapshot::State& state, const QDateTime& nowUtc)
{
    BuiltSnapshot built;
    built.document = NetworkSnapshot::build(state, nowUtc);
    built.text = QString::fromUtf8(QJsonDocument(built.document).toJson(QJsonDocument::Indented));
    built.lines = built.text.split(u'\n');
    return built;
}

} // namespace

NetworkStatsDialog::NetworkStatsDialog(IpfsClient* client, QWidget* parent)
    : QDialog(parent)
    , client(client)
{
    setWindowTitle(u"Network stats"_s);
    DialogSizing::Options sizing;
    sizing.settingsKey = u"Dialogs/NetworkStatsDialog"_s;
    sizing.minimumSize = QSize(760, 500);
    sizing.preferredSize = QSize(1080, 740);
    sizing.maxScreenWidthFraction = 0.7;
    sizing.maxScreenHeightFraction = 0.7;
    DialogSizing::attach(this, sizing);

    auto* layout = new QVBoxLayout(this);
    auto* row = new QHBoxLayout;
    statusLabel = new ElidedLabel(u"Click Refresh to load network diagnostics"_s, this);
    statusLabel->setObjectName(u"statusLabel"_s);
    statusLabel->setStyleSheet(hintTextStyle());
    row->addWidget(statusLabel, 1);
    row->addStretch();
    copyButton = new QPushButton(u"Copy JSON"_s, this);
    copyButton->setObjectName(u"copyButton"_s);
    saveButton = new QPushButton(u"Save snapshot..."_s, this);
    saveButton->setObjectName(u"saveButton"_s);
    refreshButton = new QPushButton(u"Refresh"_s, this);
    refreshButton->setObjectName(u"refreshButton"_s);
    row->addWidget(copyButton);
    row->addWidget(saveButton);
    row->addWidget(refreshButton);
    layout->addLayout(row);

    connectivityLabel = makeSummaryLabel(u"Connectivity: \u2014"_s, this);
    connectivityLabel->setObjectName(u"connectivityLabel"_s);
    routingLabel = makeSummaryLabel(u"Routing: \u2014"_s, this);
    routingLabel->setObjectName(u"routingLabel"_s);
    exchangeLabel = makeSummaryLabel(u"Exchange: \u2014"_s, this);
    exchangeLabel->setObjectName(u"exchangeLabel"_s);
    layout->addWidget(connectivityLabel);
    layout->addWidget(routingLabel);
    layout->addWidget(exchangeLabel);

    jsonEdit = new QTextEdit(this);
    jsonEdit->setObjectName(u"jsonEdit"_s);
    jsonEdit->setReadOnly(true);
    jsonEdit->setPlaceholderText(u"Network snapshot JSON will appear here."_s);
    layout->addWidget(jsonEdit);
    jsonFeeder = new TextFeeder(jsonEdit->document(), TextFeeder::LongLines::Clip, this);

    connect(refreshButton, &QPushButton::clicked, this, &NetworkStatsDialog::onRefreshClicked);
    connect(copyButton, &QPushButton::clicked, this, &NetworkStatsDialog::onCopyJsonClicked);
    connect(saveButton, &QPushButton::clicked, this, &NetworkStatsDialog::onSaveJsonClicked);
    connect(jsonFeeder, &TextFeeder::finished, this, &NetworkStatsDialog::onSnapshotShown);
    connect(client, &IpfsClient::swarmPeersReceived, this, &NetworkStatsDialog::onSwarmPeersReceived);
    connect(client, &IpfsClient::swarmRequestFailed, this, &NetworkStatsDialog::onSwarmRequestFailed);
    connect(client, &IpfsClient::dhtStatsReceived, this, &NetworkStatsDialog::onDhtStatsReceived);
    connect(client, &IpfsClient::dhtStatsFailed, this, &NetworkStatsDialog::onDhtStatsFailed);
    connect(client, &IpfsClient::bitswapStatReceived, this, &NetworkStatsDialog::onBitswapStatReceived);
    connect(client, &IpfsClient::bitswapStatFailed, this, &NetworkStatsDialog::onBitswapStatFailed);
}

qint64 NetworkStatsDialog::toInt64(const QJsonValue& value)
{
    return NetworkSnapshot::toInt64(value);
}

void NetworkStatsDialog::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (jsonEdit->toPlainText().trimmed().isEmpty())
        onRefreshClicked();
}

void NetworkStatsDialog::setStatus(const QString& text, bool error)
{
    statusLabel->setText(text);
    statusLabel->setStyleSheet(error ? errorTextStyle() : QString());
}

void NetworkStatsDialog::setLoading(bool loading)
{
    refreshButton->setEnabled(!loading);
}

void NetworkStatsDialog::onRefreshClicked()
{
    snapshot = NetworkSnapshot::State();
    refreshButton->setEnabled(false);
    setStatus(u"Loading swarm, DHT, and bitswap stats..."_s);
    emit statusMessageRequested(u"Fetching network diagnostics..."_s);
    client->fetchSwarmPeers();
    client->fetchDhtStats(QString());
    client->fetchBitswapStat(false, false);
}

void NetworkStatsDialog::onSwarmPeersReceived(const QStringList& peers)
{
    snapshot.swarmPeers = peers;
    markEndpointDone(u"swarm"_s, true, QString());
}

void NetworkStatsDialog::onSwarmRequestFailed(const QString& operation, const QString& message)
{
    // The swarm window's other requests share this signal; only the peer list is ours.
    if (operation != "peers"_L1)
        return;
    markEndpointDone(u"swarm"_s, false, message);
}

void NetworkStatsDialog::onDhtStatsReceived(const QJsonValue& data)
{
    snapshot.dhtStats = data;
    markEndpointDone(u"dht"_s, true, QString());
}

void NetworkStatsDialog::onDhtStatsFailed(const QString& message)
{
    markEndpointDone(u"dht"_s, false, message);
}

void NetworkStatsDialog::onBitswapStatReceived(const QJsonObject& stat)
{
    snapshot.bitswapStat = stat;
    markEndpointDone(u"bitswap"_s, true, QString());
}

void NetworkStatsDialog::onBitswapStatFailed(const QString& message)
{
    markEndpointDone(u"bitswap"_s, false, message);
}

void NetworkStatsDialog::markEndpointDone(const QString& endpoint, bool ok, const QString& error)
{
    if (endpoint == "swarm"_L1) {
        snapshot.swarmDone = true;
        snapshot.swarmOk = ok;
        snapshot.swarmError = error;
    } else if (endpoint == "dht"_L1) {
        snapshot.dhtDone = true;
        snapshot.dhtOk = ok;
        snapshot.dhtError = error;
    } else if (endpoint == "bitswap"_L1) {
        snapshot.bitswapDone = true;
        snapshot.bitswapOk = ok;
        snapshot.bitswapError = error;
    }
    refreshView();
}

void NetworkStatsDialog::refreshView()
{
    if (building) {
        rebuildWanted = true;
        return;
    }
    building = true;
    runOffGuiThread(
        [state = snapshot, now = QDateTime::currentDateTimeUtc()] { return buildSnapshot(state, now); },
        [window = QPointer<NetworkStatsDialog>(this)](const BuiltSnapshot& built) {
            if (!window)
                return;
            window->building = false;
            if (window->rebuildWanted) {
                window->rebuildWanted = false;
                window->refreshView(); // this one is already out of date
                return;
            }
            window->showSnapshot(built.document, built.text, built.lines);
        });
}

void NetworkStatsDialog::showSnapshot(
    const QJsonObject& document, const QString& text, const QStringList& lines)
{
    snapshotText = text;
    jsonFeeder->stop();
    jsonEdit->clear();

    const QJsonObject swarmSummary = document.value("swarm"_L1).toObject().value("summary"_L1).toObject();
    const QJsonObject dhtSummary = document.value("dht"_L1).toObject().value("summary"_L1).toObject();
    const QJsonObject bitswapSummary = document.value("bitswap"_L1).toObject().value("summary"_L1).toObject();
    const QJsonObject health = document.value("health"_L1).toObject();
    const auto number = [](const QJsonObject& object, QLatin1StringView key) {
        const QJsonValue value = object.value(key);
        return value.isNull() ? u"unknown"_s : QString::number(value.toInteger());
    };
    connectivityLabel->setText(u"Connectivity: swarm peers = %1"_s.arg(number(swarmSummary, "count"_L1)));
    routingLabel->setText(u"Routing: DHT peers = %1, DHT views = %2"_s.arg(
        number(dhtSummary, "connected_peers"_L1), number(dhtSummary, "total_dhts"_L1)));
    const QString healthText = health.value("score_0_100"_L1).isNull()
        ? health.value("state"_L1).toString()
        : u"%1 (%2)"_s.arg(health.value("state"_L1).toString(), number(health, "score_0_100"_L1));
    exchangeLabel->setText(u"Exchange: bitswap peers = %1, wantlist = %2, health = %3"_s.arg(
        number(bitswapSummary, "peer_count"_L1), number(bitswapSummary, "wantlist_size"_L1), healthText));
    DialogSizing::requestRefit(this);

    // A short snapshot goes in at once and is shown before this returns.
    jsonFeeder->start(lines);
}

// The window says it is loaded once the view holds the whole snapshot.
void NetworkStatsDialog::onSnapshotShown()
{
    if (building || !snapshot.swarmDone || !snapshot.dhtDone || !snapshot.bitswapDone)
        return;
    refreshButton->setEnabled(true);
    if (snapshot.swarmOk && snapshot.dhtOk && snapshot.bitswapOk) {
        setStatus(u"Network diagnostics loaded at %1"_s.arg(localTimeStamp(u"hh:mm:ss"_s)));
        emit statusMessageRequested(u"Network diagnostics loaded"_s);
    } else if (!snapshot.swarmOk && !snapshot.dhtOk && !snapshot.bitswapOk) {
        setStatus(u"Network diagnostics failed to load."_s, true);
        emit statusMessageRequested(u"Network diagnostics failed to load"_s);
    } else {
        setStatus(u"Network diagnostics loaded with partial errors."_s, true);
        emit statusMessageRequested(u"Network diagnostics loaded with errors"_s);
    }
}

void NetworkStatsDialog::onCopyJsonClicked()
{
    const QString text = snapshotText;
    if (text.trimmed().isEmpty())
        return;
    QGuiApplication::clipboard()->setText(text);
    setStatus(u"Copied network snapshot JSON to clipboard."_s);
    emit statusMessageRequested(u"Network snapshot JSON copied"_s);
}

void NetworkStatsDialog::onSaveJsonClicked()
{
    const QString text = snapshotText;
    if (text.trimmed().isEmpty())
        return;
    const QString defaultName = u"network-snapshot-%1.json"_s.arg(localTimeStamp(u"yyyyMMdd-hhmmss"_s));
    const QString path = QFileDialog::getSaveFileName(
        this, u"Save network snapshot"_s, defaultName, u"JSON files (*.json);;All files (*)"_s);
    if (path.isEmpty())
        return;
    // A full disk shows up only when writing; report it instead of claiming success.
    const QString error = writeWholeFile(path, text.toUtf8(), QIODevice::Text);
    if (!error.isEmpty()) {
        setStatus(u"Failed to save snapshot: %1"_s.arg(error), true);
        emit statusMessageRequested(u"Failed to save network snapshot"_s);
        return;
    }
    setStatus(u"Saved network snapshot: %1"_s.arg(path));
    emit statusMessageRequested(u"Network snapshot saved"_s);
}
