#pragma once

#include "ipfsrecords.h"

#include <QDialog>
#include <QList>

class IpfsClient;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

// Lists, adds, tests and removes the remote pinning services configured in the node.
// The access token lives only in its edit until it is sent.
class RemoteServicesDialog : public QDialog
{
    Q_OBJECT

public:
    explicit RemoteServicesDialog(IpfsClient* client, QWidget* parent = nullptr);

signals:
    void statusMessageRequested(const QString& message);

private slots:
    void onRefreshClicked();
    void onAddOrUpdateClicked();
    void onRemoveClicked();
    void onTestClicked();
    void onServiceSelected();

    void onServicesReceived(const QList<RemoteServiceEntry>& services);
    void onServicesFailed(const QString& message);
    void onServiceAdded(const QString& name);
    void onServiceAddFailed(const QString& message);
    void onServiceRemoved(const QString& name);
    void onServiceRemoveFailed(const QString& message);
    void onServiceTested(const QString& name, bool ok, const QString& message);

private:
    void updateButtons();
    void setBusy(bool isBusy);
    int selectedRow() const;
    void startRequest(const QString& statusText, const QString& statusBarText);
    void showAnswer(const QString& statusText, const QString& statusBarText);

    IpfsClient* client = nullptr;
    QList<RemoteServiceEntry> services;
    QListWidget* serviceList = nullptr;
    QLineEdit* nicknameEdit = nullptr;
    QLineEdit* endpointEdit = nullptr;
    QLineEdit* tokenEdit = nullptr;
    QLabel* hintLabel = nullptr;
    QLabel* statusLabel = nullptr;
    QPushButton* refreshButton = nullptr;
    QPushButton* saveButton = nullptr;
    QPushButton* removeButton = nullptr;
    QPushButton* testButton = nullptr;
    bool busy = false;
};
