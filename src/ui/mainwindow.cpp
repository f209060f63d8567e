#include "mainwindow.h"

#include "appsettings.h"
#include "ipfsclient.h"
#include "pinmodel.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QKeySequence>
#include <QLineEdit>
#include <QSettings>
#include <QShortcut>
#include <QSignalBlocker>
#include <QTimer>

namespace {

const QString kPinnedMode = QStringLiteral("pinned");

} // namespace

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent)
{
    client = new IpfsClient(this);
    model = new PinModel(this);
    proxy = new PinFilterProxyModel(this);
    autoRefreshTimer = new QTimer(this);
    autoRefreshTimer->setObjectName(QStringLiteral("autoRefreshTimer"));
    searchDebounceTimer = new QTimer(this);
    searchDebounceTimer->setObjectName(QStringLiteral("searchDebounceTimer"));
    countUpdateTimer = new QTimer(this);
    countUpdateTimer->setObjectName(QStringLiteral("countUpdateTimer"));
    settings = new QSettings(QStringLiteral("Vaxel"), QStringLiteral("settings"), this);
    remotePinPollTimer = new QTimer(this);
    remotePinPollTimer->setObjectName(QStringLiteral("remotePinPollTimer"));

    setWindowTitle(QStringLiteral("Vaxel"));
    setMinimumSize(800, 520);
    resize(1060, 640);

    proxy->setSourceModel(model);
    proxy->setFilterCaseSensitivity(Qt::CaseInsensitive);
    proxy->setTypeFilter(typeFilter);

    setupMenuBar();

    // Refresh from anywhere in the application, whichever window has the focus. On most
    // platforms the standard Refresh key is F5 itself: two shortcuts on one key would be
    // ambiguous and neither would fire, so each key gets one shortcut.
    const QList<QKeySequence> refreshKeys { QKeySequence(QKeySequence::Refresh), QKeySequence(Qt::Key_F5) };
    QList<QKeySequence> boundKeys;
    for (const QKeySequence& key : refreshKeys) {
        if (key.isEmpty() || boundKeys.contains(key))
            continue;
        boundKeys.append(key);
        auto* shortcut = new QShortcut(key, this);
        shortcut->setContext(Qt::ApplicationShortcut);
        connect(shortcut, &QShortcut::activated, this, &MainWindow::onRefreshClicked);
    }

    setupToolBar();
    setupCentralWidget();
    setupStatusBar();

    connect(client, &IpfsClient::pinsReceived, this, &MainWindow::onPinsReceived);
    connect(client, &IpfsClient::errorOccurred, this, &MainWindow::onErrorOccurred);
    connect(client, &IpfsClient::connectionStatusChanged, this, &MainWindow::onConnectionStatusChanged);
    connect(client, &IpfsClient::nodeInfoReceived, this, &MainWindow::onNodeInfoReceived);
    connect(client, &IpfsClient::unpinFinished, this, &MainWindow::onUnpinned);
    connect(client, &IpfsClient::refsReceived, this, &MainWindow::onRefsReceivedForTable);
    connect(client, &IpfsClient::dagStatReceived, this, &MainWindow::onDagStatReceived);
    connect(client, &IpfsClient::kindReceived, this, &MainWindow::onKindReceived);
    connect(client, &IpfsClient::refsFailed, this, &MainWindow::onRefsFailedForTable);
    connect(client, &IpfsClient::kindFailed, this, &MainWindow::onKindFailed);
    connect(client, &IpfsClient::rpcRequestIssued, this, &MainWindow::onRpcRequestIssued);
    connect(client, &IpfsClient::addProgress, this, &MainWindow::onAddProgress);
    connect(client, &IpfsClient::addCompleted, this, &MainWindow::onAddCompleted);
    connect(client, &IpfsClient::addFailed, this, &MainWindow::onAddFailed);
    connect(client, &IpfsClient::remotePinQueued, this, &MainWindow::onRemotePinQueued);
    connect(client, &IpfsClient::remotePinQueueFailed, this, &MainWindow::onRemotePinQueueFailed);
    connect(client, &IpfsClient::remotePinStatusReceived, this, &MainWindow::onRemotePinStatusReceived);
    connect(client, &IpfsClient::remotePinStatusFailed, this, &MainWindow::onRemotePinStatusFailed);
    connect(client, &IpfsClient::ipnsKeysReceived, this, &MainWindow::onIpnsKeysReceived);
    connect(client, &IpfsClient::ipnsKeysFailed, this, &MainWindow::onIpnsKeysFailed);
    connect(client, &IpfsClient::ipnsPublished, this, &MainWindow::onIpnsPublished);
    connect(client, &IpfsClient::ipnsPublishFailed, this, &MainWindow::onIpnsPublishFailed);
    connect(client, &IpfsClient::ipnsResolved, this, &MainWindow::onIpnsResolved);
    connect(client, &IpfsClient::ipnsResolveFailed, this, &MainWindow::onIpnsResolveFailed);
    connect(client, &IpfsClient::streamEntriesLoaded, this, &MainWindow::onStreamEntriesLoaded);
    connect(model, &PinModel::pinsApplied, this, &MainWindow::onPinsApplied);

    searchDebounceTimer->setSingleShot(true);
    searchDebounceTimer->setInterval(150);
    connect(searchDebounceTimer, &QTimer::timeout, this, &MainWindow::onSearchDebounceTimeout);
    countUpdateTimer->setSingleShot(true);
    countUpdateTimer->setInterval(100);
    connect(countUpdateTimer, &QTimer::timeout, this, &MainWindow::updateCountLabels);
    remotePinPollTimer->setSingleShot(false);
    remotePinPollTimer->setInterval(2500);
    connect(remotePinPollTimer, &QTimer::timeout, this, &MainWindow::onRemotePinPollTick);
    connect(autoRefreshTimer, &QTimer::timeout, this, &MainWindow::onAutoRefreshTick);

    connect(qApp, &QGuiApplication::applicationStateChanged, this, &MainWindow::onApplicationStateChanged);

    loadSettings();

    // The first load starts once the window is up, never inside the constructor.
    auto* firstRefresh = new QTimer(this);
    firstRefresh->setObjectName(QStringLiteral("firstRefreshTimer"));
    firstRefresh->setSingleShot(true);
    connect(firstRefresh, &QTimer::timeout, this, &MainWindow::onRefreshClicked);
    connect(firstRefresh, &QTimer::timeout, firstRefresh, &QObject::deleteLater);
    firstRefresh->start(200);
}

