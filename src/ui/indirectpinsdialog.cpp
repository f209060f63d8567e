#include "indirectpinsdialog.h"

#include "dialogsizing.h"
#include "gateway.h"
#include "ipfsclient.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMenu>
#include <QStringListModel>
#include <QTableView>
#include <QVBoxLayout>

namespace {

QString loadingRow()
{
    return QStringLiteral("Loading…");
}

QString shortCid(const QString& cid)
{
    return cid.size() <= 50 ? cid : cid.left(47) + QStringLiteral("…");
}

// Rows that explain the list rather than name a CID; "Loading…" is one too, so it is never
// copied or opened as if it were a CID.
bool isMessageRow(const QString& text)
{
    return text.startsWith(QLatin1Char('(')) || text.startsWith(QLatin1String("Error:"))
        || text == loadingRow();
}

// One read-only column of CIDs under a header that names it.
class CidListModel : public QStringListModel
{
public:
    using QStringListModel::QStringListModel;

    Qt::ItemFlags flags(const QModelIndex& index) const override
    {
        return QStringListModel::flags(index) & ~Qt::ItemIsEditable;
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (orientation == Qt::Horizontal && section == 0 && role == Qt::DisplayRole)
            return QStringLiteral("CID");
        return QStringListModel::headerData(section, orientation, role);
    }
};

} // namespace

IndirectPinsDialog::IndirectPinsDialog(const QString& rootCid, IpfsClient* client, QWidget* parent)
    : QDialog(parent)
    , rootCid(rootCid)
    , client(client)
    , model(new CidListModel(this))
{
    setWindowTitle(QStringLiteral("Indirect pins under %1").arg(shortCid(rootCid)));

    DialogSizing::Options sizing;
    sizing.settingsKey = QStringLiteral("Dialogs/IndirectPinsDialog");
    sizing.minimumSize = QSize(500, 400);
    sizing.preferredSize = QSize(620, 480);
    sizing.maxScreenWidthFraction = 0.75;
    sizing.maxScreenHeightFraction = 0.75;
    DialogSizing::attach(this, sizing);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    // The CID comes from the node: shown as text inside the markup, never as markup itself.
    auto* heading = new QLabel(
        QStringLiteral("CIDs referenced under recursive pin: <b>%1</b>").arg(rootCid.toHtmlEscaped()), this);
    heading->setObjectName(QStringLiteral("headingLabel"));
    heading->setTextFormat(Qt::RichText);
    heading->setWordWrap(true);
    layout->addWidget(heading);
    countLabel = new QLabel(QStringLiteral("Loading…"), this);
    countLabel->setObjectName(QStringLiteral("countLabel"));
    layout->addWidget(countLabel);

    tableView = new QTableView(this);
    tableView->setModel(model);
    tableView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tableView->setSelectionBehavior(QAbstractItemView::SelectRows);
    tableView->setSelectionMode(QAbstractItemView::ExtendedSelection);
    tableView->setAlternatingRowColors(true);
    tableView->setShowGrid(false);
    tableView->verticalHeader()->hide();
    tableView->horizontalHeader()->setStretchLastSection(true);
    tableView->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(tableView, &QWidget::customContextMenuRequested, this,
        &IndirectPinsDialog::onCustomContextMenuRequested);
    layout->addWidget(tableView, 1);

    connect(client, &IpfsClient::refsReceived, this, &IndirectPinsDialog::onRefsReceived);
    connect(client, &IpfsClient::refsFailed, this, &IndirectPinsDialog::onRefsFailed);
    connect(client, &IpfsClient::activeLoadingCancelled, this, &IndirectPinsDialog::onLoadingCancelled);

    client->fetchRefs(rootCid);
    model->setStringList({ loadingRow() });
}

QString IndirectPinsDialog::cidAtRow(int row) const
{
    return model->index(row, 0).data(Qt::DisplayRole).toString();
}

void IndirectPinsDialog::onRefsReceived(const QString& answeredRoot, const QStringList& cids)
{
    if (answeredRoot != rootCid)
        return;
    awaitingAnswer = false;
    model->setStringList(cids.isEmpty() ? QStringList { QStringLiteral("(no refs)") } : cids);
    const QString countText = cids.size() == 1 ? QStringLiteral("1 indirect pin")
                                               : QStringLiteral("%1 indirect pins").arg(cids.size());
    countLabel->setText(countText);
    setWindowTitle(QStringLiteral("Indirect pins under %1 (%2)").arg(shortCid(rootCid), countText));
    DialogSizing::requestRefit(this);
}

void IndirectPinsDialog::onRefsFailed(const QString& failedRoot, const QString& message)
{
    if (failedRoot != rootCid)
        return;
    awaitingAnswer = false;
    model->setStringList({ QStringLiteral("Error: %1").arg(message) });
    countLabel->setText(QStringLiteral("Failed to load the indirect pins"));
    setWindowTitle(QStringLiteral("Indirect pins under %1").arg(shortCid(rootCid)));
    DialogSizing::requestRefit(this);
}

// A refresh of the main window drops every refs request, this one included: ask again.
void IndirectPinsDialog::onLoadingCancelled()
{
    if (awaitingAnswer)
        client->fetchRefs(rootCid);
}

void IndirectPinsDialog::onCustomContextMenuRequested(const QPoint& pos)
{
    const QModelIndex index = tableView->indexAt(pos);
    if (!index.isValid())
        return;
    const QString text = cidAtRow(index.row());
    if (text.isEmpty() || isMessageRow(text))
        return;
    QMenu menu(this);
    menu.addAction(QStringLiteral("Copy CID"), this, &IndirectPinsDialog::onCopyCid);
    menu.addAction(QStringLiteral("Open from gateway"), this, &IndirectPinsDialog::onOpenInGateway);
    menu.addAction(QStringLiteral("Open from local"), this, &IndirectPinsDialog::onOpenFromLocal);
    menu.exec(tableView->viewport()->mapToGlobal(pos));
}

QStringList IndirectPinsDialog::selectedCids() const
{
    QStringList cids;
    const QModelIndexList rows = tableView->selectionModel()->selectedRows(0);
    for (const QModelIndex& index : rows) {
        const QString text = index.data(Qt::DisplayRole).toString();
        if (!text.isEmpty() && !isMessageRow(text))
            cids.append(text);
    }
    return cids;
}

void IndirectPinsDialog::onCopyCid()
{
    const QStringList cids = selectedCids();
    if (!cids.isEmpty())
        QGuiApplication::clipboard()->setText(cids.join(QLatin1Char('\n')));
}

void IndirectPinsDialog::onOpenInGateway()
{
    const QModelIndexList rows = tableView->selectionModel()->selectedRows(0);
    if (rows.isEmpty())
        return;
    const QString cid = rows.first().data(Qt::DisplayRole).toString();
    if (!cid.isEmpty() && !isMessageRow(cid))
        QDesktopServices::openUrl(publicIpfsUrl(cid));
}

void IndirectPinsDialog::onOpenFromLocal()
{
    const QModelIndexList rows = tableView->selectionModel()->selectedRows(0);
    if (rows.isEmpty())
        return;
    const QString cid = rows.first().data(Qt::DisplayRole).toString();
    if (!cid.isEmpty() && !isMessageRow(cid))
        QDesktopServices::openUrl(localGatewayUrl(rpcHostFromBaseUrl(client->baseUrl()), cid));
}
