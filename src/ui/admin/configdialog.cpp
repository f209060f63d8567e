#include "configdialog.h"

#include "appsettings.h"
#include "configvaluetext.h"
#include "dialogsizing.h"
#include "displaytext.h"
#include "elidedlabel.h"
#include "ipfsclient.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QJsonArray>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

QString treeExpandedKey()
{
    return QStringLiteral("ConfigDialog/treeExpanded");
}

bool treeExpandedSetting()
{
    return appSettings().value(treeExpandedKey(), true).toBool();
}

QPushButton* makeButton(const QString& text, const QString& objectName, QWidget* parent)
{
    auto* button = new QPushButton(text, parent);
    button->setObjectName(objectName);
    return button;
}

template <typename Function> void forEachItemWithChildren(QTreeWidget* tree, Function function)
{
    QList<QTreeWidgetItem*> stack;
    for (int i = tree->topLevelItemCount() - 1; i >= 0; --i)
        stack.append(tree->topLevelItem(i));
    while (!stack.isEmpty()) {
        QTreeWidgetItem* item = stack.takeLast();
        if (item->childCount() == 0)
            continue;
        function(item);
        for (int i = item->childCount() - 1; i >= 0; --i)
            stack.append(item->child(i));
    }
}

} // namespace

ConfigDialog::ConfigDialog(IpfsClient* client, QWidget* parent)
    : QDialog(parent)
    , client(client)
{
    setWindowTitle(QStringLiteral("Kubo config"));
    buildLayout();

    DialogSizing::Options sizing;
    sizing.settingsKey = QStringLiteral("Dialogs/ConfigDialog");
    sizing.minimumSize = QSize(560, 400);
    sizing.preferredSize = QSize(1240, 860);
    sizing.maxScreenWidthFraction = 0.85;
    sizing.maxScreenHeightFraction = 0.75;
    DialogSizing::attach(this, sizing);

    updateExpandCollapseButtonText();
    connectSignals();
    rebuildPresetCombo(QString());
}

void ConfigDialog::buildLayout()
{
    auto* layout = new QVBoxLayout(this);

    expandCollapseBtn = makeButton(QString(), QStringLiteral("expandCollapseBtn"), this);
    statusLabel
        = new ElidedLabel(QStringLiteral("Click Refresh to load config from /api/v0/config/show"), this);
    statusLabel->setObjectName(QStringLiteral("statusLabel"));
    statusLabel->setStyleSheet(hintTextStyle());
    refreshButton = makeButton(QStringLiteral("Refresh"), QStringLiteral("refreshButton"), this);
    auto* topRow = new QHBoxLayout;
    topRow->addWidget(expandCollapseBtn);
    topRow->addWidget(statusLabel, 1);
    topRow->addStretch();
    topRow->addWidget(refreshButton);
    layout->addLayout(topRow);

    keyEdit = new QLineEdit(this);
    keyEdit->setObjectName(QStringLiteral("keyEdit"));
    keyEdit->setPlaceholderText(QStringLiteral("Config key (e.g. Addresses.API)"));
    valueEdit = new QLineEdit(this);
    valueEdit->setObjectName(QStringLiteral("valueEdit"));
    valueEdit->setPlaceholderText(QStringLiteral("Value"));
    modeCombo = new QComboBox(this);
    modeCombo->setObjectName(QStringLiteral("modeCombo"));
    modeCombo->addItems({ QStringLiteral("String"), QStringLiteral("Bool"), QStringLiteral("JSON") });
    getButton = makeButton(QStringLiteral("Get"), QStringLiteral("getButton"), this);
    setButton = makeButton(QStringLiteral("Set"), QStringLiteral("setButton"), this);
    replaceButton = makeButton(QStringLiteral("Replace Config…"), QStringLiteral("replaceButton"), this);
    restoreBackupButton
        = makeButton(QStringLiteral("Restore Backup"), QStringLiteral("restoreBackupButton"), this);
    restoreBackupButton->setEnabled(false);
    auto* keyRow = new QHBoxLayout;
    keyRow->addWidget(keyEdit, 2);
    keyRow->addWidget(valueEdit, 3);
    keyRow->addWidget(modeCombo);
    keyRow->addWidget(getButton);
    keyRow->addWidget(setButton);
    keyRow->addWidget(replaceButton);
    keyRow->addWidget(restoreBackupButton);
    layout->addLayout(keyRow);

    presetCombo = new QComboBox(this);
    presetCombo->setObjectName(QStringLiteral("presetCombo"));
    applyPresetButton = makeButton(QStringLiteral("Apply Preset"), QStringLiteral("applyPresetButton"), this);
    savePresetButton = makeButton(QStringLiteral("Save Preset"), QStringLiteral("savePresetButton"), this);
    deletePresetButton
        = makeButton(QStringLiteral("Delete Preset"), QStringLiteral("deletePresetButton"), this);
    importPresetsButton
        = makeButton(QStringLiteral("Import Presets"), QStringLiteral("importPresetsButton"), this);
    exportPresetsButton
        = makeButton(QStringLiteral("Export Presets"), QStringLiteral("exportPresetsButton"), this);
    auto* presetRow = new QHBoxLayout;
    presetRow->addWidget(new QLabel(QStringLiteral("Presets:"), this));
    presetRow->addWidget(presetCombo, 1);
    presetRow->addWidget(applyPresetButton);
    presetRow->addWidget(savePresetButton);
    presetRow->addWidget(deletePresetButton);
    presetRow->addWidget(importPresetsButton);
    presetRow->addWidget(exportPresetsButton);
    layout->addLayout(presetRow);

    configTree = new QTreeWidget(this);
    configTree->setObjectName(QStringLiteral("configTree"));
    configTree->setHeaderLabels({ QStringLiteral("Key"), QStringLiteral("Value") });
    configTree->setColumnWidth(0, 220);
    configTree->setAlternatingRowColors(true);
    configTree->setAnimated(true);
    configTree->setExpandsOnDoubleClick(true);
    configTree->header()->setStretchLastSection(true);
    layout->addWidget(configTree, 1);
}

