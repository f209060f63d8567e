#pragma once

#include <QDialog>
#include <QJsonValue>

class DhtContentBuilder;
class IpfsClient;
class QComboBox;
class QLabel;
class QPushButton;
class QScrollArea;

// The routing tables of the node's DHTs: one box per DHT, one per bucket, one peer table per
// bucket, all tables sharing one set of column widths.
class DhtStatsDialog : public QDialog
{
    Q_OBJECT

public:
    DhtStatsDialog(IpfsClient* client, QWidget* parent = nullptr);

signals:
    void statusMessageRequested(const QString& message);

protected:
    void showEvent(QShowEvent* event) override;

private slots:
    void onRefreshClicked();
    void onDhtStatsReceived(const QJsonValue& data);
    void onError(const QString& message);
    void onContentBuilt();

private:
    void setLoading(bool loading);
    void clearContent();

    IpfsClient* client = nullptr;
    QComboBox* dhtCombo = nullptr;
    QPushButton* refreshButton = nullptr;
    QLabel* statusLabel = nullptr;
    QScrollArea* scrollArea = nullptr;
    QWidget* contentWidget = nullptr;
    DhtContentBuilder* contentBuilder = nullptr;
};