MainWindow::~MainWindow()
{
    shuttingDown = true;
    saveSettings();
    releaseAuxWindows();
    // Windows shown as our children go now, while the members their destruction handlers
    // touch still exist (the base class would delete them after the members are gone).
    QList<QPointer<QDialog>> dialogs;
    for (QDialog* dialog : findChildren<QDialog*>(Qt::FindDirectChildrenOnly))
        dialogs.append(dialog);
    for (const QPointer<QDialog>& dialog : std::as_const(dialogs))
        delete dialog.data();
}

void MainWindow::loadSettings()
{
    const QString host = settings->value(QStringLiteral("host"), QStringLiteral("127.0.0.1")).toString();
    const int port = settings->value(QStringLiteral("port"), 5001).toInt();
    client->setEndpoint(host, quint16(port));

    // Showing the stored views starts no load: the first one comes from its timer, once.
    const QSignalBlocker contentSignals(contentCombo);
    const QSignalBlocker filterSignals(typeFilterCombo);
    contentMode = settings->value(QStringLiteral("contentMode"), kPinnedMode).toString();
    const int contentIndex = contentCombo->findData(contentMode);
    if (contentIndex >= 0)
        contentCombo->setCurrentIndex(contentIndex);
    typeFilterCombo->setEnabled(contentMode == kPinnedMode);

    typeFilter = settings->value(QStringLiteral("typeFilter"), QStringLiteral("recursive+direct")).toString();
    const int filterIndex = typeFilterCombo->findData(typeFilter);
    if (filterIndex >= 0)
        typeFilterCombo->setCurrentIndex(filterIndex);
    proxy->setTypeFilter(typeFilter);

    autoRefresh = settings->value(QStringLiteral("autoRefresh"), false).toBool();
    loadMetadata = settings->value(QStringLiteral("loadMetadata"), true).toBool();
    sendOrigin = settings->value(QStringLiteral("http/sendOrigin"), false).toBool();
    originValue = settings->value(QStringLiteral("http/originValue")).toString();
    if (originValue.trimmed().isEmpty())
        originValue = defaultHttpOriginValue();

    refreshInterval = settings->value(QStringLiteral("refreshInterval"), 30).toInt();
    // A stored interval of zero would make the timer fire without pause.
    if (autoRefresh)
        autoRefreshTimer->start(qMax(1, refreshInterval) * 1000);

    if (settings->contains(QStringLiteral("geometry")))
        restoreGeometry(settings->value(QStringLiteral("geometry")).toByteArray());
    else
        setWindowState(Qt::WindowMaximized);
}

void MainWindow::saveSettings()
{
    settings->setValue(QStringLiteral("host"), client->endpointHost());
    settings->setValue(QStringLiteral("port"), int(client->endpointPort()));
    settings->setValue(QStringLiteral("contentMode"), contentMode);
    settings->setValue(QStringLiteral("typeFilter"), typeFilter);
    settings->setValue(QStringLiteral("autoRefresh"), autoRefresh);
    settings->setValue(QStringLiteral("loadMetadata"), loadMetadata);
    settings->setValue(QStringLiteral("http/sendOrigin"), sendOrigin);
    settings->setValue(QStringLiteral("http/originValue"), originValue);
    settings->setValue(QStringLiteral("refreshInterval"), refreshInterval);
    settings->setValue(QStringLiteral("geometry"), saveGeometry());
    settings->sync();
}

void MainWindow::onContentComboChanged(int index)
{
    contentMode = contentCombo->itemData(index).toString();
    typeFilterCombo->setEnabled(contentMode == kPinnedMode);
    triggerRefresh(true);
}

void MainWindow::onTypeFilterComboChanged(int index)
{
    typeFilter = typeFilterCombo->itemData(index).toString();
    proxy->setTypeFilter(typeFilter);
    triggerRefresh(true);
}

void MainWindow::onSearchByCidToggled(bool checked)
{
    if (!checked)
        return;
    proxy->setSearchMode(PinFilterProxyModel::SearchByCid);
    searchEdit->setPlaceholderText(QStringLiteral("Filter by CID\u2026"));
    onSearchDebounceTimeout();
}

void MainWindow::onSearchByNameToggled(bool checked)
{
    if (!checked)
        return;
    proxy->setSearchMode(PinFilterProxyModel::SearchByName);
    searchEdit->setPlaceholderText(QStringLiteral("Filter by name\u2026"));
    onSearchDebounceTimeout();
}
