#include "addtoipfsdialog.h"

#include "addselection.h"
#include "appsettings.h"
#include "dialogsizing.h"
#include "displaytext.h"
#include "elidedlabel.h"
#include "ipfsclient.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTreeView>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

const QString kLastRemoteServiceKey = QStringLiteral("addToIpfs/lastRemoteServiceNickname");
const QString kLocal = QStringLiteral("local");
const QString kBoth = QStringLiteral("both");
const QString kRemote = QStringLiteral("remote");
constexpr int kPathRole = Qt::UserRole;

} // namespace

AddToIpfsDialog::AddToIpfsDialog(IpfsClient* client, QWidget* parent)
    : QDialog(parent)
    , client(client)
{
    setWindowTitle(tr("Add files/directories to IPFS"));
    buildWidgets();

    DialogSizing::Options sizing;
    sizing.settingsKey = QStringLiteral("Dialogs/AddToIpfsDialog");
    sizing.minimumSize = QSize(920, 560);
    sizing.preferredSize = QSize(1020, 620);
    sizing.maxScreenWidthFraction = 0.95;
    sizing.maxScreenHeightFraction = 0.9;
    DialogSizing::attach(this, sizing);

    connect(
        pinDestinationCombo, &QComboBox::currentTextChanged, this, &AddToIpfsDialog::onPinDestinationChanged);
    onPinDestinationChanged();

    if (client) {
        connect(
            client, &IpfsClient::remoteServicesReceived, this, &AddToIpfsDialog::onRemoteServicesReceived);
        connect(client, &IpfsClient::remoteServicesFailed, this, &AddToIpfsDialog::onRemoteServicesFailed);
        client->fetchRemoteServices(false, QString());
    } else {
        remoteServiceStatusLabel->setText(tr("Remote service list unavailable."));
        remoteServiceStatusLabel->setStyleSheet(errorTextStyle());
    }
}

AddToIpfsDialog::~AddToIpfsDialog() = default;

void AddToIpfsDialog::buildWidgets()
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(10, 10, 10, 10);
    layout->setSpacing(8);

    auto* intro = new QLabel(
        tr("Select files and/or directories from the browser, then add them to the selection list."));
    intro->setWordWrap(true);
    layout->addWidget(intro);

    // Left: the file-system browser.
    auto* browserColumn = new QVBoxLayout;
    browserColumn->addWidget(new QLabel(tr("Filesystem browser")));
    const QString home = QDir::homePath();
    fsModel = new QFileSystemModel(this);
    fsModel->setFilter(QDir::AllDirs | QDir::Files | QDir::Drives | QDir::NoDotAndDotDot);
    fsModel->setRootPath(home);
    browserView = new QTreeView;
    browserView->setObjectName(QStringLiteral("browserView"));
    browserView->setModel(fsModel);
    browserView->setRootIndex(fsModel->index(home));
    browserView->setSelectionMode(QAbstractItemView::ExtendedSelection);
    browserView->setAlternatingRowColors(true);
    browserView->setSortingEnabled(true);
    browserView->sortByColumn(0, Qt::AscendingOrder);
    browserColumn->addWidget(browserView);
    auto* browserButtons = new QHBoxLayout;
    auto* addSelectedButton = new QPushButton(tr("Add selected"));
    auto* addFilesButton = new QPushButton(tr("Add files…"));
    auto* addFolderButton = new QPushButton(tr("Add folder…"));
    browserButtons->addWidget(addSelectedButton);
    browserButtons->addWidget(addFilesButton);
    browserButtons->addWidget(addFolderButton);
    browserColumn->addLayout(browserButtons);

    // Right: what will be uploaded.
    auto* itemsColumn = new QVBoxLayout;
    itemsColumn->addWidget(new QLabel(tr("Items to upload")));
    itemsTree = new QTreeWidget;
    itemsTree->setObjectName(QStringLiteral("itemsTree"));
    itemsTree->setColumnCount(2);
    itemsTree->setHeaderLabels({ tr("Path"), tr("Type") });
    itemsTree->header()->setStretchLastSection(false);
    itemsTree->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    itemsTree->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    itemsTree->setSelectionMode(QAbstractItemView::ExtendedSelection);
    itemsTree->setAlternatingRowColors(true);
    itemsTree->setRootIsDecorated(false);
    itemsColumn->addWidget(itemsTree);
    auto* itemsButtons = new QHBoxLayout;
    auto* removeButton = new QPushButton(tr("Remove selected"));
    auto* clearButton = new QPushButton(tr("Clear all"));
    itemsButtons->addWidget(removeButton);
    itemsButtons->addWidget(clearButton);
    itemsButtons->addStretch();
    itemsColumn->addLayout(itemsButtons);

    auto* columns = new QHBoxLayout;
    columns->setSpacing(8);
    columns->addLayout(browserColumn, 3);
    columns->addLayout(itemsColumn, 2);
    layout->addLayout(columns);

    layout->addWidget(new QLabel(tr("Add options")));
    layout->addLayout(buildOptionsBlock());

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    buttons->button(QDialogButtonBox::Ok)->setText(tr("Add to IPFS"));
    layout->addWidget(buttons);

    connect(addSelectedButton, &QPushButton::clicked, this, &AddToIpfsDialog::onAddFromBrowser);
    connect(addFilesButton, &QPushButton::clicked, this, &AddToIpfsDialog::onAddFiles);
    connect(addFolderButton, &QPushButton::clicked, this, &AddToIpfsDialog::onAddFolder);
    connect(removeButton, &QPushButton::clicked, this, &AddToIpfsDialog::onRemoveSelected);
    connect(clearButton, &QPushButton::clicked, this, &AddToIpfsDialog::onClearAll);
    connect(buttons, &QDialogButtonBox::accepted, this, &AddToIpfsDialog::onAcceptClicked);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

