#include "configdialogfixture.h"
#include "configreplaceeditor.h"
#include "configvaluetext.h"
#include "displaytext.h"
#include "testsettings.h"

#include <QDialogButtonBox>
#include <QPlainTextEdit>

namespace {

// Edits the replace editor's text and presses "Replace", or cancels when text is null.
void answerEditor(const QString& text, QString* shown = nullptr)
{
    ModalDialogDriver::answerNext([text, shown](QWidget* widget) {
        auto* editor = qobject_cast<ConfigReplaceEditor*>(widget);
        QVERIFY(editor);
        QCOMPARE(editor->windowTitle(), QStringLiteral("Replace Kubo config"));
        auto* edit = editor->findChild<QPlainTextEdit*>();
        if (shown)
            *shown = edit->toPlainText();
        auto* buttons = editor->findChild<QDialogButtonBox*>();
        QCOMPARE(buttons->button(QDialogButtonBox::Ok)->text(), QStringLiteral("Replace"));
        if (text.isNull()) {
            buttons->button(QDialogButtonBox::Cancel)->click();
            return;
        }
        edit->setPlainText(text);
        buttons->button(QDialogButtonBox::Ok)->click();
    });
}

} // namespace

class TestConfigDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { useIsolatedTestSettings(); }
    void init() { appSettings().clear(); }
    void cleanupTestCase() { appSettings().clear(); }

    void loadsOnShowAndFillsTree();
    void treeFollowsExpandedSetting();
    void expandCollapseWithLeafFirst_data();
    void expandCollapseWithLeafFirst();
    void getKeyFillsEdits();
    void setKeyByMode_data();
    void setKeyByMode();
    void riskyKeys_data();
    void riskyKeys();
    void riskyKeyQuestion_data();
    void riskyKeyQuestion();
    void backupIsTakenOnceBeforeTheFirstChange();
    void setBeforeLoadTakesNoBackup();
    void replaceRefusals();
    void replaceQuestion_data();
    void replaceQuestion();
    void unchangedReplaceSendsTheConfigAsRead();
    void failedReplaceCanBeRestored();
    void restoreQuestion_data();
    void restoreQuestion();
    void nodeErrorsEndInTheLabel();
    void jsonValueTexts_data();
    void jsonValueTexts();
};

void TestConfigDialog::loadsOnShowAndFillsTree()
{
    ConfigDialogFixture f;
    QCOMPARE(f.dialog->windowTitle(), QStringLiteral("Kubo config"));
    QCOMPARE(f.label()->text(), QStringLiteral("Click Refresh to load config from /api/v0/config/show"));
    QCOMPARE(f.label()->styleSheet(), hintTextStyle());
    QVERIFY(!f.button("restoreBackupButton")->isEnabled());

    QVERIFY(f.showAndLoad());
    QCOMPARE(f.node.requestCount(QStringLiteral("/config/show")), 1);
    QCOMPARE(f.statuses,
        (QStringList { QStringLiteral("Fetching config…"), QStringLiteral("Config loaded (7 keys)") }));
    QCOMPARE(f.label()->text(), QStringLiteral("Loaded 7 top-level keys from /api/v0/config/show"));
    QCOMPARE(f.label()->styleSheet(), QString());

    QTreeWidget* tree = f.tree();
    QCOMPARE(tree->topLevelItemCount(), 7);
    QCOMPARE(tree->topLevelItem(0)->text(0), QStringLiteral("API"));
    QTreeWidgetItem* addresses = tree->topLevelItem(1);
    QCOMPARE(addresses->child(1)->text(0), QStringLiteral("Swarm []"));
    QCOMPARE(addresses->child(1)->child(1)->text(0), QStringLiteral("[1]"));
    QCOMPARE(addresses->child(1)->child(1)->text(1), QStringLiteral("/ip6/::/tcp/4001"));
    QTreeWidgetItem* datastore = tree->topLevelItem(3);
    QCOMPARE(datastore->child(0)->text(1), QStringLiteral("1.04858e+06"));
    QCOMPARE(tree->topLevelItem(4)->child(0)->child(0)->text(1), QStringLiteral("true"));
    QCOMPARE(tree->topLevelItem(5)->child(0)->text(1), QString()); // null
    QTreeWidgetItem* connMgr = tree->topLevelItem(6)->child(0);
    QCOMPARE(connMgr->child(0)->text(1), QStringLiteral("96"));
    QCOMPARE(connMgr->child(1)->child(0)->text(0), QStringLiteral("[0] []"));
    QVERIFY(connMgr->isExpanded());
    QCOMPARE(f.button("expandCollapseBtn")->text(), QStringLiteral("Collapse All"));

    // A later show with a tree loads nothing again.
    f.dialog->hide();
    f.dialog->show();
    QTest::qWait(20);
    QCOMPARE(f.node.requestCount(QStringLiteral("/config/show")), 1);
}

