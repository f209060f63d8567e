#include "configdialogfixture.h"
#include "configpresets.h"
#include "displaytext.h"
#include "testsettings.h"

#include <QFileDialog>
#include <QInputDialog>
#include <QTemporaryDir>

namespace {

QString presetsKey()
{
    return QStringLiteral("ConfigDialog/customPresets");
}

QVariantMap stored(const QString& name, const QString& key, const QString& value, const QString& mode)
{
    return configPresetToMap({ name, key, value, mode });
}

QStringList comboTexts(QComboBox* combo)
{
    QStringList texts;
    for (int i = 0; i < combo->count(); ++i)
        texts << combo->itemText(i);
    return texts;
}

void answerName(const QString& name, bool accept = true)
{
    ModalDialogDriver::answerNext([name, accept](QWidget* widget) {
        auto* dialog = qobject_cast<QInputDialog*>(widget);
        QVERIFY(dialog);
        QCOMPARE(dialog->windowTitle(), QStringLiteral("Save preset"));
        QCOMPARE(dialog->labelText(), QStringLiteral("Preset name:"));
        if (!accept) {
            dialog->reject();
            return;
        }
        dialog->setTextValue(name);
        dialog->accept();
    });
}

void answerFile(const QString& path, const QString& title)
{
    ModalDialogDriver::answerNext([path, title](QWidget* widget) {
        auto* dialog = qobject_cast<QFileDialog*>(widget);
        QVERIFY(dialog);
        QCOMPARE(dialog->windowTitle(), title);
        if (path.isEmpty()) {
            dialog->reject();
            return;
        }
        ModalDialogDriver::chooseFile(dialog, path);
    });
}

QList<ConfigPreset> parsed(const QByteArray& data, bool* ok)
{
    QList<ConfigPreset> valid;
    *ok = parseConfigPresetsFile(data, &valid);
    return valid;
}

} // namespace

class TestConfigPresets : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

    void writeFile(const QString& path, const QByteArray& data)
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(data);
    }

    void importFile(ConfigDialogFixture& f, const QString& path)
    {
        answerFile(path, QStringLiteral("Import custom presets"));
        f.button("importPresetsButton")->click();
    }

private slots:
    void initTestCase()
    {
        useIsolatedTestSettings();
        QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
        QVERIFY(dir.isValid());
    }
    void init() { appSettings().clear(); }
    void cleanupTestCase() { appSettings().clear(); }

    void comboHoldsBuiltInsAndUsableStoredPresets();
    void applyPreset();
    void saveOverwriteAndDelete();
    void saveRefusals();
    void storedNameWithBlanksIsTheListedPreset();
    void exportImportRoundTrip();
    void importSkipsInvalidElements();
    void badImportFiles_data();
    void badImportFiles();
    void importMerge();
    void exportRefusals();
};

void TestConfigPresets::comboHoldsBuiltInsAndUsableStoredPresets()
{
    {
        ConfigDialogFixture f;
        QCOMPARE(comboTexts(f.child<QComboBox>("presetCombo")),
            (QStringList { QStringLiteral("Select preset…"), QStringLiteral("API: localhost:5001"),
                QStringLiteral("Gateway: localhost:8080"), QStringLiteral("Bootstrap: empty list []"),
                QStringLiteral("Discovery.MDNS.Enabled = true"),
                QStringLiteral("Discovery.MDNS.Enabled = false") }));
        QCOMPARE(f.child<QComboBox>("presetCombo")->currentIndex(), 0);
    }

    appSettings().setValue(presetsKey(),
        QVariantList { stored(QStringLiteral(" Mine "), QStringLiteral("Gateway.X"), QStringLiteral(" v "),
                           QStringLiteral("Whatever")),
            stored(QStringLiteral("No key"), QStringLiteral("  "), QStringLiteral("v"),
                QStringLiteral("String")),
            QStringLiteral("not a map") });
    ConfigDialogFixture f;
    QComboBox* combo = f.child<QComboBox>("presetCombo");
    QCOMPARE(combo->count(), 7);
    QCOMPARE(combo->itemText(6), QStringLiteral("Custom: Mine"));
    const QVariantMap data = combo->itemData(6).toMap();
    QCOMPARE(data.value(QStringLiteral("name")).toString(), QStringLiteral("Mine"));
    QCOMPARE(data.value(QStringLiteral("value")).toString(), QStringLiteral(" v "));
    QCOMPARE(data.value(QStringLiteral("custom")).toBool(), true);
    QCOMPARE(combo->itemData(1).toMap().value(QStringLiteral("custom")).toBool(), false);
}

