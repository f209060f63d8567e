#pragma once

#include <QDialog>
#include <QHash>
#include <QString>
#include <QStringList>

class IpfsClient;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;

// The node's swarm: connected peers, listen addresses, known peer addresses and the
// bootstrap list, each in a tab, with connect/disconnect and bootstrap editing.
class SwarmDialog : public QDialog
{
    Q_OBJECT

public:
    SwarmDialog(IpfsClient* client, QWidget* parent = nullptr);

    static void applyTableFilter(QTableWidget* table, const QString& filter);

signals:
    void statusMessageRequested(const QString& message);

public slots:
    void onRefreshClicked();
    void onRefreshBootstrapClicked();
    void onConnectClicked();
    void onDisconnectSelectedClicked();
    void onBootstrapAddClicked();
    void onBootstrapRemoveSelectedClicked();
    void onBootstrapRemoveAllClicked();
    void onFilterTextChanged(const QString& text);
    void onPeersReceived(const QStringList& peers);
    void onAddrsReceived(const QHash<QString, QStringList>& peerAddrs);
    void onListenAddrsReceived(const QStringList& listenAddrs);
    void onConnectResult(const QString& target, bool ok, const QStringList& messages);
    void onDisconnectResult(const QString& target, bool ok, const QStringList& messages);
    void onBootstrapPeersReceived(const QStringList& peers);
    void onBootstrapAddResult(const QString& peer, bool ok, const QStringList& peers);
    void onBootstrapRemoveResult(const QStringList& removed, bool ok, const QStringList& peers);
    void onRequestFailed(const QString& operation, const QString& message);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void buildLayout();
    void connectClient();
    void refreshSummary();
    QString summaryText() const;
    void markRefreshPartCompleted(const QString& part);
    void setLoading(bool loading);
    void setStatus(const QString& text, bool error = false);
    void reapplyFilter();

    IpfsClient* client = nullptr;
    QLineEdit* filterEdit = nullptr;
    QLineEdit* peerEdit = nullptr;
    QLineEdit* bootstrapEdit = nullptr;
    QPushButton* refreshButton = nullptr;
    QPushButton* refreshBootstrapButton = nullptr;
    QPushButton* connectButton = nullptr;
    QPushButton* disconnectButton = nullptr;
    QPushButton* bootstrapAddButton = nullptr;
    QPushButton* bootstrapRemoveSelectedButton = nullptr;
    QPushButton* bootstrapRemoveAllButton = nullptr;
    QLabel* statusLabel = nullptr;
    QLabel* summaryLabel = nullptr;
    QTableWidget* peersTable = nullptr;
    QTableWidget* listenTable = nullptr;
    QTableWidget* knownAddrsTable = nullptr;
    QTableWidget* bootstrapTable = nullptr;
    QStringList peers;
    QStringList listenAddrs;
    QStringList bootstrapPeers;
    QHash<QString, QStringList> peerAddrs;
    int pendingRefreshParts = 0;
    int failedRefreshParts = 0;
    // A count is shown once its list has loaded, and as unknown while its last request failed.
    bool peersKnown = false;
    bool listenAddrsKnown = false;
    bool peerAddrsKnown = false;
    bool bootstrapPeersKnown = false;
};