void TestConfigDialog::treeFollowsExpandedSetting()
{
    appSettings().setValue(QStringLiteral("ConfigDialog/treeExpanded"), false);
    ConfigDialogFixture f;
    QCOMPARE(f.button("expandCollapseBtn")->text(), QStringLiteral("Expand All"));
    QVERIFY(f.showAndLoad());
    QVERIFY(!f.tree()->topLevelItem(1)->isExpanded());
    QVERIFY(!f.tree()->topLevelItem(6)->child(0)->isExpanded());
    QCOMPARE(f.button("expandCollapseBtn")->text(), QStringLiteral("Expand All"));

    f.button("expandCollapseBtn")->click();
    QVERIFY(f.tree()->topLevelItem(6)->child(0)->child(1)->isExpanded());
    QCOMPARE(f.button("expandCollapseBtn")->text(), QStringLiteral("Collapse All"));
    QCOMPARE(f.statuses.last(), QStringLiteral("Expanded config tree"));
    QCOMPARE(appSettings().value(QStringLiteral("ConfigDialog/treeExpanded")).toBool(), true);

    f.button("expandCollapseBtn")->click();
    QVERIFY(!f.tree()->topLevelItem(1)->isExpanded());
    QCOMPARE(f.statuses.last(), QStringLiteral("Collapsed config tree"));
    QCOMPARE(appSettings().value(QStringLiteral("ConfigDialog/treeExpanded")).toBool(), false);
}

void TestConfigDialog::expandCollapseWithLeafFirst_data()
{
    QTest::addColumn<QByteArray>("config");
    QTest::newRow("scalar first") << QByteArray(R"({"A": 1, "B": {"C": {"D": 2}}})");
    QTest::newRow("empty object first") << QByteArray(R"({"A": {}, "B": {"C": {"D": 2}}})");
    QTest::newRow("no branches") << QByteArray(R"({"A": 1, "B": []})");
}

// The button does what its text says, also when the first key has no children.
void TestConfigDialog::expandCollapseWithLeafFirst()
{
    QFETCH(QByteArray, config);
    ConfigDialogFixture f;
    f.config = QJsonDocument::fromJson(config).object();
    QVERIFY(f.showAndLoad());
    QPushButton* button = f.button("expandCollapseBtn");
    QTreeWidgetItem* branch = f.tree()->topLevelItem(1)->child(0);

    for (const bool expanded : { false, true, false }) {
        QCOMPARE(button->text(), expanded ? QStringLiteral("Expand All") : QStringLiteral("Collapse All"));
        button->click();
        QCOMPARE(button->text(), expanded ? QStringLiteral("Collapse All") : QStringLiteral("Expand All"));
        QCOMPARE(f.statuses.last(),
            expanded ? QStringLiteral("Expanded config tree") : QStringLiteral("Collapsed config tree"));
        QCOMPARE(appSettings().value(QStringLiteral("ConfigDialog/treeExpanded")).toBool(), expanded);
        if (branch)
            QCOMPARE(branch->isExpanded(), expanded);
    }
}

