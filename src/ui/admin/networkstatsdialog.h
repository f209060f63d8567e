#pragma once

#include "networksnapshot.h"

#include <QDialog>

class IpfsClient;
class QLabel;
class QPushButton;
class QTextEdit;
class TextFeeder;

// Network diagnostics: swarm peers, DHT and bitswap statistics combined into one snapshot
// with a health rating, shown as JSON that can be copied or saved.
class NetworkStatsDialog : public QDialog
{
    Q_OBJECT

public:
    NetworkStatsDialog(IpfsClient* client, QWidget* parent = nullptr);

    static qint64 toInt64(const QJsonValue& value);

signals:
    void statusMessageRequested(const QString& message);

protected:
    void showEvent(QShowEvent* event) override;

private slots:
    void onRefreshClicked();
    void onCopyJsonClicked();
    void onSaveJsonClicked();
    void onSwarmPeersReceived(const QStringList& peers);
    void onSwarmRequestFailed(const QString& operation, const QString& message);
    void onDhtStatsReceived(const QJsonValue& data);
    void onDhtStatsFailed(const QString& message);
    void onBitswapStatReceived(const QJsonObject& stat);
    void onBitswapStatFailed(const QString& message);

private:
    void setLoading(bool loading);
    void markEndpointDone(const QString& endpoint, bool ok, const QString& error);
    void refreshView();
    void showSnapshot(const QJsonObject& document, const QString& text, const QStringList& lines);
    void onSnapshotShown();
    void setStatus(const QString& text, bool error = false);

    IpfsClient* client = nullptr;
    QPushButton* refreshButton = nullptr;
    QPushButton* copyButton = nullptr;
    QPushButton* saveButton = nullptr;
    QLabel* statusLabel = nullptr;
    QLabel* connectivityLabel = nullptr;
    QLabel* routingLabel = nullptr;
    QLabel* exchangeLabel = nullptr;
    QTextEdit* jsonEdit = nullptr;
    // A busy node's snapshot runs to tens of thousands of lines: the view takes them a slice at a time.
    TextFeeder* jsonFeeder = nullptr;
    // What Copy and Save take: the snapshot as built, while the view cuts overlong lines.
    QString snapshotText;
    NetworkSnapshot::State snapshot; // the last answer of each endpoint
    // The document is built off the GUI thread, one build at a time; answers that come meanwhile
    // are taken into one more build when it is done.
    bool building = false;
    bool rebuildWanted = false;
};