void TestConfigPresets::applyPreset()
{
    ConfigDialogFixture f;
    QVERIFY(f.showAndLoad());
    QComboBox* combo = f.child<QComboBox>("presetCombo");
    f.button("applyPresetButton")->click();
    QCOMPARE(f.label()->text(), QStringLiteral("Select a preset first."));

    combo->setCurrentIndex(5); // Discovery.MDNS.Enabled = false
    f.button("applyPresetButton")->click();
    QVERIFY(f.waitIdle());
    QCOMPARE(f.child<QComboBox>("modeCombo")->currentText(), QStringLiteral("Bool"));
    QCOMPARE(f.child<QLineEdit>("keyEdit")->text(), QStringLiteral("Discovery.MDNS.Enabled"));
    QCOMPARE(f.setRequests().size(), 1);
    QCOMPARE(f.setRequests().first().queryValues(QStringLiteral("arg")).value(1), QStringLiteral("false"));
    QCOMPARE(f.setRequests().first().queryValue(QStringLiteral("bool")), QStringLiteral("true"));

    // A risky built-in asks first; No sends nothing.
    combo->setCurrentIndex(3); // Bootstrap: empty list []
    Question question;
    ConfigDialogFixture::answer(QMessageBox::No, &question);
    f.button("applyPresetButton")->click();
    QCOMPARE(question.title, QStringLiteral("Potentially risky key"));
    QCOMPARE(f.child<QComboBox>("modeCombo")->currentText(), QStringLiteral("JSON"));
    QTest::qWait(20);
    QCOMPARE(f.setRequests().size(), 1);

    // A stored preset whose mode is no mode text keeps the current mode.
    appSettings().setValue(presetsKey(),
        QVariantList { stored(QStringLiteral("odd"), QStringLiteral("Gateway.Y"), QStringLiteral("[1]"),
            QStringLiteral("json")) });
    ConfigDialogFixture g;
    QVERIFY(g.showAndLoad());
    g.child<QComboBox>("modeCombo")->setCurrentText(QStringLiteral("String"));
    g.child<QComboBox>("presetCombo")->setCurrentText(QStringLiteral("Custom: odd"));
    g.button("applyPresetButton")->click();
    QVERIFY(g.waitIdle());
    QCOMPARE(g.child<QComboBox>("modeCombo")->currentText(), QStringLiteral("String"));
    QCOMPARE(g.setRequests().size(), 1);
    QCOMPARE(g.setRequests().first().queryValues(QStringLiteral("arg")).value(1), QStringLiteral("[1]"));
    QCOMPARE(g.setRequests().first().queryValue(QStringLiteral("json")), QString());
}