void TestConfigDialog::getKeyFillsEdits()
{
    ConfigDialogFixture f;
    QVERIFY(f.showAndLoad());
    f.setKey(QStringLiteral("  Datastore.BloomFilterSize "), QStringLiteral("old"), QStringLiteral("JSON"));
    f.button("getButton")->click();
    QVERIFY(f.waitIdle());
    QCOMPARE(f.node.requests(QStringLiteral("/config")).last().query,
        (QList<QPair<QString, QString>> {
            { QStringLiteral("arg"), QStringLiteral("Datastore.BloomFilterSize") } }));
    QCOMPARE(f.child<QLineEdit>("keyEdit")->text(), QStringLiteral("Datastore.BloomFilterSize"));
    // Every digit survives, so writing the value back does not change it.
    QCOMPARE(f.child<QLineEdit>("valueEdit")->text(), QStringLiteral("1048576"));
    QCOMPARE(f.label()->text(), QStringLiteral("Loaded key 'Datastore.BloomFilterSize'"));
    QCOMPARE(f.child<QComboBox>("modeCombo")->currentText(), QStringLiteral("JSON"));

    f.setKey(QStringLiteral("Addresses.Swarm"), QString(), QStringLiteral("String"));
    f.button("getButton")->click();
    QVERIFY(f.waitIdle());
    QCOMPARE(f.child<QLineEdit>("valueEdit")->text(),
        QStringLiteral("[\"/ip4/0.0.0.0/tcp/4001\",\"/ip6/::/tcp/4001\"]"));

    f.setKey(QStringLiteral("   "), QString(), QStringLiteral("String"));
    const int before = f.node.requestCount(QStringLiteral("/config"));
    f.button("getButton")->click();
    QCOMPARE(f.label()->text(), QStringLiteral("Config key is required."));
    QCOMPARE(f.node.requestCount(QStringLiteral("/config")), before);
}

void TestConfigDialog::setKeyByMode_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("error");
    QTest::addColumn<QString>("sent");
    QTest::addColumn<QString>("flag");

    const QString key = QStringLiteral("Gateway.Value");
    QTest::newRow("bool TRUE with blanks") << key << "Bool"
                                           << "  TRUE " << QString() << "true"
                                           << "bool";
    QTest::newRow("bool False") << key << "Bool"
                                << "False" << QString() << "false"
                                << "bool";
    QTest::newRow("bool yes") << key << "Bool"
                              << "yes"
                              << "Bool mode accepts only true or false." << QString() << QString();
    QTest::newRow("json empty array") << key << "JSON"
                                      << "[]" << QString() << "[]"
                                      << "json";
    QTest::newRow("json quoted string") << key << "JSON"
                                        << " \"a b\" " << QString() << "\"a b\""
                                        << "json";
    QTest::newRow("json seven digits") << key << "JSON"
                                       << "1234567" << QString() << "1234567"
                                       << "json";
    QTest::newRow("json object made compact")
        << key << "JSON"
        << "{ \"b\" : [1, 2],\n \"a\": null }" << QString() << "{\"a\":null,\"b\":[1,2]}"
        << "json";
    QTest::newRow("json false") << key << "JSON"
                                << "false" << QString() << "false"
                                << "json";
    QTest::newRow("json bare word") << key << "JSON"
                                    << "hello"
                                    << "JSON mode requires a valid JSON value." << QString() << QString();
    QTest::newRow("json value with extra members")
        << key << "JSON"
        << "1, \"w\": 2"
        << "JSON mode requires a valid JSON value." << QString() << QString();
    QTest::newRow("json two values") << key << "JSON"
                                     << "1, 2"
                                     << "JSON mode requires a valid JSON value." << QString() << QString();
    QTest::newRow("json trailing comma")
        << key << "JSON"
        << "[1],"
        << "JSON mode requires a valid JSON value." << QString() << QString();
    QTest::newRow("string keeps blanks") << key << "String"
                                         << " a b " << QString() << " a b " << QString();
    QTest::newRow("string of json text") << key << "String"
                                         << "[1,2]" << QString() << "[1,2]" << QString();
    QTest::newRow("string blanks only") << key << "String"
                                        << "   "
                                        << "Config value is required." << QString() << QString();
    QTest::newRow("bool blanks only") << key << "Bool"
                                      << " \t"
                                      << "Config value is required." << QString() << QString();
    QTest::newRow("json blanks only") << key << "JSON"
                                      << "  "
                                      << "Config value is required." << QString() << QString();
    QTest::newRow("blank key") << "   "
                               << "Bool"
                               << "true"
                               << "Config key is required." << QString() << QString();
}