QLayout* AddToIpfsDialog::buildOptionsBlock()
{
    auto* block = new QVBoxLayout;
    block->setSpacing(6);

    auto* firstRow = new QHBoxLayout;
    firstRow->setSpacing(16);
    wrapCheck = new QCheckBox(tr("Wrap with directory"));
    wrapCheck->setChecked(true);
    pinCheck = new QCheckBox(tr("Pin"));
    pinCheck->setChecked(true);
    onlyHashCheck = new QCheckBox(tr("Only hash (do not store blocks)"));
    cidVersionCombo = new QComboBox;
    cidVersionCombo->addItem(tr("CIDv1"), 1);
    cidVersionCombo->addItem(tr("CIDv0"), 0);
    firstRow->addWidget(wrapCheck);
    firstRow->addWidget(pinCheck);
    firstRow->addWidget(onlyHashCheck);
    firstRow->addStretch();
    firstRow->addWidget(new QLabel(tr("CID version:")));
    firstRow->addWidget(cidVersionCombo);
    block->addLayout(firstRow);

    auto* secondRow = new QHBoxLayout;
    secondRow->setSpacing(8);
    pinDestinationCombo = new QComboBox;
    pinDestinationCombo->addItem(tr("Local only"), kLocal);
    pinDestinationCombo->addItem(tr("Local + Remote"), kBoth);
    pinDestinationCombo->addItem(tr("Remote only (unpin local after remote pin)"), kRemote);
    remoteServiceCombo = new QComboBox;
    remoteServiceCombo->setEditable(true);
    remoteServiceCombo->setInsertPolicy(QComboBox::NoInsert);
    remoteServiceCombo->setSizeAdjustPolicy(QComboBox::AdjustToContentsOnFirstShow);
    remoteServiceCombo->setMinimumContentsLength(16);
    remoteServiceCombo->lineEdit()->setPlaceholderText(tr("e.g. pinata-prod (configured in Kubo)"));
    remoteLabelEdit = new QLineEdit;
    remoteLabelEdit->setPlaceholderText(tr("e.g. invoice-2026-03-17"));
    secondRow->addWidget(new QLabel(tr("Pin destination:")));
    secondRow->addWidget(pinDestinationCombo, 1);
    secondRow->addWidget(new QLabel(tr("Remote service nickname:")));
    secondRow->addWidget(remoteServiceCombo, 1);
    secondRow->addWidget(new QLabel(tr("Remote pin label (optional):")));
    secondRow->addWidget(remoteLabelEdit, 1);
    block->addLayout(secondRow);

    auto* hint = new QLabel(tr("<small><i>Remote service uses the Kubo service nickname, not an API key.\n"
                               "Configure API endpoint/token in File -> Remote Services.</i></small>"));
    hint->setTextFormat(Qt::RichText);
    hint->setWordWrap(true);
    block->addWidget(hint);

    // It shows the node's error texts and never widens the dialog.
    remoteServiceStatusLabel = new ElidedLabel(tr("Loading configured remote services..."));
    remoteServiceStatusLabel->setObjectName(QStringLiteral("remoteServiceStatusLabel"));
    remoteServiceStatusLabel->setStyleSheet(hintTextStyle());
    block->addWidget(remoteServiceStatusLabel);

    unpinLocalCheck = new QCheckBox(tr("Unpin local after remote pin is confirmed"));
    block->addWidget(unpinLocalCheck);
    return block;
}

