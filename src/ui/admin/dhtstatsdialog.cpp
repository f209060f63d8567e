#include "dhtstatsdialog.h"

#include "appsettings.h"
#include "dhttables.h"
#include "dialogsizing.h"
#include "displaytext.h"
#include "elidedlabel.h"
#include "ipfsclient.h"

#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QShowEvent>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace {

constexpr auto kDhtArgKey = "DhtStatsDialog/dhtArg"_L1;

} // namespace

DhtStatsDialog::DhtStatsDialog(IpfsClient* client, QWidget* parent)
    : QDialog(parent)
    , client(client)
{
    setWindowTitle(u"DHT stats"_s);
    DialogSizing::Options sizing;
    sizing.settingsKey = u"Dialogs/DhtStatsDialog"_s;
    sizing.minimumSize = QSize(640, 400);
    sizing.preferredSize = QSize(1100, 760);
    sizing.maxScreenWidthFraction = 0.75;
    sizing.maxScreenHeightFraction = 0.7;
    DialogSizing::attach(this, sizing);

    auto* layout = new QVBoxLayout(this);
    auto* row = new QHBoxLayout;
    row->addWidget(new QLabel(u"DHT:"_s, this));
    dhtCombo = new QComboBox(this);
    dhtCombo->setObjectName(u"dhtCombo"_s);
    dhtCombo->setMinimumWidth(140);
    dhtCombo->addItem(u"wan & lan (default)"_s, QString());
    for (const QString& name : { u"wan"_s, u"lan"_s, u"wanserver"_s, u"lanserver"_s })
        dhtCombo->addItem(name, name);
    row->addWidget(dhtCombo);
    statusLabel = new ElidedLabel(u"Click Refresh to load /api/v0/stats/dht"_s, this);
    statusLabel->setObjectName(u"statusLabel"_s);
    statusLabel->setStyleSheet(hintTextStyle());
    row->addWidget(statusLabel, 1);
    row->addStretch();
    refreshButton = new QPushButton(u"Refresh"_s, this);
    refreshButton->setObjectName(u"refreshButton"_s);
    row->addWidget(refreshButton);
    layout->addLayout(row);

    scrollArea = new QScrollArea(this);
    scrollArea->setObjectName(u"scrollArea"_s);
    scrollArea->setWidgetResizable(true);
    scrollArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    scrollArea->setFrameShape(QFrame::NoFrame);
    contentWidget = new QWidget(scrollArea);
    contentWidget->setObjectName(u"contentWidget"_s);
    contentWidget->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::MinimumExpanding);
    auto* contentLayout = new QVBoxLayout(contentWidget);
    contentLayout->setContentsMargins(0, 0, 0, 0);
    contentLayout->addStretch();
    scrollArea->setWidget(contentWidget);
    contentBuilder = new DhtContentBuilder(contentLayout, this);
    layout->addWidget(scrollArea);

    // Restore the last choice before connecting, so that restoring neither saves nor loads.
    const QString storedArg = appSettings().value(kDhtArgKey).toString();
    int index = 0;
    for (int i = 0; i < dhtCombo->count(); ++i) {
        if (dhtCombo->itemData(i).toString() == storedArg) {
            index = i;
            break;
        }
    }
    dhtCombo->setCurrentIndex(index);

    connect(refreshButton, &QPushButton::clicked, this, &DhtStatsDialog::onRefreshClicked);
    connect(client, &IpfsClient::dhtStatsReceived, this, &DhtStatsDialog::onDhtStatsReceived);
    connect(client, &IpfsClient::dhtStatsFailed, this, &DhtStatsDialog::onError);
    connect(contentBuilder, &DhtContentBuilder::finished, this, &DhtStatsDialog::onContentBuilt);
    connect(dhtCombo, &QComboBox::currentIndexChanged, this, [this] {
        appSettings().setValue(kDhtArgKey, dhtCombo->currentData().toString());
        onRefreshClicked();
    });
}

void DhtStatsDialog::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (contentWidget->layout()->count() <= 1)
        onRefreshClicked();
}

void DhtStatsDialog::setLoading(bool loading)
{
    refreshButton->setEnabled(!loading);
    dhtCombo->setEnabled(!loading);
    if (loading)
        statusLabel->setText(u"Loading\u2026"_s);
}

void DhtStatsDialog::onRefreshClicked()
{
    setLoading(true);
    const QString arg = dhtCombo->currentData().toString();
    emit statusMessageRequested(
        arg.isEmpty() ? u"Fetching DHT stats\u2026"_s : u"Fetching DHT stats (%1)\u2026"_s.arg(arg));
    client->fetchDhtStats(arg);
}

void DhtStatsDialog::clearContent()
{
    contentBuilder->stop();
    QLayout* layout = contentWidget->layout();
    while (layout->count() > 1) {
        QLayoutItem* item = layout->takeAt(0);
        if (QWidget* widget = item->widget()) {
            widget->setParent(nullptr); // out of the window at once, deleted by the event loop
            widget->deleteLater();
        }
        delete item;
    }
}

void DhtStatsDialog::onDhtStatsReceived(const QJsonValue& data)
{
    clearContent();
    contentBuilder->start(data);
}

// Loaded once the boxes of every bucket are in.
void DhtStatsDialog::onContentBuilt()
{
    refreshButton->setEnabled(true);
    dhtCombo->setEnabled(true);
    statusLabel->setText(u"Loaded from /api/v0/stats/dht"_s);
    statusLabel->setStyleSheet(QString());
    emit statusMessageRequested(u"DHT stats loaded"_s);
    DialogSizing::requestRefit(this);
}

void DhtStatsDialog::onError(const QString& message)
{
    refreshButton->setEnabled(true);
    dhtCombo->setEnabled(true);
    clearContent();
    statusLabel->setText(message);
    statusLabel->setStyleSheet(errorTextStyle());
    emit statusMessageRequested(u"DHT stats error: %1"_s.arg(message));
    DialogSizing::requestRefit(this);
}