void TestConfigDialog::setKeyByMode()
{
    QFETCH(QString, key);
    QFETCH(QString, mode);
    QFETCH(QString, typed);
    QFETCH(QString, error);
    QFETCH(QString, sent);
    QFETCH(QString, flag);

    ConfigDialogFixture f;
    QVERIFY(f.showAndLoad());
    f.statuses.clear();
    f.setKey(key, typed, mode);
    f.button("setButton")->click();

    if (!error.isEmpty()) {
        QCOMPARE(f.label()->text(), error);
        QCOMPARE(f.label()->styleSheet(), errorTextStyle());
        QCOMPARE(f.statuses, QStringList { QStringLiteral("Config error: %1").arg(error) });
        QTest::qWait(20);
        QCOMPARE(f.setRequests().size(), 0);
        QVERIFY(!f.button("restoreBackupButton")->isEnabled());
        return;
    }

    QVERIFY(f.waitIdle());
    QCOMPARE(f.setRequests().size(), 1);
    const FakeKuboNode::Request request = f.setRequests().first();
    QCOMPARE(request.queryValues(QStringLiteral("arg")), (QStringList { key.trimmed(), sent }));
    QCOMPARE(request.queryValue(QStringLiteral("bool")),
        flag == QLatin1String("bool") ? QStringLiteral("true") : QString());
    QCOMPARE(request.queryValue(QStringLiteral("json")),
        flag == QLatin1String("json") ? QStringLiteral("true") : QString());

    // The write is followed by a reload of the whole config.
    QCOMPARE(f.node.requestCount(QStringLiteral("/config/show")), 2);
    QCOMPARE(f.statuses,
        (QStringList { QStringLiteral("Fetching config…"), QStringLiteral("Config loaded (8 keys)") }));
    QVERIFY(f.button("restoreBackupButton")->isEnabled());
}

void TestConfigDialog::riskyKeys_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<bool>("risky");
    QTest::newRow("Addresses.API") << "Addresses.API" << true;
    QTest::newRow("lower case with blanks") << "  addresses.api " << true;
    QTest::newRow("below Addresses.API") << "Addresses.API.Extra" << true;
    QTest::newRow("Addresses.APIx") << "Addresses.APIx" << false;
    QTest::newRow("Addresses alone") << "Addresses" << false;
    QTest::newRow("Addresses.Gateway") << "ADDRESSES.GATEWAY" << true;
    QTest::newRow("Addresses.Swarm") << "Addresses.Swarm" << false;
    QTest::newRow("Bootstrap") << "Bootstrap" << true;
    QTest::newRow("Swarm") << "Swarm" << true;
    QTest::newRow("Swarm.ConnMgr.HighWater") << "Swarm.ConnMgr.HighWater" << true;
    QTest::newRow("SwarmKey") << "SwarmKey" << false;
    QTest::newRow("Identity.PeerID") << "Identity.PeerID" << true;
    QTest::newRow("Datastore") << "Datastore" << true;
    QTest::newRow("Datastore2") << "Datastore2" << false;
    QTest::newRow("Gateway") << "Gateway" << false;
    QTest::newRow("empty") << "" << false;
}

void TestConfigDialog::riskyKeys()
{
    QFETCH(QString, key);
    QFETCH(bool, risky);
    QCOMPARE(isRiskyConfigKey(key), risky);
}

void TestConfigDialog::riskyKeyQuestion_data()
{
    QTest::addColumn<bool>("yes");
    QTest::newRow("no") << false;
    QTest::newRow("yes") << true;
}

void TestConfigDialog::riskyKeyQuestion()
{
    QFETCH(bool, yes);
    ConfigDialogFixture f;
    QVERIFY(f.showAndLoad());
    f.setKey(QStringLiteral(" Addresses.API "), QStringLiteral("/ip4/127.0.0.1/tcp/5002"),
        QStringLiteral("String"));
    const QString labelBefore = f.label()->text();

    Question question;
    ConfigDialogFixture::answer(yes ? QMessageBox::Yes : QMessageBox::No, &question);
    f.button("setButton")->click();
    QVERIFY(question.asked);
    QCOMPARE(question.title, QStringLiteral("Potentially risky key"));
    QCOMPARE(question.text,
        QStringLiteral("You are changing 'Addresses.API'.\n\nThis may break RPC connectivity or "
                       "networking.\nProceed?"));
    QVERIFY(question.noIsDefault);
    QCOMPARE(question.icon, QMessageBox::Warning);

    if (!yes) {
        QTest::qWait(20);
        QCOMPARE(f.setRequests().size(), 0);
        QCOMPARE(f.label()->text(), labelBefore);
        QVERIFY(!f.button("restoreBackupButton")->isEnabled());
        return;
    }
    QVERIFY(f.waitIdle());
    QCOMPARE(f.setRequests().size(), 1);
    QCOMPARE(f.config.value(QLatin1String("Addresses")).toObject().value(QLatin1String("API")).toString(),
        QStringLiteral("/ip4/127.0.0.1/tcp/5002"));
    QVERIFY(f.button("restoreBackupButton")->isEnabled());
}