void ConfigDialog::connectSignals()
{
    connect(expandCollapseBtn, &QPushButton::clicked, this, &ConfigDialog::onExpandCollapseClicked);
    connect(refreshButton, &QPushButton::clicked, this, &ConfigDialog::onRefreshClicked);
    connect(getButton, &QPushButton::clicked, this, &ConfigDialog::onGetKeyClicked);
    connect(setButton, &QPushButton::clicked, this, &ConfigDialog::onSetKeyClicked);
    connect(replaceButton, &QPushButton::clicked, this, &ConfigDialog::onReplaceConfigClicked);
    connect(restoreBackupButton, &QPushButton::clicked, this, &ConfigDialog::onRestoreBackupClicked);
    connect(applyPresetButton, &QPushButton::clicked, this, &ConfigDialog::onApplyPresetClicked);
    connect(savePresetButton, &QPushButton::clicked, this, &ConfigDialog::onSavePresetClicked);
    connect(deletePresetButton, &QPushButton::clicked, this, &ConfigDialog::onDeletePresetClicked);
    connect(importPresetsButton, &QPushButton::clicked, this, &ConfigDialog::onImportPresetsClicked);
    connect(exportPresetsButton, &QPushButton::clicked, this, &ConfigDialog::onExportPresetsClicked);

    if (!client)
        return;
    connect(client, &IpfsClient::configReceived, this, &ConfigDialog::onConfigReceived);
    connect(client, &IpfsClient::configKeyReceived, this, &ConfigDialog::onConfigKeyReceived);
    connect(client, &IpfsClient::configKeySet, this, &ConfigDialog::onConfigKeySet);
    connect(client, &IpfsClient::configReplaceSucceeded, this, &ConfigDialog::onConfigReplaceSucceeded);
    connect(client, &IpfsClient::configFailed, this, &ConfigDialog::onError);
    connect(client, &IpfsClient::configKeyRequestFailed, this, &ConfigDialog::onError);
    connect(client, &IpfsClient::configKeySetFailed, this, &ConfigDialog::onError);
    connect(client, &IpfsClient::configReplaceFailed, this, &ConfigDialog::onError);
}

void ConfigDialog::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (configTree->topLevelItemCount() == 0)
        onRefreshClicked();
}

void ConfigDialog::onRefreshClicked()
{
    setLoading(true);
    emit statusMessageRequested(QStringLiteral("Fetching config…"));
    if (client)
        client->fetchConfig();
}

