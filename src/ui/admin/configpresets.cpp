#include "configpresets.h"

#include "appsettings.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

namespace {

QString settingsKey()
{
    return QStringLiteral("ConfigDialog/customPresets");
}

bool isKnownMode(const QString& mode)
{
    return mode == QLatin1String("String") || mode == QLatin1String("Bool") || mode == QLatin1String("JSON");
}

// A member that is missing or not a string counts as empty text.
QString memberText(const QJsonObject& object, const char* name)
{
    return object.value(QLatin1String(name)).toString();
}

} // namespace

QList<BuiltInConfigPreset> builtInConfigPresets()
{
    const QString string = QStringLiteral("String");
    const QString boolean = QStringLiteral("Bool");
    return {
        { QStringLiteral("API: localhost:5001"),
            { QStringLiteral("builtin-api-localhost"), QStringLiteral("Addresses.API"),
                QStringLiteral("/ip4/127.0.0.1/tcp/5001"), string } },
        { QStringLiteral("Gateway: localhost:8080"),
            { QStringLiteral("builtin-gateway-localhost"), QStringLiteral("Addresses.Gateway"),
                QStringLiteral("/ip4/127.0.0.1/tcp/8080"), string } },
        { QStringLiteral("Bootstrap: empty list []"),
            { QStringLiteral("builtin-bootstrap-empty"), QStringLiteral("Bootstrap"), QStringLiteral("[]"),
                QStringLiteral("JSON") } },
        { QStringLiteral("Discovery.MDNS.Enabled = true"),
            { QStringLiteral("builtin-mdns-true"), QStringLiteral("Discovery.MDNS.Enabled"),
                QStringLiteral("true"), boolean } },
        { QStringLiteral("Discovery.MDNS.Enabled = false"),
            { QStringLiteral("builtin-mdns-false"), QStringLiteral("Discovery.MDNS.Enabled"),
                QStringLiteral("false"), boolean } },
    };
}

QVariantList readStoredConfigPresets()
{
    return appSettings().value(settingsKey()).toList();
}

void writeStoredConfigPresets(const QVariantList& presets)
{
    appSettings().setValue(settingsKey(), presets);
}

QVariantMap configPresetToMap(const ConfigPreset& preset)
{
    return {
        { QStringLiteral("name"), preset.name },
        { QStringLiteral("key"), preset.key },
        { QStringLiteral("value"), preset.value },
        { QStringLiteral("mode"), preset.mode },
    };
}

ConfigPreset configPresetFromStored(const QVariant& entry)
{
    const QVariantMap map = entry.toMap();
    return {
        map.value(QStringLiteral("name")).toString().trimmed(),
        map.value(QStringLiteral("key")).toString().trimmed(),
        map.value(QStringLiteral("value")).toString(),
        map.value(QStringLiteral("mode")).toString().trimmed(),
    };
}

bool isUsableConfigPreset(const ConfigPreset& preset)
{
    return !preset.name.isEmpty() && !preset.key.isEmpty() && !preset.mode.isEmpty();
}

QByteArray configPresetsFileContent(const QVariantList& stored, int* count)
{
    QJsonArray array;
    for (const QVariant& entry : stored) {
        const ConfigPreset preset = configPresetFromStored(entry);
        if (!isUsableConfigPreset(preset))
            continue;
        // QJsonObject keeps its members sorted: key, mode, name, value.
        array.append(QJsonObject {
            { QStringLiteral("name"), preset.name },
            { QStringLiteral("key"), preset.key },
            { QStringLiteral("value"), preset.value },
            { QStringLiteral("mode"), preset.mode },
        });
    }
    if (count)
        *count = int(array.size());
    return QJsonDocument(array).toJson(QJsonDocument::Indented);
}

bool parseConfigPresetsFile(const QByteArray& data, QList<ConfigPreset>* valid)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(data, &error);
    if (error.error != QJsonParseError::NoError || !document.isArray())
        return false;

    valid->clear();
    const QJsonArray array = document.array();
    for (const QJsonValue& element : array) {
        if (!element.isObject())
            continue;
        const QJsonObject object = element.toObject();
        const ConfigPreset preset {
            memberText(object, "name").trimmed(),
            memberText(object, "key").trimmed(),
            memberText(object, "value"),
            memberText(object, "mode").trimmed(),
        };
        if (!preset.name.isEmpty() && !preset.key.isEmpty() && isKnownMode(preset.mode))
            valid->append(preset);
    }
    return true;
}

QVariantList mergeImportedConfigPresets(const QVariantList& stored, const QList<ConfigPreset>& imported)
{
    QVariantList merged;
    QHash<QString, qsizetype> indexByName;
    const auto put = [&merged, &indexByName](const QString& name, const QVariant& entry) {
        const auto it = indexByName.constFind(name);
        if (it != indexByName.constEnd()) {
            merged[it.value()] = entry;
        } else {
            indexByName.insert(name, merged.size());
            merged.append(entry);
        }
    };

    for (const QVariant& entry : stored) {
        const ConfigPreset preset = configPresetFromStored(entry);
        if (isUsableConfigPreset(preset))
            put(preset.name, entry);
    }
    for (const ConfigPreset& preset : imported)
        put(preset.name, configPresetToMap(preset));
    return merged;
}