void TestConfigPresets::saveOverwriteAndDelete()
{
    ConfigDialogFixture f;
    QComboBox* combo = f.child<QComboBox>("presetCombo");
    f.setKey(QStringLiteral(" Gateway.RootRedirect "), QStringLiteral(" /ipfs/x "), QStringLiteral("String"));
    answerName(QStringLiteral("  redirect  "));
    f.button("savePresetButton")->click();
    QCOMPARE(f.label()->text(), QStringLiteral("Saved preset 'redirect'."));
    QCOMPARE(appSettings().value(presetsKey()).toList(),
        (QVariantList { stored(QStringLiteral("redirect"), QStringLiteral("Gateway.RootRedirect"),
            QStringLiteral(" /ipfs/x "), QStringLiteral("String")) }));
    QCOMPARE(combo->currentText(), QStringLiteral("Custom: redirect"));

    f.setKey(QStringLiteral("Gateway.Other"), QStringLiteral("1"), QStringLiteral("JSON"));
    answerName(QStringLiteral("second"));
    f.button("savePresetButton")->click();

    // Same name, answered No: nothing changes and nothing is said.
    f.setKey(QStringLiteral("Gateway.Changed"), QStringLiteral("2"), QStringLiteral("JSON"));
    const QVariantList before = appSettings().value(presetsKey()).toList();
    const QString labelBefore = f.label()->text();
    Question question;
    ModalDialogDriver::answerNext([&question](QWidget* widget) {
        ConfigDialogFixture::answer(QMessageBox::No, &question);
        auto* dialog = qobject_cast<QInputDialog*>(widget);
        dialog->setTextValue(QStringLiteral("redirect"));
        dialog->accept();
    });
    f.button("savePresetButton")->click();
    QCOMPARE(question.title, QStringLiteral("Overwrite preset"));
    QCOMPARE(question.text, QStringLiteral("A preset named 'redirect' already exists. Overwrite it?"));
    QVERIFY(question.noIsDefault);
    QCOMPARE(question.icon, QMessageBox::Question);
    QCOMPARE(appSettings().value(presetsKey()).toList(), before);
    QCOMPARE(f.label()->text(), labelBefore);

    // Answered Yes: replaced where it stood.
    ModalDialogDriver::answerNext([&question](QWidget* widget) {
        ConfigDialogFixture::answer(QMessageBox::Yes, &question);
        auto* dialog = qobject_cast<QInputDialog*>(widget);
        dialog->setTextValue(QStringLiteral("redirect"));
        dialog->accept();
    });
    f.button("savePresetButton")->click();
    QVariantList after = appSettings().value(presetsKey()).toList();
    QCOMPARE(after.size(), 2);
    QCOMPARE(after.at(0).toMap().value(QStringLiteral("key")).toString(), QStringLiteral("Gateway.Changed"));
    QCOMPARE(after.at(1).toMap().value(QStringLiteral("name")).toString(), QStringLiteral("second"));

    // Letter case makes another name.
    answerName(QStringLiteral("Redirect"));
    f.button("savePresetButton")->click();
    QCOMPARE(appSettings().value(presetsKey()).toList().size(), 3);

    // A built-in's name can be stored, but the built-in comes first in the combo.
    answerName(QStringLiteral("builtin-mdns-true"));
    f.button("savePresetButton")->click();
    QCOMPARE(appSettings().value(presetsKey()).toList().size(), 4);
    QCOMPARE(combo->currentText(), QStringLiteral("Discovery.MDNS.Enabled = true"));
    QVERIFY(comboTexts(combo).contains(QStringLiteral("Custom: builtin-mdns-true")));

    // Delete: built-ins cannot go; a custom one asks first.
    f.button("deletePresetButton")->click();
    QCOMPARE(f.label()->text(), QStringLiteral("Select a custom preset to delete."));
    combo->setCurrentText(QStringLiteral("Custom: second"));
    ConfigDialogFixture::answer(QMessageBox::No, &question);
    f.button("deletePresetButton")->click();
    QCOMPARE(question.title, QStringLiteral("Delete preset"));
    QCOMPARE(question.text, QStringLiteral("Delete preset 'second'?"));
    QVERIFY(question.noIsDefault);
    QCOMPARE(question.icon, QMessageBox::Warning);
    QCOMPARE(appSettings().value(presetsKey()).toList().size(), 4);
    ConfigDialogFixture::answer(QMessageBox::Yes, &question);
    f.button("deletePresetButton")->click();
    QCOMPARE(f.label()->text(), QStringLiteral("Deleted preset 'second'."));
    QCOMPARE(appSettings().value(presetsKey()).toList().size(), 3);
    QCOMPARE(combo->currentIndex(), 0);
    QVERIFY(!comboTexts(combo).contains(QStringLiteral("Custom: second")));
}

void TestConfigPresets::saveRefusals()
{
    ConfigDialogFixture f;
    f.setKey(QStringLiteral("Gateway.X"), QStringLiteral("   "), QStringLiteral("String"));
    f.button("savePresetButton")->click();
    QCOMPARE(f.label()->text(), QStringLiteral("Enter key and value before saving a preset."));

    f.setKey(QStringLiteral("Gateway.X"), QStringLiteral("v"), QStringLiteral("String"));
    answerName(QString(), false);
    f.button("savePresetButton")->click();
    QCOMPARE(f.label()->text(), QStringLiteral("Enter key and value before saving a preset."));

    answerName(QStringLiteral("   "));
    f.button("savePresetButton")->click();
    QCOMPARE(f.label()->text(), QStringLiteral("Preset name is required."));
    QVERIFY(!appSettings().contains(presetsKey()));
}