void AddToIpfsDialog::onAddFromBrowser()
{
    QList<QString> paths;
    const QModelIndexList rows = browserView->selectionModel()->selectedRows(0);
    for (const QModelIndex& index : rows) {
        const QString path = fsModel->filePath(index);
        if (!path.isEmpty())
            paths.append(path);
    }
    addPaths(paths);
}

void AddToIpfsDialog::onAddFiles()
{
    addPaths(QFileDialog::getOpenFileNames(this, tr("Choose files to add")));
}

void AddToIpfsDialog::onAddFolder()
{
    const QString folder = QFileDialog::getExistingDirectory(
        this, tr("Choose folder to add"), QString(), QFileDialog::ShowDirsOnly);
    if (!folder.isEmpty())
        addPaths({ folder });
}

void AddToIpfsDialog::onRemoveSelected()
{
    QSet<QString> doomed;
    const QList<QTreeWidgetItem*> rows = itemsTree->selectedItems();
    for (const QTreeWidgetItem* row : rows) {
        const QString path = row->data(0, kPathRole).toString();
        if (!path.isEmpty())
            doomed.insert(path);
    }
    if (doomed.isEmpty())
        return;
    selectedPaths.removeIf([&doomed](const QString& path) { return doomed.contains(path); });
    updateSelectedTree();
}

void AddToIpfsDialog::onClearAll()
{
    selectedPaths.clear();
    updateSelectedTree();
}

void AddToIpfsDialog::addPaths(const QList<QString>& paths)
{
    if (paths.isEmpty())
        return;
    selectedPaths.append(paths);
    selectedPaths = normalizedPaths(selectedPaths);
    updateSelectedTree();
}

QList<QString> AddToIpfsDialog::normalizedPaths(const QList<QString>& paths) const
{
    return normalizeLocalPaths(paths);
}

void AddToIpfsDialog::updateSelectedTree()
{
    itemsTree->clear();
    QList<QTreeWidgetItem*> rows;
    for (const QString& path : std::as_const(selectedPaths)) {
        const QFileInfo info(path);
        if (!info.exists())
            continue;
        auto* row = new QTreeWidgetItem({ path, info.isDir() ? tr("Directory") : tr("File") });
        row->setData(0, kPathRole, path);
        rows.append(row);
    }
    itemsTree->addTopLevelItems(rows);
    DialogSizing::requestRefit(this);
}

QString AddToIpfsDialog::pinDestination() const
{
    return pinDestinationCombo ? pinDestinationCombo->currentData().toString() : kLocal;
}

