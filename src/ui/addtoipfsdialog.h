#pragma once

#include "ipfsrecords.h"

#include <QDialog>
#include <QList>
#include <QStringList>

class IpfsClient;
class QCheckBox;
class QComboBox;
class QFileSystemModel;
class QLabel;
class QLineEdit;
class QTreeView;
class QTreeWidget;

// Lets the user pick local files and folders and the options of one add.
class AddToIpfsDialog : public QDialog
{
    Q_OBJECT

public:
    explicit AddToIpfsDialog(IpfsClient* client, QWidget* parent = nullptr);
    ~AddToIpfsDialog() override;

    QList<LocalPathSelection> selections() const;
    AddOptions options() const;

private slots:
    void onAddFromBrowser();
    void onAddFiles();
    void onAddFolder();
    void onRemoveSelected();
    void onClearAll();
    void onAcceptClicked();
    void onPinDestinationChanged();
    void onRemoteServicesReceived(const QList<RemoteServiceEntry>& services);
    void onRemoteServicesFailed(const QString& message);

private:
    void buildWidgets();
    QLayout* buildOptionsBlock();
    void addPaths(const QList<QString>& paths);
    void updateSelectedTree();
    QList<QString> normalizedPaths(const QList<QString>& paths) const;
    QString pinDestination() const;
    void refuse(const QString& message);

    QFileSystemModel* fsModel = nullptr;
    QTreeView* browserView = nullptr;
    QTreeWidget* itemsTree = nullptr;
    QCheckBox* wrapCheck = nullptr;
    QCheckBox* pinCheck = nullptr;
    QCheckBox* onlyHashCheck = nullptr;
    QComboBox* cidVersionCombo = nullptr;
    QComboBox* pinDestinationCombo = nullptr;
    QComboBox* remoteServiceCombo = nullptr;
    QLineEdit* remoteLabelEdit = nullptr;
    QLabel* remoteServiceStatusLabel = nullptr;
    QCheckBox* unpinLocalCheck = nullptr;
    IpfsClient* client = nullptr;
    QStringList selectedPaths;
};