// A stored name with blanks around it is listed trimmed; overwriting and deleting reach it.
void TestConfigPresets::storedNameWithBlanksIsTheListedPreset()
{
    appSettings().setValue(presetsKey(),
        QVariantList { stored(QStringLiteral(" spaced "), QStringLiteral("Gateway.X"), QStringLiteral("old"),
                           QStringLiteral("String")),
            stored(QStringLiteral("other"), QStringLiteral("Gateway.Y"), QStringLiteral("v"),
                QStringLiteral("String")) });
    ConfigDialogFixture f;
    QComboBox* combo = f.child<QComboBox>("presetCombo");

    f.setKey(QStringLiteral("Gateway.X"), QStringLiteral("new"), QStringLiteral("String"));
    Question question;
    ModalDialogDriver::answerNext([&question](QWidget* widget) {
        ConfigDialogFixture::answer(QMessageBox::Yes, &question);
        auto* dialog = qobject_cast<QInputDialog*>(widget);
        dialog->setTextValue(QStringLiteral("spaced"));
        dialog->accept();
    });
    f.button("savePresetButton")->click();
    QCOMPARE(question.title, QStringLiteral("Overwrite preset"));
    QVariantList after = appSettings().value(presetsKey()).toList();
    QCOMPARE(after.size(), 2);
    QCOMPARE(after.at(0).toMap(),
        stored(QStringLiteral("spaced"), QStringLiteral("Gateway.X"), QStringLiteral("new"),
            QStringLiteral("String")));
    QCOMPARE(comboTexts(combo).count(QStringLiteral("Custom: spaced")), 1);
    QCOMPARE(combo->currentData().toMap().value(QStringLiteral("value")).toString(), QStringLiteral("new"));

    appSettings().setValue(presetsKey(),
        QVariantList { stored(QStringLiteral("\tspaced "), QStringLiteral("Gateway.X"), QStringLiteral("v"),
                           QStringLiteral("String")),
            after.at(1) });
    ConfigDialogFixture g;
    combo = g.child<QComboBox>("presetCombo");
    combo->setCurrentText(QStringLiteral("Custom: spaced"));
    ConfigDialogFixture::answer(QMessageBox::Yes, &question);
    g.button("deletePresetButton")->click();
    QCOMPARE(g.label()->text(), QStringLiteral("Deleted preset 'spaced'."));
    QCOMPARE(appSettings().value(presetsKey()).toList(), QVariantList { after.at(1) });
    QVERIFY(!comboTexts(combo).contains(QStringLiteral("Custom: spaced")));
}

void TestConfigPresets::exportImportRoundTrip()
{
    const QVariantList presets {
        stored(QStringLiteral("api"), QStringLiteral("Addresses.API"),
            QStringLiteral("/ip4/127.0.0.1/tcp/5002"), QStringLiteral("String")),
        stored(QStringLiteral("peers"), QStringLiteral("Bootstrap"), QStringLiteral(" [\"/ip4/1.2.3.4\"] "),
            QStringLiteral("JSON")),
        stored(QStringLiteral("mdns"), QStringLiteral("Discovery.MDNS.Enabled"), QStringLiteral("true"),
            QStringLiteral("Bool")),
        stored(QStringLiteral("broken"), QString(), QStringLiteral("x"), QStringLiteral("String")),
    };
    appSettings().setValue(presetsKey(), presets);
    const QString path = dir.filePath(QStringLiteral("round-trip.json"));

    {
        ConfigDialogFixture f;
        answerFile(path, QStringLiteral("Export custom presets"));
        f.button("exportPresetsButton")->click();
        QCOMPARE(f.label()->text(), QStringLiteral("Exported 3 preset(s)."));
    }

    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray content = file.readAll();
    QVERIFY(content.contains(
        "\n    {\n        \"key\": \"Addresses.API\",\n        \"mode\": \"String\",\n        "
        "\"name\": \"api\",\n        \"value\": \"/ip4/127.0.0.1/tcp/5002\"\n    }"));
    const QJsonArray array = QJsonDocument::fromJson(content).array();
    QCOMPARE(array.size(), 3);
    for (const QJsonValue& element : array)
        QCOMPARE(element.toObject().keys().size(), 4);

    // Importing into an empty store gives back the same presets (the broken one is gone).
    appSettings().remove(presetsKey());
    ConfigDialogFixture f;
    importFile(f, path);
    QCOMPARE(f.label()->text(), QStringLiteral("Imported 3 preset(s)."));
    QCOMPARE(appSettings().value(presetsKey()).toList(), presets.mid(0, 3));
    QCOMPARE(f.child<QComboBox>("presetCombo")->count(), 9);

    // Twice: one preset per name, and the count is that of the file.
    importFile(f, path);
    QCOMPARE(f.label()->text(), QStringLiteral("Imported 3 preset(s)."));
    QCOMPARE(appSettings().value(presetsKey()).toList().size(), 3);
}

