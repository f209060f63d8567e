#include <QtTest>

#include "addselection.h"
#include "addtoipfsdialog.h"
#include "appsettings.h"
#include "displaytext.h"
#include "fakekubonode.h"
#include "ipfsclient.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeView>
#include <QTreeWidget>

#include <functional>

namespace {

const QString kNicknameKey = QStringLiteral("addToIpfs/lastRemoteServiceNickname");

bool touch(const QString& path)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly);
}

// Runs action on the next modal widget as soon as it shows (message and file dialogs run their
// own event loop, so this has to be armed before the call that opens them).
void onNextModal(std::function<void(QWidget*)> action, int attempts = 200)
{
    QTimer::singleShot(25, qApp, [action = std::move(action), attempts]() mutable {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal && modal->isVisible())
            action(modal);
        else if (attempts > 0)
            onNextModal(std::move(action), attempts - 1);
    });
}

template <typename T> T* child(QWidget* parent, const QString& text)
{
    const QList<T*> all = parent->findChildren<T*>();
    for (T* widget : all) {
        if (widget->text() == text)
            return widget;
    }
    return nullptr;
}

QComboBox* comboWithItem(QWidget* parent, const QString& itemText)
{
    const QList<QComboBox*> all = parent->findChildren<QComboBox*>();
    for (QComboBox* combo : all) {
        if (combo->findText(itemText) >= 0)
            return combo;
    }
    return nullptr;
}

} // namespace

