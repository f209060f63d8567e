#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QVariantList>
#include <QVariantMap>

// A named single-key config write that the config editor applies with one click.
struct ConfigPreset {
    QString name;
    QString key;
    QString value;
    QString mode; // "String", "Bool" or "JSON"
};

struct BuiltInConfigPreset {
    QString label;
    ConfigPreset preset;
};

// The presets that ship with the program, in the order they are offered.
QList<BuiltInConfigPreset> builtInConfigPresets();

// The user's presets as stored in the settings: a list of maps with "name", "key", "value", "mode".
QVariantList readStoredConfigPresets();
void writeStoredConfigPresets(const QVariantList& presets);

QVariantMap configPresetToMap(const ConfigPreset& preset);
// Name, key and mode trimmed, value as stored; entries that are not maps give an empty preset.
ConfigPreset configPresetFromStored(const QVariant& entry);
// A stored preset is usable when its trimmed name, key and mode are all non-empty.
bool isUsableConfigPreset(const ConfigPreset& preset);

// The presets file: an indented JSON array of objects with the string members "key", "mode",
// "name" and "value". Unusable stored entries are left out; count receives the number written.
QByteArray configPresetsFileContent(const QVariantList& stored, int* count);

// Reads a presets file. Returns false when the data is not a JSON array; otherwise valid receives
// every element that is an object with a non-empty name and key and a known mode, in file order.
bool parseConfigPresetsFile(const QByteArray& data, QList<ConfigPreset>* valid);

// Merges imported presets into the stored list by name: imported ones replace stored ones of the
// same name, later imports replace earlier ones, unusable stored entries are dropped. Stored
// presets keep their places; new names follow in file order.
QVariantList mergeImportedConfigPresets(const QVariantList& stored, const QList<ConfigPreset>& imported);

// Larger files are refused before they are read: a presets file is a few kilobytes.
constexpr qint64 kMaxConfigPresetsFileSize = 4 * 1024 * 1024;
