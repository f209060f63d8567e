#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>

class IpfsClient;
class QLabel;
class QPoint;
class QStringListModel;
class QTableView;

// The CIDs the node keeps pinned indirectly below one recursive pin, with copy and gateway actions.
class IndirectPinsDialog : public QDialog
{
    Q_OBJECT

public:
    IndirectPinsDialog(const QString& rootCid, IpfsClient* client, QWidget* parent = nullptr);

    QString cidAtRow(int row) const;

private slots:
    void onRefsReceived(const QString& answeredRoot, const QStringList& cids);
    void onRefsFailed(const QString& failedRoot, const QString& message);
    void onLoadingCancelled();
    void onCustomContextMenuRequested(const QPoint& pos);
    void onCopyCid();
    void onOpenInGateway();
    void onOpenFromLocal();

private:
    QStringList selectedCids() const;

    QString rootCid;
    IpfsClient* client = nullptr;
    QTableView* tableView = nullptr;
    QStringListModel* model = nullptr;
    QLabel* countLabel = nullptr;
    bool awaitingAnswer = true; // the refs request has neither answered nor failed yet
};