void AddToIpfsDialog::onPinDestinationChanged()
{
    const QString destination = pinDestination();
    const bool remote = destination == kBoth || destination == kRemote;
    remoteServiceCombo->setEnabled(remote);
    remoteLabelEdit->setEnabled(remote);
    unpinLocalCheck->setEnabled(remote);
    if (destination == kRemote)
        unpinLocalCheck->setChecked(true);
    // A remote pin needs the blocks pinned locally until it is confirmed.
    if (remote)
        pinCheck->setChecked(true);
    pinCheck->setEnabled(!remote);
}

void AddToIpfsDialog::onRemoteServicesReceived(const QList<RemoteServiceEntry>& services)
{
    QString preferred = appSettings().value(kLastRemoteServiceKey).toString().trimmed();
    if (preferred.isEmpty())
        preferred = remoteServiceCombo->currentText().trimmed();

    remoteServiceCombo->clear();
    for (const RemoteServiceEntry& service : services) {
        const QString name = service.name.trimmed();
        if (!name.isEmpty())
            remoteServiceCombo->addItem(name);
    }
    if (!preferred.isEmpty())
        remoteServiceCombo->setEditText(preferred);
    else if (remoteServiceCombo->count() > 0)
        remoteServiceCombo->setCurrentIndex(0);

    remoteServiceStatusLabel->setText(services.isEmpty()
            ? tr("No configured services found. Configure one in File -> Remote Services.")
            : tr("Loaded %1 configured service(s).").arg(services.size()));
    remoteServiceStatusLabel->setStyleSheet(hintTextStyle());
}

void AddToIpfsDialog::onRemoteServicesFailed(const QString& message)
{
    remoteServiceStatusLabel->setText(tr("Could not load services: %1").arg(message));
    remoteServiceStatusLabel->setStyleSheet(errorTextStyle());
}

void AddToIpfsDialog::refuse(const QString& message)
{
    QMessageBox::information(this, tr("Add to IPFS"), message, QMessageBox::Ok);
}

void AddToIpfsDialog::onAcceptClicked()
{
    if (selectedPaths.isEmpty()) {
        refuse(tr("Select at least one file or folder first."));
        return;
    }
    const AddOptions chosen = options();
    const bool remote = chosen.pinDestination == kBoth || chosen.pinDestination == kRemote;
    if (remote && chosen.remoteServiceNickname.isEmpty()) {
        refuse(tr("Remote service is required for remote pinning."));
        return;
    }
    if (remote && chosen.onlyHash) {
        refuse(tr(
            "Remote pinning requires data blocks to be available. Disable 'Only hash' for remote pinning."));
        return;
    }
    const QString nickname = remoteServiceCombo->currentText().trimmed();
    if (!nickname.isEmpty())
        appSettings().setValue(kLastRemoteServiceKey, nickname);
    accept();
}

QList<LocalPathSelection> AddToIpfsDialog::selections() const
{
    return localPathSelections(selectedPaths);
}

AddOptions AddToIpfsDialog::options() const
{
    AddOptions result;
    const QString destination = pinDestination();
    result.pinDestination = destination;
    if (wrapCheck)
        result.wrapWithDirectory = wrapCheck->isChecked();
    result.pin = destination != kLocal || !pinCheck || pinCheck->isChecked();
    if (onlyHashCheck)
        result.onlyHash = onlyHashCheck->isChecked();
    if (cidVersionCombo)
        result.cidVersion = cidVersionCombo->currentData().toInt();
    if (remoteServiceCombo)
        result.remoteServiceNickname = remoteServiceCombo->currentText().trimmed();
    if (remoteLabelEdit)
        result.remoteLabel = remoteLabelEdit->text().trimmed();
    if (unpinLocalCheck)
        result.unpinLocalAfterRemote = unpinLocalCheck->isChecked();
    return result;
}
