// Single-key reads and writes, whole-config replacement and the backup.
#include "configdialog.h"

#include "configreplaceeditor.h"
#include "configvaluetext.h"
#include "ipfsclient.h"

#include <QComboBox>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>

void ConfigDialog::onGetKeyClicked()
{
    const QString key = keyEdit->text().trimmed();
    if (key.isEmpty()) {
        onError(QStringLiteral("Config key is required."));
        return;
    }
    setLoading(true);
    if (client)
        client->fetchConfigKey(key, false);
}

void ConfigDialog::onConfigKeyReceived(const QString& key, const QJsonValue& value)
{
    setLoading(false);
    if (!key.isEmpty())
        keyEdit->setText(key);
    valueEdit->setText(jsonValueToCompactString(value));
    showSuccess(QStringLiteral("Loaded key '%1'").arg(key));
}

void ConfigDialog::onSetKeyClicked()
{
    const QString key = keyEdit->text().trimmed();
    if (key.isEmpty()) {
        onError(QStringLiteral("Config key is required."));
        return;
    }
    const QString typed = valueEdit->text();
    if (typed.trimmed().isEmpty()) {
        onError(QStringLiteral("Config value is required."));
        return;
    }

    QString value = typed;
    bool boolFlag = false;
    bool jsonFlag = false;
    const QString mode = modeCombo->currentText();
    if (mode == QLatin1String("Bool")) {
        value = typed.trimmed().toLower();
        if (value != QLatin1String("true") && value != QLatin1String("false")) {
            onError(QStringLiteral("Bool mode accepts only true or false."));
            return;
        }
        boolFlag = true;
    } else if (mode == QLatin1String("JSON")) {
        QJsonValue parsed;
        if (!parseJsonValueText(typed, &parsed)) {
            onError(QStringLiteral("JSON mode requires a valid JSON value."));
            return;
        }
        value = jsonValueToJsonText(parsed);
        jsonFlag = true;
    }

    if (isRiskyConfigKey(key)
        && !confirm(QStringLiteral("Potentially risky key"),
            QStringLiteral(
                "You are changing '%1'.\n\nThis may break RPC connectivity or networking.\nProceed?")
                .arg(key)))
        return;

    takeBackupIfNeeded();
    setLoading(true);
    if (client)
        client->setConfigKey(key, value, boolFlag, jsonFlag);
}

void ConfigDialog::onConfigKeySet(const QString& key, const QJsonValue& value)
{
    setLoading(false);
    showSuccess(QStringLiteral("Updated key '%1' to %2").arg(key, jsonValueToCompactString(value)));
    onRefreshClicked();
}

void ConfigDialog::takeBackupIfNeeded()
{
    if (hasBackup || currentConfig.isEmpty())
        return;
    backupConfig = currentConfig;
    hasBackup = true;
    restoreBackupButton->setEnabled(true);
}

void ConfigDialog::onReplaceConfigClicked()
{
    if (currentConfig.isEmpty()) {
        onError(QStringLiteral("Load config first before replacing."));
        return;
    }

    const QPointer<ConfigDialog> guard(this);
    ConfigReplaceEditor editor(currentConfig, size(), this);
    const int result = editor.exec();
    if (!guard || result != QDialog::Accepted)
        return;

    const QByteArray bytes = editor.text().toUtf8();
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        onError(QStringLiteral("Config replace requires valid JSON object."));
        return;
    }
    if (!confirm(QStringLiteral("Replace full config"),
            QStringLiteral("This will replace the entire Kubo config.\n\nContinue?")))
        return;

    takeBackupIfNeeded();
    setLoading(true);
    if (client)
        client->replaceConfig(bytes);
}

void ConfigDialog::onConfigReplaceSucceeded()
{
    setLoading(false);
    showSuccess(QStringLiteral("Config replaced successfully."));
    onRefreshClicked();
}

void ConfigDialog::onRestoreBackupClicked()
{
    if (!hasBackup) {
        onError(QStringLiteral("No backup is available."));
        return;
    }
    if (!confirm(QStringLiteral("Restore backup"),
            QStringLiteral("Restore the previously backed-up config snapshot?")))
        return;
    setLoading(true);
    if (client)
        client->replaceConfig(QJsonDocument(backupConfig).toJson(QJsonDocument::Indented));
}