void TestConfigPresets::importSkipsInvalidElements()
{
    bool ok = false;
    const QList<ConfigPreset> valid = parsed(R"([
        {"name": " a ", "key": " K ", "value": " v ", "mode": " Bool ", "extra": 1},
        {"name": "b", "key": "K", "value": 5, "mode": "String"},
        {"name": "c", "key": "K", "mode": "string"},
        {"name": "", "key": "K", "mode": "JSON"},
        {"name": "d", "key": ["K"], "mode": "JSON"},
        {"name": 7, "key": "K", "mode": "JSON"},
        "text", 3, null, [],
        {"mode": "JSON", "key": "K2", "name": "e"}
    ])",
        &ok);
    QVERIFY(ok);
    QCOMPARE(valid.size(), 3);
    QCOMPARE(valid.at(0).name, QStringLiteral("a"));
    QCOMPARE(valid.at(0).key, QStringLiteral("K"));
    QCOMPARE(valid.at(0).value, QStringLiteral(" v "));
    QCOMPARE(valid.at(0).mode, QStringLiteral("Bool"));
    QCOMPARE(valid.at(1).value, QString()); // a number is no text
    QCOMPARE(valid.at(2).name, QStringLiteral("e"));

    QCOMPARE(parsed("[]", &ok).size(), 0);
    QVERIFY(ok);
    for (const QByteArray& bad : { QByteArray("{}"), QByteArray("\"[]\""), QByteArray("[1,"), QByteArray(""),
             QByteArray("\xff\xfe"), QByteArray("[] []") }) {
        parsed(bad, &ok);
        QVERIFY2(!ok, bad.constData());
    }
}

void TestConfigPresets::badImportFiles_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("message");

    const QString notArray = QStringLiteral("Import file must be a JSON array of presets.");
    const QString noneValid = QStringLiteral("No valid presets found in file.");
    QTest::newRow("not json") << QByteArray("name=api\nkey=Addresses.API\n") << notArray;
    QTest::newRow("binary") << QByteArray("\x89PNG\r\n\x1a\n\0\0\0", 11) << notArray;
    QTest::newRow("object") << QByteArray(R"({"name":"a","key":"K","value":"v","mode":"String"})")
                            << notArray;
    QTest::newRow("empty file") << QByteArray() << notArray;
    QTest::newRow("empty array") << QByteArray("[]") << noneValid;
    QTest::newRow("wrong types") << QByteArray(R"([{"name":1,"key":true,"value":[],"mode":{}}, [], "x"])")
                                 << noneValid;
    QTest::newRow("unknown mode") << QByteArray(R"([{"name":"a","key":"K","value":"v","mode":"Text"}])")
                                  << noneValid;
    QByteArray huge = "[";
    const QByteArray element = R"({"name":"n","key":"K","value":"v","mode":"String"},)";
    while (huge.size() <= kMaxConfigPresetsFileSize)
        huge += element;
    huge += element.chopped(1) + "]";
    QTest::newRow("huge") << huge << QStringLiteral("Could not open file: the file is larger than 4 MiB");
}