void ConfigDialog::setLoading(bool loading)
{
    for (QWidget* widget : std::initializer_list<QWidget*> { refreshButton, getButton, setButton,
             replaceButton, keyEdit, valueEdit, modeCombo, presetCombo, applyPresetButton, savePresetButton,
             deletePresetButton, importPresetsButton, exportPresetsButton })
        widget->setEnabled(!loading);
    restoreBackupButton->setEnabled(hasBackup && !loading);
    if (loading)
        statusLabel->setText(QStringLiteral("Loading…"));
}

void ConfigDialog::showSuccess(const QString& text)
{
    statusLabel->setText(text);
    statusLabel->setStyleSheet(QString());
}

void ConfigDialog::onError(const QString& message)
{
    setLoading(false);
    statusLabel->setText(message);
    statusLabel->setStyleSheet(errorTextStyle());
    emit statusMessageRequested(QStringLiteral("Config error: %1").arg(message));
}

bool ConfigDialog::confirm(const QString& title, const QString& text, AskAs kind)
{
    const QPointer<ConfigDialog> guard(this);
    const auto buttons = QMessageBox::Yes | QMessageBox::No;
    const auto answer = kind == AskAs::Question
        ? QMessageBox::question(this, title, text, buttons, QMessageBox::No)
        : QMessageBox::warning(this, title, text, buttons, QMessageBox::No);
    return guard && answer == QMessageBox::Yes;
}

void ConfigDialog::onConfigReceived(const QJsonObject& config)
{
    setLoading(false);
    currentConfig = config;
    configTree->clear();
    for (auto it = config.constBegin(); it != config.constEnd(); ++it)
        populateTreeFromJson(nullptr, it.key(), it.value());
    setTreeExpanded(treeExpandedSetting());

    updateExpandCollapseButtonText();
    showSuccess(QStringLiteral("Loaded %1 top-level keys from /api/v0/config/show").arg(config.size()));
    emit statusMessageRequested(QStringLiteral("Config loaded (%1 keys)").arg(config.size()));
    DialogSizing::requestRefit(this);
}

void ConfigDialog::populateTreeFromJson(QTreeWidgetItem* parent, const QString& key, const QJsonValue& value)
{
    auto* item = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(configTree);
    if (value.isObject()) {
        item->setText(0, key);
        const QJsonObject object = value.toObject();
        for (auto it = object.constBegin(); it != object.constEnd(); ++it)
            populateTreeFromJson(item, it.key(), it.value());
        item->setExpanded(true);
    } else if (value.isArray()) {
        item->setText(0, key + QStringLiteral(" []"));
        const QJsonArray array = value.toArray();
        for (qsizetype i = 0; i < array.size(); ++i)
            populateTreeFromJson(item, QStringLiteral("[%1]").arg(i), array.at(i));
        item->setExpanded(true);
    } else {
        item->setText(0, clipLongLines(key));
        item->setText(1, clipLongLines(jsonValueToDisplayString(value)));
    }
}

bool ConfigDialog::treeShownExpanded() const
{
    if (QTreeWidgetItem* first = configTree->topLevelItem(0); first && first->childCount() > 0)
        return first->isExpanded();
    return treeExpandedSetting();
}

void ConfigDialog::updateExpandCollapseButtonText()
{
    expandCollapseBtn->setText(
        treeShownExpanded() ? QStringLiteral("Collapse All") : QStringLiteral("Expand All"));
}

void ConfigDialog::onExpandCollapseClicked()
{
    if (configTree->topLevelItemCount() == 0)
        return;
    // The state the button's text stands for: a first key without children (a plain value or an
    // empty object) says nothing about the branches, and going by it would leave the button stuck.
    const bool expand = !treeShownExpanded();
    setTreeExpanded(expand);
    appSettings().setValue(treeExpandedKey(), expand);
    updateExpandCollapseButtonText();
    emit statusMessageRequested(
        expand ? QStringLiteral("Expanded config tree") : QStringLiteral("Collapsed config tree"));
}

void ConfigDialog::setTreeExpanded(bool expanded)
{
    forEachItemWithChildren(configTree, [expanded](QTreeWidgetItem* item) { item->setExpanded(expanded); });
}

void ConfigDialog::clearTree()
{
    configTree->clear();
}