void TestConfigDialog::backupIsTakenOnceBeforeTheFirstChange()
{
    ConfigDialogFixture f;
    QVERIFY(f.showAndLoad());
    const QJsonObject original = f.config;

    f.setKey(QStringLiteral("Gateway.First"), QStringLiteral("one"), QStringLiteral("String"));
    f.button("setButton")->click();
    QVERIFY(f.waitIdle());
    f.setKey(QStringLiteral("Gateway.Second"), QStringLiteral("two"), QStringLiteral("String"));
    f.button("setButton")->click();
    QVERIFY(f.waitIdle());
    QVERIFY(f.config.contains(QLatin1String("Gateway")));

    // Restoring brings back the config from before the first write, and can be done twice.
    for (int round = 0; round < 2; ++round) {
        Question question;
        ConfigDialogFixture::answer(QMessageBox::Yes, &question);
        f.button("restoreBackupButton")->click();
        QVERIFY(f.waitIdle() && question.asked);
        QCOMPARE(f.config, original);
        f.config.insert(QStringLiteral("Gateway"), QJsonObject());
    }
    QCOMPARE(f.node.requestCount(QStringLiteral("/config/replace")), 2);
}

void TestConfigDialog::setBeforeLoadTakesNoBackup()
{
    ConfigDialogFixture f;
    // Not shown, so nothing is loaded.
    f.setKey(QStringLiteral("Gateway.X"), QStringLiteral("1"), QStringLiteral("JSON"));
    f.button("setButton")->click();
    QVERIFY(f.waitIdle());
    QCOMPARE(f.setRequests().size(), 1);
    QVERIFY(!f.button("restoreBackupButton")->isEnabled());

    f.button("restoreBackupButton")->click(); // disabled: nothing happens
    QVERIFY(QMetaObject::invokeMethod(f.dialog, "onRestoreBackupClicked"));
    QCOMPARE(f.label()->text(), QStringLiteral("No backup is available."));
    QCOMPARE(f.node.requestCount(QStringLiteral("/config/replace")), 0);
}

void TestConfigDialog::replaceRefusals()
{
    ConfigDialogFixture f;
    f.button("replaceButton")->click();
    QCOMPARE(f.label()->text(), QStringLiteral("Load config first before replacing."));
    QCOMPARE(f.statuses.last(), QStringLiteral("Config error: Load config first before replacing."));

    QVERIFY(f.showAndLoad());
    // Cancelled: nothing at all.
    QString shown;
    answerEditor(QString(), &shown);
    f.button("replaceButton")->click();
    QCOMPARE(QJsonDocument::fromJson(shown.toUtf8()).object(), f.config);
    QVERIFY(shown.contains(QLatin1Char('\n'))); // indented

    // Not an object, or not JSON.
    for (const QString& text :
        { QStringLiteral("[1, 2]"), QStringLiteral("{\"API\": "), QStringLiteral("") }) {
        answerEditor(text);
        f.button("replaceButton")->click();
        QCOMPARE(f.label()->text(), QStringLiteral("Config replace requires valid JSON object."));
    }
    QTest::qWait(20);
    QCOMPARE(f.node.requestCount(QStringLiteral("/config/replace")), 0);
    QVERIFY(!f.button("restoreBackupButton")->isEnabled());
}

void TestConfigDialog::replaceQuestion_data()
{
    QTest::addColumn<bool>("yes");
    QTest::newRow("no") << false;
    QTest::newRow("yes") << true;
}