void TestConfigPresets::badImportFiles()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, message);

    const QVariantList presets { stored(
        QStringLiteral("keep"), QStringLiteral("Gateway.X"), QStringLiteral("v"), QStringLiteral("String")) };
    appSettings().setValue(presetsKey(), presets);
    const QString path = dir.filePath(QStringLiteral("bad.json"));
    writeFile(path, content);

    ConfigDialogFixture f;
    importFile(f, path);
    QCOMPARE(f.label()->text(), message);
    QCOMPARE(f.label()->styleSheet(), errorTextStyle());
    QCOMPARE(f.statuses.last(), QStringLiteral("Config error: %1").arg(message));
    QCOMPARE(appSettings().value(presetsKey()).toList(), presets);
    QCOMPARE(f.child<QComboBox>("presetCombo")->count(), 7);
}

void TestConfigPresets::importMerge()
{
    const QVariantList storedList {
        stored(QStringLiteral("one"), QStringLiteral("K1"), QStringLiteral("old"), QStringLiteral("String")),
        stored(QStringLiteral("junk"), QStringLiteral("K"), QStringLiteral("v"), QStringLiteral(" ")),
        stored(QStringLiteral("two"), QStringLiteral("K2"), QStringLiteral("v2"), QStringLiteral("Custom")),
    };
    const QList<ConfigPreset> imported {
        { QStringLiteral("three"), QStringLiteral("K3"), QStringLiteral("a"), QStringLiteral("JSON") },
        { QStringLiteral("one"), QStringLiteral("K1"), QStringLiteral("first"), QStringLiteral("Bool") },
        { QStringLiteral("one"), QStringLiteral("K1"), QStringLiteral("last"), QStringLiteral("Bool") },
    };
    const QVariantList merged = mergeImportedConfigPresets(storedList, imported);
    QCOMPARE(merged.size(), 3);
    QMap<QString, QString> values;
    for (const QVariant& entry : merged)
        values.insert(entry.toMap().value(QStringLiteral("name")).toString(),
            entry.toMap().value(QStringLiteral("value")).toString());
    QCOMPARE(values.value(QStringLiteral("one")), QStringLiteral("last"));
    QCOMPARE(values.value(QStringLiteral("two")), QStringLiteral("v2"));
    QCOMPARE(values.value(QStringLiteral("three")), QStringLiteral("a"));
    QVERIFY(!values.contains(QStringLiteral("junk")));
}

void TestConfigPresets::exportRefusals()
{
    ConfigDialogFixture f;
    f.button("exportPresetsButton")->click();
    QCOMPARE(f.label()->text(), QStringLiteral("No custom presets to export."));

    appSettings().setValue(presetsKey(),
        QVariantList {
            stored(QStringLiteral("x"), QString(), QStringLiteral("v"), QStringLiteral("String")) });
    const QString path = dir.filePath(QStringLiteral("nothing.json"));
    answerFile(path, QStringLiteral("Export custom presets"));
    f.button("exportPresetsButton")->click();
    QCOMPARE(f.label()->text(), QStringLiteral("No valid custom presets to export."));
    QVERIFY(!QFile::exists(path));

    // A cancelled dialog says nothing.
    appSettings().setValue(presetsKey(),
        QVariantList { stored(
            QStringLiteral("x"), QStringLiteral("K"), QStringLiteral("v"), QStringLiteral("String")) });
    answerFile(QString(), QStringLiteral("Export custom presets"));
    f.button("exportPresetsButton")->click();
    QCOMPARE(f.label()->text(), QStringLiteral("No valid custom presets to export."));

    // A file that cannot be written is reported, not announced as exported.
    const QString blocked = dir.filePath(QStringLiteral("missing-folder/presets.json"));
    ModalDialogDriver::answerNext([blocked](QWidget* widget) {
        auto* dialog = qobject_cast<QFileDialog*>(widget);
        // The dialog itself refuses a folder that does not exist; skip its check.
        dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(blocked);
        static_cast<QDialog*>(dialog)->done(QDialog::Accepted);
    });
    f.button("exportPresetsButton")->click();
    QVERIFY2(
        f.label()->text().startsWith(QLatin1String("Could not write file: ")), qPrintable(f.label()->text()));
}

QTEST_MAIN(TestConfigPresets)
#include "tst_configpresets.moc"
