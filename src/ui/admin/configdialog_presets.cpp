// The presets row: apply, save, delete, import and export.
#include "configdialog.h"

#include "configpresets.h"
#include "wholefilewrite.h"

#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>

namespace {

QString presetsFileFilter()
{
    return QStringLiteral("JSON files (*.json);;All files (*)");
}

QString fileTooLargeText()
{
    return QStringLiteral("Could not open file: %1")
        .arg(QStringLiteral("the file is larger than %1 MiB").arg(kMaxConfigPresetsFileSize >> 20));
}

QVariantMap comboData(const ConfigPreset& preset, bool custom)
{
    QVariantMap data = configPresetToMap(preset);
    data.insert(QStringLiteral("custom"), custom);
    return data;
}

} // namespace

void ConfigDialog::rebuildPresetCombo(const QString& preferredName)
{
    presetCombo->clear();
    presetCombo->addItem(QStringLiteral("Select preset…"));
    for (const BuiltInConfigPreset& builtIn : builtInConfigPresets())
        presetCombo->addItem(builtIn.label, comboData(builtIn.preset, false));
    for (const QVariant& entry : readStoredConfigPresets()) {
        const ConfigPreset preset = configPresetFromStored(entry);
        if (isUsableConfigPreset(preset))
            presetCombo->addItem(QStringLiteral("Custom: %1").arg(preset.name), comboData(preset, true));
    }

    int current = 0;
    if (!preferredName.isEmpty()) {
        for (int i = 1; i < presetCombo->count(); ++i) {
            if (presetCombo->itemData(i).toMap().value(QStringLiteral("name")).toString() == preferredName) {
                current = i;
                break;
            }
        }
    }
    presetCombo->setCurrentIndex(current);
}

void ConfigDialog::onApplyPresetClicked()
{
    const QVariantMap data = presetCombo->currentData().toMap();
    if (data.isEmpty()) {
        onError(QStringLiteral("Select a preset first."));
        return;
    }
    const QString key = data.value(QStringLiteral("key")).toString();
    const QString value = data.value(QStringLiteral("value")).toString();
    const QString mode = data.value(QStringLiteral("mode")).toString();
    if (key.isEmpty() || mode.isEmpty()) {
        onError(QStringLiteral("Selected preset is invalid."));
        return;
    }
    keyEdit->setText(key);
    valueEdit->setText(value);
    const int modeIndex = modeCombo->findText(mode, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (modeIndex >= 0)
        modeCombo->setCurrentIndex(modeIndex);
    onSetKeyClicked();
}

void ConfigDialog::onSavePresetClicked()
{
    const QString key = keyEdit->text().trimmed();
    const QString value = valueEdit->text();
    const QString mode = modeCombo->currentText();
    if (key.isEmpty() || value.trimmed().isEmpty()) {
        onError(QStringLiteral("Enter key and value before saving a preset."));
        return;
    }

    const QPointer<ConfigDialog> guard(this);
    bool accepted = false;
    const QString answer = QInputDialog::getText(this, QStringLiteral("Save preset"),
        QStringLiteral("Preset name:"), QLineEdit::Normal, QString(), &accepted);
    if (!guard || !accepted)
        return;
    const QString name = answer.trimmed();
    if (name.isEmpty()) {
        onError(QStringLiteral("Preset name is required."));
        return;
    }

    QVariantList stored = readStoredConfigPresets();
    const QVariantMap preset = configPresetToMap({ name, key, value, mode });
    // A stored name is compared as the combo lists it, trimmed.
    qsizetype clash = -1;
    for (qsizetype i = 0; i < stored.size(); ++i) {
        if (configPresetFromStored(stored.at(i)).name == name) {
            clash = i;
            break;
        }
    }
    if (clash >= 0) {
        if (!confirm(QStringLiteral("Overwrite preset"),
                QStringLiteral("A preset named '%1' already exists. Overwrite it?").arg(name),
                AskAs::Question))
            return;
        stored[clash] = preset;
    } else {
        stored.append(preset);
    }
    writeStoredConfigPresets(stored);
    rebuildPresetCombo(name);
    showSuccess(QStringLiteral("Saved preset '%1'.").arg(name));
}

void ConfigDialog::onDeletePresetClicked()
{
    const QVariantMap data = presetCombo->currentData().toMap();
    const QString name = data.value(QStringLiteral("name")).toString();
    if (name.isEmpty() || !data.value(QStringLiteral("custom")).toBool()) {
        onError(QStringLiteral("Select a custom preset to delete."));
        return;
    }
    if (!confirm(QStringLiteral("Delete preset"), QStringLiteral("Delete preset '%1'?").arg(name)))
        return;

    // Every stored entry listed under this name goes, blanks around its stored name or not.
    QVariantList stored = readStoredConfigPresets();
    for (qsizetype i = stored.size() - 1; i >= 0; --i) {
        if (configPresetFromStored(stored.at(i)).name == name)
            stored.removeAt(i);
    }
    writeStoredConfigPresets(stored);
    rebuildPresetCombo(QString());
    showSuccess(QStringLiteral("Deleted preset '%1'.").arg(name));
}

void ConfigDialog::onExportPresetsClicked()
{
    const QVariantList stored = readStoredConfigPresets();
    if (stored.isEmpty()) {
        onError(QStringLiteral("No custom presets to export."));
        return;
    }
    const QPointer<ConfigDialog> guard(this);
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Export custom presets"),
        QStringLiteral("vaxel-config-presets.json"), presetsFileFilter());
    if (!guard || path.isEmpty())
        return;

    int count = 0;
    const QByteArray content = configPresetsFileContent(stored, &count);
    if (count == 0) {
        onError(QStringLiteral("No valid custom presets to export."));
        return;
    }
    const QString error = writeWholeFile(path, content);
    if (!error.isEmpty()) {
        onError(QStringLiteral("Could not write file: %1").arg(error));
        return;
    }
    showSuccess(QStringLiteral("Exported %1 preset(s).").arg(count));
}

void ConfigDialog::onImportPresetsClicked()
{
    const QPointer<ConfigDialog> guard(this);
    const QString path = QFileDialog::getOpenFileName(
        this, QStringLiteral("Import custom presets"), QString(), presetsFileFilter());
    if (!guard || path.isEmpty())
        return;

    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        onError(QStringLiteral("Could not open file: %1").arg(file.errorString()));
        return;
    }
    if (file.size() > kMaxConfigPresetsFileSize) {
        onError(fileTooLargeText());
        return;
    }
    // Read one byte past the limit, for files whose size is not known in advance.
    const QByteArray data = file.read(kMaxConfigPresetsFileSize + 1);
    if (data.size() > kMaxConfigPresetsFileSize) {
        onError(fileTooLargeText());
        return;
    }

    QList<ConfigPreset> imported;
    if (!parseConfigPresetsFile(data, &imported)) {
        onError(QStringLiteral("Import file must be a JSON array of presets."));
        return;
    }
    if (imported.isEmpty()) {
        onError(QStringLiteral("No valid presets found in file."));
        return;
    }
    writeStoredConfigPresets(mergeImportedConfigPresets(readStoredConfigPresets(), imported));
    rebuildPresetCombo(QString());
    showSuccess(QStringLiteral("Imported %1 preset(s).").arg(imported.size()));
}