void TestConfigDialog::replaceQuestion()
{
    QFETCH(bool, yes);
    ConfigDialogFixture f;
    QVERIFY(f.showAndLoad());
    f.statuses.clear();

    const QString text = QStringLiteral(
        "  {\"Addresses\": {\"API\": \"/ip4/127.0.0.1/tcp/5001\"},\n \"New\": \"a\u00a0b\"}\n");
    Question question;
    ModalDialogDriver::answerNext([&](QWidget* editor) {
        ConfigDialogFixture::answer(yes ? QMessageBox::Yes : QMessageBox::No, &question);
        editor->findChild<QPlainTextEdit*>()->setPlainText(text);
        editor->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    });
    f.button("replaceButton")->click();
    QVERIFY(question.asked);
    QCOMPARE(question.title, QStringLiteral("Replace full config"));
    QCOMPARE(question.text, QStringLiteral("This will replace the entire Kubo config.\n\nContinue?"));
    QVERIFY(question.noIsDefault);
    QCOMPARE(question.icon, QMessageBox::Warning);

    if (!yes) {
        QTest::qWait(20);
        QCOMPARE(f.node.requestCount(QStringLiteral("/config/replace")), 0);
        QVERIFY(!f.button("restoreBackupButton")->isEnabled());
        return;
    }
    QVERIFY(f.waitIdle());
    // The text goes up exactly as typed.
    QCOMPARE(f.node.requests(QStringLiteral("/config/replace")).first().parts.value(0).body, text.toUtf8());
    QCOMPARE(f.tree()->topLevelItemCount(), 2);
    QCOMPARE(f.statuses,
        (QStringList { QStringLiteral("Fetching config…"), QStringLiteral("Config loaded (2 keys)") }));
    QVERIFY(f.button("restoreBackupButton")->isEnabled());
}

void TestConfigDialog::unchangedReplaceSendsTheConfigAsRead()
{
    ConfigDialogFixture f;
    // Characters a text editor is apt to change: a no-break space, line and paragraph separators,
    // the editor's own block markers, a carriage return.
    f.config.insert(QStringLiteral("Text"),
        QJsonObject { { QStringLiteral("Nbsp\u00a0key"), QStringLiteral("a\u00a0b") },
            { QStringLiteral("Breaks"), QStringLiteral("l\u2028p\u2029f\ufdd0\ufdd1r\r\n\tend") } });
    QVERIFY(f.showAndLoad());
    const QJsonObject read = f.config;

    Question question;
    ModalDialogDriver::answerNext([&](QWidget* editor) {
        ConfigDialogFixture::answer(QMessageBox::Yes, &question);
        editor->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    });
    f.button("replaceButton")->click();
    QVERIFY(f.waitIdle());
    QVERIFY(question.asked);
    const QByteArray sent = f.node.requests(QStringLiteral("/config/replace")).first().parts.value(0).body;
    QCOMPARE(QJsonDocument::fromJson(sent).object(), read);
}

void TestConfigDialog::failedReplaceCanBeRestored()
{
    ConfigDialogFixture f;
    QVERIFY(f.showAndLoad());
    const QJsonObject original = f.config;
    f.refuseReplace = true;

    Question question;
    ModalDialogDriver::answerNext([&](QWidget* editor) {
        ConfigDialogFixture::answer(QMessageBox::Yes, &question);
        editor->findChild<QPlainTextEdit*>()->setPlainText(QStringLiteral("{\"Broken\": true}"));
        editor->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    });
    f.button("replaceButton")->click();
    QVERIFY(f.waitIdle());
    QVERIFY2(f.label()->text().startsWith(
                 QLatin1String("Failed to replace config: failed to decode config")),
        qPrintable(f.label()->text()));
    QCOMPARE(f.label()->styleSheet(), errorTextStyle());
    QCOMPARE(f.statuses.last(), QStringLiteral("Config error: %1").arg(f.label()->text()));
    // The tree and the loaded config stay as they were.
    QCOMPARE(f.tree()->topLevelItemCount(), 7);

    // The backup was taken before the attempt, so it can be restored.
    QVERIFY(f.button("restoreBackupButton")->isEnabled());
    f.refuseReplace = false;
    f.config = QJsonObject { { QStringLiteral("Damaged"), true } };
    Question restore;
    ConfigDialogFixture::answer(QMessageBox::Yes, &restore);
    f.button("restoreBackupButton")->click();
    QVERIFY(f.waitIdle());
    QCOMPARE(f.config, original);
}

