#include "remoteservicesdialog.h"

#include "dialogsizing.h"
#include "displaytext.h"
#include "elidedlabel.h"
#include "ipfsclient.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

RemoteServicesDialog::RemoteServicesDialog(IpfsClient* client, QWidget* parent)
    : QDialog(parent)
    , client(client)
{
    setWindowTitle(tr("Remote pinning services"));

    auto* introLabel
        = new QLabel(tr("Configure Kubo remote pinning services.\nThe access token is saved to Kubo. "
                        "Use the service nickname in Add to IPFS."),
            this);
    introLabel->setWordWrap(true);
    refreshButton = new QPushButton(tr("Refresh"), this);
    refreshButton->setObjectName(QStringLiteral("refreshButton"));
    auto* topRow = new QHBoxLayout;
    topRow->addWidget(introLabel, 1);
    topRow->addWidget(refreshButton);

    serviceList = new QListWidget(this);
    serviceList->setObjectName(QStringLiteral("serviceList"));
    serviceList->setSelectionMode(QAbstractItemView::SingleSelection);
    auto* listColumn = new QVBoxLayout;
    listColumn->addWidget(new QLabel(tr("Configured services"), this));
    listColumn->addWidget(serviceList, 1);

    nicknameEdit = new QLineEdit(this);
    nicknameEdit->setObjectName(QStringLiteral("nicknameEdit"));
    nicknameEdit->setPlaceholderText(tr("e.g. pinata-prod"));
    endpointEdit = new QLineEdit(this);
    endpointEdit->setObjectName(QStringLiteral("endpointEdit"));
    endpointEdit->setPlaceholderText(tr("e.g. https://api.pinata.cloud/psa"));
    tokenEdit = new QLineEdit(this);
    tokenEdit->setObjectName(QStringLiteral("tokenEdit"));
    tokenEdit->setEchoMode(QLineEdit::Password);
    tokenEdit->setPlaceholderText(tr("API key / access token"));
    auto* form = new QFormLayout;
    form->addRow(tr("Service nickname:"), nicknameEdit);
    form->addRow(tr("API endpoint:"), endpointEdit);
    form->addRow(tr("Access token:"), tokenEdit);

    hintLabel
        = new QLabel(tr("<small><i>Save to Kubo stores this service in your local Kubo config.\n"
                        "The Add to IPFS dialog expects the service nickname, not the token.</i></small>"),
            this);
    hintLabel->setTextFormat(Qt::RichText);
    hintLabel->setWordWrap(true);

    saveButton = new QPushButton(tr("Save to Kubo"), this);
    saveButton->setObjectName(QStringLiteral("saveButton"));
    testButton = new QPushButton(tr("Test"), this);
    testButton->setObjectName(QStringLiteral("testButton"));
    removeButton = new QPushButton(tr("Remove"), this);
    removeButton->setObjectName(QStringLiteral("removeButton"));
    auto* buttonRow = new QHBoxLayout;
    buttonRow->addWidget(saveButton);
    buttonRow->addWidget(testButton);
    buttonRow->addWidget(removeButton);
    buttonRow->addStretch();

    statusLabel = new ElidedLabel(tr("Click Refresh to load configured remote services."), this);
    statusLabel->setObjectName(QStringLiteral("statusLabel"));
    statusLabel->setStyleSheet(hintTextStyle());

    auto* formColumn = new QVBoxLayout;
    formColumn->addLayout(form);
    formColumn->addWidget(hintLabel);
    formColumn->addLayout(buttonRow);
    formColumn->addWidget(statusLabel);
    formColumn->addStretch();

    auto* middleRow = new QHBoxLayout;
    middleRow->setSpacing(10);
    middleRow->addLayout(listColumn, 2);
    middleRow->addLayout(formColumn, 3);

    auto* buttonBox = new QDialogButtonBox(QDialogButtonBox::Close, this);

    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(10);
    layout->addLayout(topRow);
    layout->addLayout(middleRow, 1);
    layout->addWidget(buttonBox);

    DialogSizing::Options sizing;
    sizing.settingsKey = QStringLiteral("Dialogs/RemoteServicesDialog");
    sizing.minimumSize = QSize(720, 420);
    sizing.preferredSize = QSize(820, 500);
    sizing.maxScreenWidthFraction = 0.85;
    sizing.maxScreenHeightFraction = 0.8;
    DialogSizing::attach(this, sizing);

    connect(refreshButton, &QPushButton::clicked, this, &RemoteServicesDialog::onRefreshClicked);
    connect(saveButton, &QPushButton::clicked, this, &RemoteServicesDialog::onAddOrUpdateClicked);
    connect(testButton, &QPushButton::clicked, this, &RemoteServicesDialog::onTestClicked);
    connect(removeButton, &QPushButton::clicked, this, &RemoteServicesDialog::onRemoveClicked);
    connect(serviceList, &QListWidget::itemSelectionChanged, this, &RemoteServicesDialog::onServiceSelected);
    connect(buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
    for (QLineEdit* edit : { nicknameEdit, endpointEdit, tokenEdit })
        connect(edit, &QLineEdit::textChanged, this, &RemoteServicesDialog::updateButtons);

    if (client) {
        connect(client, &IpfsClient::remoteServicesReceived, this, &RemoteServicesDialog::onServicesReceived);
        connect(client, &IpfsClient::remoteServicesFailed, this, &RemoteServicesDialog::onServicesFailed);
        connect(client, &IpfsClient::remoteServiceAdded, this, &RemoteServicesDialog::onServiceAdded);
        connect(client, &IpfsClient::remoteServiceAddFailed, this, &RemoteServicesDialog::onServiceAddFailed);
        connect(client, &IpfsClient::remoteServiceRemoved, this, &RemoteServicesDialog::onServiceRemoved);
        connect(client, &IpfsClient::remoteServiceRemoveFailed, this,
            &RemoteServicesDialog::onServiceRemoveFailed);
        connect(client, &IpfsClient::remoteServiceTested, this, &RemoteServicesDialog::onServiceTested);
    }

    updateButtons();
    onRefreshClicked();
}

void RemoteServicesDialog::onRefreshClicked()
{
    startRequest(tr("Loading remote services from Kubo..."), tr("Loading remote services..."));
    if (client)
        client->fetchRemoteServices(false, QString());
}

void RemoteServicesDialog::onAddOrUpdateClicked()
{
    const QString nickname = nicknameEdit->text().trimmed();
    const QString endpoint = endpointEdit->text().trimmed();
    const QString token = tokenEdit->text().trimmed();
    if (nickname.isEmpty() || endpoint.isEmpty() || token.isEmpty()) {
        QMessageBox::information(this, tr("Remote services"),
            tr("Service nickname, API endpoint, and access token are required."));
        return;
    }
    startRequest(tr("Saving service '%1' to Kubo...").arg(nickname),
        tr("Saving remote service '%1'...").arg(nickname));
    if (client)
        client->addRemoteService(nickname, endpoint, token);
}

void RemoteServicesDialog::onRemoveClicked()
{
    // The typed nickname decides, not the list selection: the user may name a service not listed.
    const QString nickname = nicknameEdit->text().trimmed();
    if (nickname.isEmpty()) {
        QMessageBox::information(
            this, tr("Remote services"), tr("Select or enter a service nickname to remove."));
        return;
    }
    if (showPlainMessage(this, QMessageBox::Question, tr("Remove remote service"),
            tr("Remove service '%1' from Kubo configuration?").arg(nickname),
            QMessageBox::Yes | QMessageBox::No)
        != QMessageBox::Yes)
        return;
    startRequest(
        tr("Removing service '%1'...").arg(nickname), tr("Removing remote service '%1'...").arg(nickname));
    if (client)
        client->removeRemoteService(nickname);
}

void RemoteServicesDialog::onTestClicked()
{
    const QString nickname = nicknameEdit->text().trimmed();
    if (nickname.isEmpty()) {
        QMessageBox::information(
            this, tr("Remote services"), tr("Select or enter a service nickname to test."));
        return;
    }
    startRequest(
        tr("Testing service '%1'...").arg(nickname), tr("Testing remote service '%1'...").arg(nickname));
    if (client)
        client->testRemoteService(nickname);
}

void RemoteServicesDialog::onServiceSelected()
{
    const int row = selectedRow();
    if (row >= 0 && row < services.size()) {
        nicknameEdit->setText(services.at(row).name);
        endpointEdit->setText(services.at(row).endpoint);
        tokenEdit->clear();
    }
    updateButtons();
}

void RemoteServicesDialog::onServicesReceived(const QList<RemoteServiceEntry>& received)
{
    services = received;
    serviceList->clear();
    for (const RemoteServiceEntry& service : services) {
        serviceList->addItem(clipLongLines(service.endpoint.isEmpty()
                ? service.name
                : QStringLiteral("%1  (%2)").arg(service.name, service.endpoint)));
    }
    if (serviceList->count() > 0)
        serviceList->setCurrentRow(0);

    setBusy(false);
    showAnswer(tr("Loaded %1 remote service(s).").arg(services.size()),
        tr("Loaded %1 remote service(s)").arg(services.size()));
    DialogSizing::requestRefit(this);
}

void RemoteServicesDialog::onServicesFailed(const QString& message)
{
    setBusy(false);
    showAnswer(message, message);
    statusLabel->setStyleSheet(errorTextStyle());
    DialogSizing::requestRefit(this);
}

void RemoteServicesDialog::onServiceAdded(const QString& name)
{
    setBusy(false);
    showAnswer(tr("Service '%1' saved to Kubo.").arg(name), tr("Saved remote service '%1'").arg(name));
    tokenEdit->clear();
    onRefreshClicked();
}

void RemoteServicesDialog::onServiceAddFailed(const QString& message)
{
    setBusy(false);
    showAnswer(message, message);
    statusLabel->setStyleSheet(errorTextStyle());
    showPlainMessage(this, QMessageBox::Warning, tr("Remote services"), message);
}

void RemoteServicesDialog::onServiceRemoved(const QString& name)
{
    setBusy(false);
    showAnswer(tr("Service '%1' removed.").arg(name), tr("Removed remote service '%1'").arg(name));
    tokenEdit->clear();
    onRefreshClicked();
}

void RemoteServicesDialog::onServiceRemoveFailed(const QString& message)
{
    setBusy(false);
    showAnswer(message, message);
    statusLabel->setStyleSheet(errorTextStyle());
    showPlainMessage(this, QMessageBox::Warning, tr("Remote services"), message);
}

void RemoteServicesDialog::onServiceTested(const QString& name, bool ok, const QString& message)
{
    setBusy(false);
    if (ok) {
        showAnswer(message, tr("Remote service '%1' test passed").arg(name));
        showPlainMessage(this, QMessageBox::Information, tr("Remote services"), message);
    } else {
        showAnswer(message, tr("Remote service '%1' test failed").arg(name));
        statusLabel->setStyleSheet(errorTextStyle());
        showPlainMessage(this, QMessageBox::Warning, tr("Remote services"), message);
    }
}

void RemoteServicesDialog::updateButtons()
{
    const bool hasNickname = !nicknameEdit->text().trimmed().isEmpty();
    const bool complete
        = hasNickname && !endpointEdit->text().trimmed().isEmpty() && !tokenEdit->text().trimmed().isEmpty();
    for (QWidget* widget :
        std::initializer_list<QWidget*> { refreshButton, serviceList, nicknameEdit, endpointEdit, tokenEdit })
        widget->setEnabled(!busy);
    saveButton->setEnabled(complete && !busy);
    testButton->setEnabled(hasNickname && !busy);
    removeButton->setEnabled(hasNickname && !busy);
}

void RemoteServicesDialog::setBusy(bool isBusy)
{
    busy = isBusy;
    updateButtons();
}

int RemoteServicesDialog::selectedRow() const
{
    return serviceList->currentRow();
}

void RemoteServicesDialog::startRequest(const QString& statusText, const QString& statusBarText)
{
    setBusy(true);
    statusLabel->setText(statusText);
    statusLabel->setStyleSheet(QString());
    emit statusMessageRequested(statusBarText);
}

void RemoteServicesDialog::showAnswer(const QString& statusText, const QString& statusBarText)
{
    statusLabel->setText(statusText);
    statusLabel->setStyleSheet(QString());
    emit statusMessageRequested(statusBarText);
}