// The add dialog: which paths it keeps, how it names them, and the options it returns.
class TestAddToIpfsDialog : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

    QString at(const QString& relative) const
    {
        return relative.isEmpty() ? dir.path() : dir.filePath(relative);
    }
    QStringList at(const QStringList& relatives) const
    {
        QStringList paths;
        for (const QString& relative : relatives)
            paths.append(relative.startsWith(u'/') ? relative : at(relative));
        return paths;
    }

    struct Widgets {
        QCheckBox* pin;
        QCheckBox* onlyHash;
        QCheckBox* wrap;
        QCheckBox* unpin;
        QComboBox* destination;
        QComboBox* cidVersion;
        QComboBox* service;
        QLineEdit* label;
        QLabel* status;
        QTreeWidget* items;
    };

    static Widgets widgets(AddToIpfsDialog& dialog)
    {
        Widgets w {};
        w.pin = child<QCheckBox>(&dialog, QStringLiteral("Pin"));
        w.onlyHash = child<QCheckBox>(&dialog, QStringLiteral("Only hash (do not store blocks)"));
        w.wrap = child<QCheckBox>(&dialog, QStringLiteral("Wrap with directory"));
        w.unpin = child<QCheckBox>(&dialog, QStringLiteral("Unpin local after remote pin is confirmed"));
        w.destination = comboWithItem(&dialog, QStringLiteral("Local only"));
        w.cidVersion = comboWithItem(&dialog, QStringLiteral("CIDv0"));
        for (QComboBox* combo : dialog.findChildren<QComboBox*>()) {
            if (combo->isEditable())
                w.service = combo;
        }
        for (QLineEdit* edit : dialog.findChildren<QLineEdit*>()) {
            if (edit->placeholderText() == QStringLiteral("e.g. invoice-2026-03-17"))
                w.label = edit;
        }
        w.status = dialog.findChild<QLabel*>(QStringLiteral("remoteServiceStatusLabel"));
        w.items = dialog.findChild<QTreeWidget*>(QStringLiteral("itemsTree"));
        return w;
    }

    static void chooseDestination(const Widgets& w, const QString& data)
    {
        w.destination->setCurrentIndex(w.destination->findData(data));
    }

    // Picks paths in the browser and presses "Add selected".
    static void addFromBrowser(AddToIpfsDialog& dialog, const QStringList& paths)
    {
        auto* view = dialog.findChild<QTreeView*>(QStringLiteral("browserView"));
        auto* model = qobject_cast<QFileSystemModel*>(view->model());
        view->selectionModel()->clearSelection();
        for (const QString& path : paths) {
            const QModelIndex index = model->index(path);
            QVERIFY2(index.isValid(), qPrintable(path));
            view->selectionModel()->select(index, QItemSelectionModel::Select | QItemSelectionModel::Rows);
        }
        child<QPushButton>(&dialog, QStringLiteral("Add selected"))->click();
    }

    static QStringList rows(const Widgets& w)
    {
        QStringList paths;
        for (int i = 0; i < w.items->topLevelItemCount(); ++i)
            paths.append(w.items->topLevelItem(i)->text(0) + u'|' + w.items->topLevelItem(i)->text(1));
        return paths;
    }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        appSettings().clear();
        QVERIFY(dir.isValid());
        for (const char* file : { "d/f.txt", "d/sub/g.txt", "d-x/h.txt", "e.txt", "B.txt", "a.txt",
                 "x/report.txt", "y/report.txt", "z/report.txt", "p/a", "q/a", "r/a-2", "s/ pad.txt " })
            QVERIFY(touch(at(QString::fromLatin1(file))));
    }

    void init() { appSettings().clear(); }

    void normalizesPaths_data()
    {
        QTest::addColumn<QStringList>("input");
        QTest::addColumn<QStringList>("expected");

        const auto list = [](std::initializer_list<const char*> items) {
            QStringList l;
            for (const char* item : items)
                l.append(QString::fromUtf8(item));
            return l;
        };
        QTest::newRow("folder, then a file inside") << list({ "d", "d/f.txt" }) << list({ "d" });
        QTest::newRow("file inside, then its folder")
            << list({ "d/sub/g.txt", "d/f.txt", "d" }) << list({ "d" });
        QTest::newRow("duplicates") << list({ "e.txt", "e.txt", "d/../e.txt" }) << list({ "e.txt" });
        QTest::newRow("shared prefix is no parent")
            << list({ "d-x", "d/sub", "d", "d-x/h.txt" }) << list({ "d", "d-x" });
        QTest::newRow("missing and empty dropped")
            << list({ "missing.txt", "", "e.txt" }) << list({ "e.txt" });
        QTest::newRow("case-sensitive order")
            << list({ "e.txt", "a.txt", "B.txt" }) << list({ "B.txt", "a.txt", "e.txt" });
        QTest::newRow("root holds everything") << list({ "e.txt", "/", "d" }) << list({ "/" });
    }

    void normalizesPaths()
    {
        QFETCH(QStringList, input);
        QFETCH(QStringList, expected);
        QStringList paths;
        for (const QString& p : std::as_const(input))
            paths.append(p.isEmpty() ? p : at(QStringList { p }).first());
        QCOMPARE(normalizeLocalPaths(paths), at(expected));
    }

    void namesSelections_data()
    {
        QTest::addColumn<QStringList>("paths");
        QTest::addColumn<QStringList>("names");

        QTest::newRow("same name in three folders")
            << QStringList { QStringLiteral("x/report.txt"), QStringLiteral("y/report.txt"),
                   QStringLiteral("z/report.txt") }
            << QStringList { QStringLiteral("report.txt"), QStringLiteral("report.txt-2"),
                   QStringLiteral("report.txt-3") };
        QTest::newRow("suffix already taken by a real name")
            << QStringList { QStringLiteral("p/a"), QStringLiteral("q/a"), QStringLiteral("r/a-2") }
            << QStringList { QStringLiteral("a"), QStringLiteral("a-2"), QStringLiteral("a-2-2") };
        QTest::newRow("folders and files") << QStringList { QStringLiteral("d"), QStringLiteral("e.txt") }
                                           << QStringList { QStringLiteral("d"), QStringLiteral("e.txt") };
        QTest::newRow("trimmed") << QStringList { QStringLiteral("s/ pad.txt ") }
                                 << QStringList { QStringLiteral("pad.txt") };
        QTest::newRow("root is an item")
            << QStringList { QStringLiteral("/") } << QStringList { QStringLiteral("item") };
        QTest::newRow("vanished left out") << QStringList { QStringLiteral("gone"), QStringLiteral("e.txt") }
                                           << QStringList { QStringLiteral("e.txt") };
    }

    void namesSelections()
    {
        QFETCH(QStringList, paths);
        QFETCH(QStringList, names);
        const QList<LocalPathSelection> selections = localPathSelections(at(paths));
        QStringList got;
        for (const LocalPathSelection& s : selections) {
            got.append(s.name);
            QVERIFY(QFileInfo(s.localPath).isAbsolute());
            QCOMPARE(s.isDirectory, QFileInfo(s.localPath).isDir());
        }
        QCOMPARE(got, names);
    }

    void destinationRules_data()
    {
        QTest::addColumn<bool>("uncheckPinFirst");
        QTest::addColumn<QStringList>("destinations");
        QTest::addColumn<bool>("pinChecked");
        QTest::addColumn<bool>("pinEnabled");
        QTest::addColumn<bool>("unpinChecked");
        QTest::addColumn<bool>("remoteEnabled"); // service, label and unpin box

        QTest::newRow("local at start") << false << QStringList {} << true << true << false << false;
        QTest::newRow("local keeps an unchecked pin")
            << true << QStringList {} << false << true << false << false;
        QTest::newRow("both") << true << QStringList { QStringLiteral("both") } << true << false << false
                              << true;
        QTest::newRow("remote") << true << QStringList { QStringLiteral("remote") } << true << false << true
                                << true;
        QTest::newRow("remote, back to local")
            << true << QStringList { QStringLiteral("remote"), QStringLiteral("local") } << true << true
            << true << false;
        QTest::newRow("remote, then both")
            << false << QStringList { QStringLiteral("remote"), QStringLiteral("both") } << true << false
            << true << true;
    }

    void destinationRules()
    {
        QFETCH(bool, uncheckPinFirst);
        QFETCH(QStringList, destinations);
        QFETCH(bool, pinChecked);
        QFETCH(bool, pinEnabled);
        QFETCH(bool, unpinChecked);
        QFETCH(bool, remoteEnabled);

        AddToIpfsDialog dialog(nullptr, nullptr);
        const Widgets w = widgets(dialog);
        if (uncheckPinFirst)
            w.pin->setChecked(false);
        for (const QString& destination : std::as_const(destinations))
            chooseDestination(w, destination);

        QCOMPARE(w.pin->isChecked(), pinChecked);
        QCOMPARE(w.pin->isEnabled(), pinEnabled);
        QCOMPARE(w.unpin->isChecked(), unpinChecked);
        QCOMPARE(w.unpin->isEnabled(), remoteEnabled);
        QCOMPARE(w.service->isEnabled(), remoteEnabled);
        QCOMPARE(w.label->isEnabled(), remoteEnabled);

        const AddOptions options = dialog.options();
        QCOMPARE(options.pin, pinChecked);
        QCOMPARE(options.unpinLocalAfterRemote, unpinChecked);
        QCOMPARE(
            options.pinDestination, destinations.isEmpty() ? QStringLiteral("local") : destinations.last());
    }

    void optionsReadTheWidgets()
    {
        AddToIpfsDialog dialog(nullptr, nullptr);
        const Widgets w = widgets(dialog);
        const AddOptions defaults = dialog.options();
        const AddOptions expected;
        QCOMPARE(defaults.wrapWithDirectory, expected.wrapWithDirectory);
        QCOMPARE(defaults.pin, expected.pin);
        QCOMPARE(defaults.onlyHash, expected.onlyHash);
        QCOMPARE(defaults.cidVersion, expected.cidVersion);
        QCOMPARE(defaults.pinDestination, expected.pinDestination);
        QCOMPARE(defaults.unpinLocalAfterRemote, expected.unpinLocalAfterRemote);

        w.wrap->setChecked(false);
        w.onlyHash->setChecked(true);
        w.cidVersion->setCurrentIndex(w.cidVersion->findData(0));
        w.service->setEditText(QStringLiteral("  pinata-prod "));
        w.label->setText(QStringLiteral(" invoice "));
        w.unpin->setChecked(true); // read whatever the destination
        const AddOptions options = dialog.options();
        QCOMPARE(options.wrapWithDirectory, false);
        QCOMPARE(options.onlyHash, true);
        QCOMPARE(options.cidVersion, 0);
        QCOMPARE(options.remoteServiceNickname, QStringLiteral("pinata-prod"));
        QCOMPARE(options.remoteLabel, QStringLiteral("invoice"));
        QCOMPARE(options.unpinLocalAfterRemote, true);
    }

    void asksTheNodeForItsServices()
    {
        FakeKuboNode node;
        QVERIFY(node.start());
        node.route(QStringLiteral("/pin/remote/service/ls"),
            FakeKuboNode::json(
                "{\"RemoteServices\":[{\"Service\":\"pinata-prod\",\"ApiEndpoint\":\"https://p\"},"
                "{\"Service\":\"backup\",\"ApiEndpoint\":\"https://b\"}]}"));
        IpfsClient client;
        client.setEndpoint(node.host(), node.port());
        appSettings().setValue(kNicknameKey, QStringLiteral("backup"));

        AddToIpfsDialog dialog(&client, nullptr);
        const Widgets w = widgets(dialog);
        QTRY_COMPARE(w.status->text(), QStringLiteral("Loaded 2 configured service(s)."));
        QCOMPARE(node.requestCount(QStringLiteral("/pin/remote/service/ls")), 1);
        const FakeKuboNode::Request request = node.requests(QStringLiteral("/pin/remote/service/ls")).first();
        QCOMPARE(request.rawQuery, QStringLiteral("stat=false"));
        QCOMPARE(w.service->count(), 2);
        QCOMPARE(w.service->currentText(), QStringLiteral("backup"));

        // A refusal from the node only changes the status line.
        node.route(
            QStringLiteral("/pin/remote/service/ls"), FakeKuboNode::kuboError(QStringLiteral("offline")));
        client.fetchRemoteServices(false, QString()); // as the services window would
        QTRY_VERIFY(w.status->text().startsWith(QStringLiteral("Could not load services: ")));
        QCOMPARE(w.status->styleSheet(), errorTextStyle());
        QCOMPARE(w.service->count(), 2);
    }

    void listsTheNodesServices()
    {
        FakeKuboNode node;
        QVERIFY(node.start());
        IpfsClient client;
        client.setEndpoint(node.host(), node.port());

        AddToIpfsDialog dialog(&client, nullptr);
        const Widgets w = widgets(dialog);
        QCOMPARE(w.status->text(), QStringLiteral("Loading configured remote services..."));
        QCOMPARE(w.status->styleSheet(), hintTextStyle());

        // No stored nickname: the first service is chosen; blank names are left out but counted.
        emit client.remoteServicesReceived({ { QStringLiteral(" alpha "), QString() },
            { QStringLiteral("  "), QString() }, { QStringLiteral("beta"), QStringLiteral("https://b") } });
        QCOMPARE(w.service->count(), 2);
        QCOMPARE(w.service->itemText(0), QStringLiteral("alpha"));
        QCOMPARE(w.service->currentText(), QStringLiteral("alpha"));
        QCOMPARE(w.status->text(), QStringLiteral("Loaded 3 configured service(s)."));

        // A stored nickname wins, even one the node no longer lists.
        appSettings().setValue(kNicknameKey, QStringLiteral(" retired "));
        emit client.remoteServicesReceived({ { QStringLiteral("beta"), QString() } });
        QCOMPARE(w.service->currentText(), QStringLiteral("retired"));
        QCOMPARE(w.service->count(), 1);

        // An empty list: nothing to choose, still editable.
        appSettings().clear();
        w.service->setEditText(QString());
        emit client.remoteServicesReceived({});
        QCOMPARE(w.service->count(), 0);
        QVERIFY(w.service->isEditable());
        QCOMPARE(w.status->text(),
            QStringLiteral("No configured services found. Configure one in File -> Remote Services."));

        // Typed text survives a later answer.
        w.service->setEditText(QStringLiteral("typed"));
        emit client.remoteServicesReceived({ { QStringLiteral("alpha"), QString() } });
        QCOMPARE(w.service->currentText(), QStringLiteral("typed"));

        emit client.remoteServicesFailed(QStringLiteral("boom"));
        QCOMPARE(w.status->text(), QStringLiteral("Could not load services: boom"));
        QCOMPARE(w.status->styleSheet(), errorTextStyle());
        QCOMPARE(w.service->currentText(), QStringLiteral("typed"));
    }

    void sizedAndRemembered()
    {
        {
            AddToIpfsDialog dialog(nullptr, nullptr);
            QCOMPARE(dialog.minimumSize(), QSize(920, 560));
            QCOMPARE(dialog.windowTitle(), QStringLiteral("Add files/directories to IPFS"));
            dialog.show();
            QVERIFY(QTest::qWaitForWindowExposed(&dialog));
            dialog.close();
        }
        QVERIFY(
            !appSettings().value(QStringLiteral("Dialogs/AddToIpfsDialog/geometry")).toByteArray().isEmpty());
    }

    void withoutClientTheListIsUnavailable()
    {
        AddToIpfsDialog dialog(nullptr, nullptr);
        const Widgets w = widgets(dialog);
        QCOMPARE(w.status->text(), QStringLiteral("Remote service list unavailable."));
        QCOMPARE(w.status->styleSheet(), errorTextStyle());
    }

    void acceptRefusesIncompleteChoices_data()
    {
        QTest::addColumn<bool>("withItem");
        QTest::addColumn<QString>("destination");
        QTest::addColumn<QString>("nickname");
        QTest::addColumn<bool>("onlyHash");
        QTest::addColumn<QString>("refusal"); // empty: accepted

        QTest::newRow("nothing selected") << false << "local"
                                          << "" << false << "Select at least one file or folder first.";
        QTest::newRow("remote without service")
            << true << "remote"
            << "  " << false << "Remote service is required for remote pinning.";
        QTest::newRow("both without service")
            << true << "both"
            << "" << false << "Remote service is required for remote pinning.";
        QTest::newRow("remote with only hash")
            << true << "both"
            << "svc" << true
            << "Remote pinning requires data blocks to be available. Disable 'Only hash' for remote pinning.";
        QTest::newRow("local with only hash") << true << "local"
                                              << "" << true << "";
        QTest::newRow("remote") << true << "remote"
                                << " svc " << false << "";
        QTest::newRow("local keeps a typed service") << true << "local"
                                                     << "svc" << false << "";
    }

    void acceptRefusesIncompleteChoices()
    {
        QFETCH(bool, withItem);
        QFETCH(QString, destination);
        QFETCH(QString, nickname);
        QFETCH(bool, onlyHash);
        QFETCH(QString, refusal);

        AddToIpfsDialog dialog(nullptr, nullptr);
        dialog.show();
        const Widgets w = widgets(dialog);
        if (withItem)
            addFromBrowser(dialog, { at(QStringLiteral("e.txt")) });
        chooseDestination(w, destination);
        w.service->setEditText(nickname);
        w.onlyHash->setChecked(onlyHash);

        QString shown;
        QString title;
        if (!refusal.isEmpty()) {
            onNextModal([&](QWidget* modal) {
                auto* box = qobject_cast<QMessageBox*>(modal);
                if (!box)
                    return;
                shown = box->text();
                title = box->windowTitle();
                box->button(QMessageBox::Ok)->click();
            });
        }
        dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();

        QCOMPARE(shown, refusal);
        if (refusal.isEmpty()) {
            QCOMPARE(dialog.result(), int(QDialog::Accepted));
            QCOMPARE(appSettings().value(kNicknameKey).toString(), nickname.trimmed());
        } else {
            QCOMPARE(title, QStringLiteral("Add to IPFS"));
            QVERIFY(dialog.isVisible());
            QVERIFY(!appSettings().contains(kNicknameKey));
        }
    }

    void itemsListFollowsTheSelection()
    {
        AddToIpfsDialog dialog(nullptr, nullptr);
        dialog.show();
        const Widgets w = widgets(dialog);

        addFromBrowser(dialog, { at(QStringLiteral("d/f.txt")), at(QStringLiteral("e.txt")) });
        // The same file again, through the file dialog: still one row.
        onNextModal([this](QWidget* modal) {
            auto* files = qobject_cast<QFileDialog*>(modal);
            if (!files)
                return;
            files->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))
                ->setText(at(QStringLiteral("e.txt")));
            static_cast<QDialog*>(files)->accept();
        });
        child<QPushButton>(&dialog, QStringLiteral("Add files…"))->click();
        QCOMPARE(rows(w),
            (QStringList { at(QStringLiteral("d/f.txt")) + QStringLiteral("|File"),
                at(QStringLiteral("e.txt")) + QStringLiteral("|File") }));

        // Choosing the parent folder replaces the file inside it.
        onNextModal([this](QWidget* modal) {
            auto* folders = qobject_cast<QFileDialog*>(modal);
            if (!folders)
                return;
            folders->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(at(QStringLiteral("d")));
            static_cast<QDialog*>(folders)->accept();
        });
        child<QPushButton>(&dialog, QStringLiteral("Add folder…"))->click();
        QCOMPARE(rows(w),
            (QStringList { at(QStringLiteral("d")) + QStringLiteral("|Directory"),
                at(QStringLiteral("e.txt")) + QStringLiteral("|File") }));

        w.items->topLevelItem(0)->setSelected(true);
        child<QPushButton>(&dialog, QStringLiteral("Remove selected"))->click();
        QCOMPARE(rows(w), (QStringList { at(QStringLiteral("e.txt")) + QStringLiteral("|File") }));
        QCOMPARE(dialog.selections().size(), 1);

        child<QPushButton>(&dialog, QStringLiteral("Clear all"))->click();
        QCOMPARE(w.items->topLevelItemCount(), 0);
        QVERIFY(dialog.selections().isEmpty());
    }

    void vanishedPathsLeaveListAndSelections()
    {
        QTemporaryDir scratch;
        const QString doomed = scratch.filePath(QStringLiteral("doomed.txt"));
        QVERIFY(touch(doomed));
        AddToIpfsDialog dialog(nullptr, nullptr);
        const Widgets w = widgets(dialog);
        addFromBrowser(dialog, { doomed, at(QStringLiteral("a.txt")) });
        QCOMPARE(w.items->topLevelItemCount(), 2);

        QVERIFY(QFile::remove(doomed));
        addFromBrowser(dialog, { at(QStringLiteral("B.txt")) }); // any rebuild drops the vanished row
        QCOMPARE(rows(w),
            (QStringList { at(QStringLiteral("B.txt")) + QStringLiteral("|File"),
                at(QStringLiteral("a.txt")) + QStringLiteral("|File") }));
        const QList<LocalPathSelection> selections = dialog.selections();
        QCOMPARE(selections.size(), 2);
        QCOMPARE(selections.at(0).name, QStringLiteral("B.txt"));
    }
};

QTEST_MAIN(TestAddToIpfsDialog)
#include "tst_addtoipfsdialog.moc"