void TestConfigDialog::restoreQuestion_data()
{
    QTest::addColumn<bool>("yes");
    QTest::newRow("no") << false;
    QTest::newRow("yes") << true;
}

void TestConfigDialog::restoreQuestion()
{
    QFETCH(bool, yes);
    ConfigDialogFixture f;
    QVERIFY(f.showAndLoad());
    const QJsonObject original = f.config;
    f.setKey(QStringLiteral("Gateway.X"), QStringLiteral("x"), QStringLiteral("String"));
    f.button("setButton")->click();
    QVERIFY(f.waitIdle());

    Question question;
    ConfigDialogFixture::answer(yes ? QMessageBox::Yes : QMessageBox::No, &question);
    f.button("restoreBackupButton")->click();
    QCOMPARE(question.title, QStringLiteral("Restore backup"));
    QCOMPARE(question.text, QStringLiteral("Restore the previously backed-up config snapshot?"));
    QVERIFY(question.noIsDefault);
    QCOMPARE(question.icon, QMessageBox::Warning);
    QVERIFY(f.waitIdle());
    QCOMPARE(f.node.requestCount(QStringLiteral("/config/replace")), yes ? 1 : 0);
    QCOMPARE(f.config == original, yes);
    if (yes) {
        const QByteArray sent
            = f.node.requests(QStringLiteral("/config/replace")).first().parts.value(0).body;
        QCOMPARE(sent, QJsonDocument(original).toJson(QJsonDocument::Indented));
    }
}

void TestConfigDialog::nodeErrorsEndInTheLabel()
{
    ConfigDialogFixture f;
    QVERIFY(f.showAndLoad());
    f.node.route(QStringLiteral("/config/show"), FakeKuboNode::json("[\"not an object\"]"));
    f.statuses.clear();
    f.button("refreshButton")->click();
    QVERIFY(f.waitIdle());
    QVERIFY(f.label()->text().startsWith(QLatin1String("Invalid config JSON: ")));
    QCOMPARE(f.statuses.last(), QStringLiteral("Config error: %1").arg(f.label()->text()));
    // A failed load keeps the previous tree.
    QCOMPARE(f.tree()->topLevelItemCount(), 7);

    f.node.route(QStringLiteral("/config"), FakeKuboNode::kuboError(QStringLiteral("bad value"), 1, 400));
    f.setKey(QStringLiteral("Gateway.X"), QStringLiteral("x"), QStringLiteral("String"));
    f.button("setButton")->click();
    QVERIFY(f.waitIdle());
    QVERIFY(f.label()->text().startsWith(QLatin1String("Failed to set config key: ")));
    QCOMPARE(f.label()->styleSheet(), errorTextStyle());
}

void TestConfigDialog::jsonValueTexts_data()
{
    QTest::addColumn<QJsonValue>("value");
    QTest::addColumn<QString>("display");
    QTest::addColumn<QString>("compact");
    QTest::newRow("true") << QJsonValue(true) << "true"
                          << "true";
    QTest::newRow("96") << QJsonValue(96) << "96"
                        << "96";
    QTest::newRow("seven digits") << QJsonValue(1234567) << "1.23457e+06"
                                  << "1234567";
    QTest::newRow("fraction") << QJsonValue(0.5) << "0.5"
                              << "0.5";
    QTest::newRow("string") << QJsonValue(QStringLiteral("10GB")) << "10GB"
                            << "10GB";
    QTest::newRow("null") << QJsonValue(QJsonValue::Null) << ""
                          << "null";
    QTest::newRow("undefined") << QJsonValue(QJsonValue::Undefined) << ""
                               << "";
    QTest::newRow("array") << QJsonValue(QJsonArray { 1, QStringLiteral("a") }) << ""
                           << "[1,\"a\"]";
    QTest::newRow("object") << QJsonValue(QJsonObject { { QStringLiteral("b"), false } }) << ""
                            << "{\"b\":false}";
}

void TestConfigDialog::jsonValueTexts()
{
    QFETCH(QJsonValue, value);
    QFETCH(QString, display);
    QFETCH(QString, compact);
    QCOMPARE(jsonValueToDisplayString(value), display);
    QCOMPARE(jsonValueToCompactString(value), compact);
}

QTEST_MAIN(TestConfigDialog)
#include "tst_configdialog.moc"
