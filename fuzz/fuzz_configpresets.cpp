// Importing a config presets file: what it accepts must be usable, merge by name, and survive
// being exported and imported again unchanged.
#include "configpresets.h"
#include "fuzzsupport.h"

#include <QSet>

namespace {

bool samePreset(const ConfigPreset& a, const ConfigPreset& b)
{
    return a.name == b.name && a.key == b.key && a.value == b.value && a.mode == b.mode;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray file = fuzzInput(data, size);
    QList<ConfigPreset> imported;
    if (!parseConfigPresetsFile(file, &imported))
        return 0;

    QSet<QString> names;
    for (const ConfigPreset& preset : imported) {
        FUZZ_CHECK(isUsableConfigPreset(preset));
        FUZZ_CHECK(preset.name == preset.name.trimmed() && preset.key == preset.key.trimmed());
        names.insert(preset.name);
    }

    // A stored list of its own: a preset that the file replaces, one it leaves, and an unusable one.
    QVariantList stored;
    if (!imported.isEmpty())
        stored.append(configPresetToMap({ imported.first().name, QStringLiteral("Old.Key"),
            QStringLiteral("old"), QStringLiteral("String") }));
    stored.append(configPresetToMap({ QStringLiteral("\x01kept"), QStringLiteral("Kept.Key"),
        QStringLiteral("1"), QStringLiteral("JSON") }));
    stored.append(QStringLiteral("not a map"));
    const QVariantList merged = mergeImportedConfigPresets(stored, imported);
    FUZZ_CHECK(merged.size() == names.size() + (names.contains(QStringLiteral("\x01kept")) ? 0 : 1));

    int written = -1;
    const QByteArray exported = configPresetsFileContent(merged, &written);
    FUZZ_CHECK(written == merged.size());
    QList<ConfigPreset> reread;
    FUZZ_CHECK(parseConfigPresetsFile(exported, &reread));
    FUZZ_CHECK(reread.size() == merged.size());
    for (qsizetype i = 0; i < merged.size(); ++i)
        FUZZ_CHECK(samePreset(reread.at(i), configPresetFromStored(merged.at(i))));
    return 0;
}
