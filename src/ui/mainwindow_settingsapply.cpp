#include "mainwindow.h"

#include "appsettings.h"
#include "ipfsclient.h"
#include "settingsdialog.h"

#include <QComboBox>
#include <QSettings>
#include <QTimer>

void MainWindow::onSettingsClicked()
{
    SettingsDialog dialog(this);
    dialog.setHost(client->endpointHost());
    dialog.setPort(client->endpointPort());
    dialog.setPinTypeFilter(typeFilter);
    dialog.setRefreshIntervalSeconds(refreshInterval);
    dialog.setAutoRefresh(autoRefresh);
    dialog.setLoadMetadata(loadMetadata);
    dialog.setSendOrigin(sendOrigin);
    dialog.setOriginValue(originValue);
    if (dialog.exec() != QDialog::Accepted)
        return;

    client->setEndpoint(dialog.host(), dialog.port());
    typeFilter = dialog.pinTypeFilter();
    refreshInterval = dialog.refreshIntervalSeconds();
    autoRefresh = dialog.autoRefresh();
    loadMetadata = dialog.loadMetadata();
    sendOrigin = dialog.sendOrigin();
    originValue = sanitizeOriginHeaderValue(dialog.originValue());
    if (originValue.isEmpty())
        originValue = defaultHttpOriginValue();

    // The client reads these two on every request: the next one must already see them.
    settings->setValue(QStringLiteral("http/sendOrigin"), sendOrigin);
    settings->setValue(QStringLiteral("http/originValue"), originValue);
    settings->sync();

    // A changed entry runs the combo's own handler, which reloads at once.
    const int filterIndex = typeFilterCombo->findData(typeFilter);
    if (filterIndex >= 0)
        typeFilterCombo->setCurrentIndex(filterIndex);

    autoRefreshTimer->stop();
    if (autoRefresh)
        autoRefreshTimer->start(refreshInterval * 1000);

    triggerRefresh(false);
}
