#include <QtTest>

#include <QApplication>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>

#include <memory>

#include "appsettings.h"
#include "displaytext.h"
#include "fakekubonode.h"
#include "ipfsclient.h"
#include "remoteservicesdialog.h"

using namespace Qt::StringLiterals;

namespace {

const QString kList = u"/pin/remote/service/ls"_s;
const QString kAdd = u"/pin/remote/service/add"_s;
const QString kRemove = u"/pin/remote/service/rm"_s;

// What a message box showed before the test answered it.
struct SeenBox {
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    bool hasDefaultButton = false;
};

// Answers every modal message box with the next answer queued before the action. A box nobody
// expected is recorded and closed, so that it can never block the test.
class BoxAnswerer : public QObject
{
public:
    BoxAnswerer()
    {
        timer.setInterval(10);
        connect(&timer, &QTimer::timeout, this, &BoxAnswerer::poll);
        timer.start();
    }

    void expect(QMessageBox::StandardButton answer) { answers.append(answer); }

    QList<SeenBox> seen;
    QStringList unexpected;

private:
    void poll()
    {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        seen.append({ box->windowTitle(), box->text(), box->icon(), box->standardButtons(),
            box->defaultButton() != nullptr });
        QAbstractButton* button = answers.isEmpty() ? nullptr : box->button(answers.takeFirst());
        if (!button) {
            unexpected << box->text();
            box->reject();
            return;
        }
        button->click();
    }

    QTimer timer;
    QList<QMessageBox::StandardButton> answers;
};

} // namespace

// The remote pinning services window against the fake node.
class TestRemoteServicesDialog : public QObject
{
    Q_OBJECT

    struct Window {
        FakeKuboNode node;
        IpfsClient client;
        QByteArray listing = R"({"RemoteServices":[]})";
        bool holdTests = false; // hold listings filtered by name (tests) until released
        bool holdListings = false; // hold unfiltered listings
        RemoteServicesDialog* dialog = nullptr;
        QSignalSpy* statusBar = nullptr;
        BoxAnswerer boxes;

        Window()
        {
            node.start();
            node.route(kList, [this](const FakeKuboNode::Request& request) {
                const bool isTest = !request.queryValue(u"name"_s).isEmpty();
                if ((isTest && holdTests) || (!isTest && holdListings))
                    return FakeKuboNode::held();
                return FakeKuboNode::json(listing);
            });
            node.route(kAdd, FakeKuboNode::json("{}"));
            node.route(kRemove, FakeKuboNode::json("{}"));
            client.setEndpoint(node.host(), node.port());
        }
        ~Window()
        {
            delete statusBar;
            delete dialog;
        }
        // Opens the window and waits for its first listing.
        void open()
        {
            dialog = new RemoteServicesDialog(&client, nullptr);
            statusBar = new QSignalSpy(dialog, &RemoteServicesDialog::statusMessageRequested);
            dialog->show();
            if (!holdListings)
                QTRY_VERIFY(!busy());
        }
        template <typename T> T* find(const QString& name) const { return dialog->findChild<T*>(name); }
        QListWidget* list() const { return find<QListWidget>(u"serviceList"_s); }
        QLineEdit* nickname() const { return find<QLineEdit>(u"nicknameEdit"_s); }
        QLineEdit* endpoint() const { return find<QLineEdit>(u"endpointEdit"_s); }
        QLineEdit* token() const { return find<QLineEdit>(u"tokenEdit"_s); }
        QLabel* status() const { return find<QLabel>(u"statusLabel"_s); }
        QPushButton* button(const QString& name) const { return find<QPushButton>(name); }
        bool busy() const { return !button(u"refreshButton"_s)->isEnabled(); }
        QStringList rows() const
        {
            QStringList texts;
            for (int row = 0; row < list()->count(); ++row)
                texts << list()->item(row)->text();
            return texts;
        }
        QStringList statusBarTexts() const
        {
            QStringList texts;
            for (const QList<QVariant>& args : *statusBar)
                texts << args.first().toString();
            return texts;
        }
        void fill(const QString& nick, const QString& end, const QString& tok) const
        {
            nickname()->setText(nick);
            endpoint()->setText(end);
            token()->setText(tok);
        }
    };

    std::unique_ptr<Window> current;
    Window& makeWindow()
    {
        current = std::make_unique<Window>();
        return *current;
    }

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void init() { appSettings().clear(); }
    void cleanup()
    {
        const QStringList unexpected = current ? current->boxes.unexpected : QStringList();
        current.reset();
        QVERIFY2(unexpected.isEmpty(), qPrintable(u"unexpected message box: "_s + unexpected.join(u"; "_s)));
    }

    void opensWithAListing();
    void everyListingSelectsTheFirstRow();
    void emptyListingKeepsTheForm();
    void enablingRule_data();
    void enablingRule();
    void busyDisablesEverythingButClose();
    void saveSendsTrimmedFieldsAndRefreshes();
    void answersOfTheNode_data();
    void answersOfTheNode();
    void failedListingShowsNoBox();
    void removeAsksWithoutDefaultAndActsOnTheTypedName();
    void missingInputIsAnsweredWithABox_data();
    void missingInputIsAnsweredWithABox();
    void foreignListingEndsTheWaitEarly();
};

void TestRemoteServicesDialog::opensWithAListing()
{
    Window& window = makeWindow();
    window.holdListings = true;
    window.open();
    QCOMPARE(window.dialog->windowTitle(), u"Remote pinning services"_s);
    QCOMPARE(window.status()->text(), u"Loading remote services from Kubo..."_s);
    QVERIFY(window.busy());
    QTRY_COMPARE(window.node.heldCount(kList), 1);
    QCOMPARE(window.node.heldRequests(kList).first().query,
        (QList<QPair<QString, QString>> { { u"stat"_s, u"false"_s } }));

    window.node.releaseHeld(kList,
        FakeKuboNode::json(
            R"({"RemoteServices":[{"Service":"pinata","ApiEndpoint":"https://api.example/psa"},)"
            R"({"Service":"bare"}]})"));
    QTRY_VERIFY(!window.busy());
    QCOMPARE(window.rows(), (QStringList { u"pinata  (https://api.example/psa)"_s, u"bare"_s }));
    QCOMPARE(window.list()->currentRow(), 0);
    QCOMPARE(window.nickname()->text(), u"pinata"_s);
    QCOMPARE(window.endpoint()->text(), u"https://api.example/psa"_s);
    QCOMPARE(window.status()->text(), u"Loaded 2 remote service(s)."_s);
    QCOMPARE(window.statusBarTexts(), (QStringList { u"Loaded 2 remote service(s)"_s }));
    QCOMPARE(window.token()->echoMode(), QLineEdit::Password);

    // Picking the row without endpoint fills the form from it.
    window.token()->setText(u"typed"_s);
    window.list()->setCurrentRow(1);
    QCOMPARE(window.nickname()->text(), u"bare"_s);
    QCOMPARE(window.endpoint()->text(), QString());
    QCOMPARE(window.token()->text(), QString());
}

void TestRemoteServicesDialog::everyListingSelectsTheFirstRow()
{
    Window& window = makeWindow();
    window.listing = R"({"RemoteServices":[{"Service":"a","ApiEndpoint":"https://a"},{"Service":"b"}]})";
    window.open();
    QCOMPARE(window.list()->currentRow(), 0);

    // What was typed is replaced by row 0 at the next listing, also when row 0 was already current.
    window.fill(u"typed"_s, u"https://typed"_s, u"secret"_s);
    window.button(u"refreshButton"_s)->click();
    QVERIFY(window.busy());
    QTRY_VERIFY(!window.busy());
    QCOMPARE(window.nickname()->text(), u"a"_s);
    QCOMPARE(window.endpoint()->text(), u"https://a"_s);
    QCOMPARE(window.token()->text(), QString());
    QCOMPARE(window.list()->currentRow(), 0);
    QCOMPARE(window.statusBarTexts(),
        (QStringList { u"Loaded 2 remote service(s)"_s, u"Loading remote services..."_s,
            u"Loaded 2 remote service(s)"_s }));
}

void TestRemoteServicesDialog::emptyListingKeepsTheForm()
{
    Window& window = makeWindow();
    window.holdListings = true;
    window.open();
    QTRY_COMPARE(window.node.heldCount(kList), 1);
    window.fill(u"kept"_s, u"https://kept"_s, u"tok"_s);
    window.node.releaseHeld(kList, FakeKuboNode::json(R"({"RemoteServices":[]})"));
    QTRY_VERIFY(!window.busy());
    QCOMPARE(window.rows(), QStringList());
    QCOMPARE(window.nickname()->text(), u"kept"_s);
    QCOMPARE(window.endpoint()->text(), u"https://kept"_s);
    QCOMPARE(window.token()->text(), u"tok"_s);
    QCOMPARE(window.status()->text(), u"Loaded 0 remote service(s)."_s);
}

void TestRemoteServicesDialog::enablingRule_data()
{
    QTest::addColumn<QString>("nickname");
    QTest::addColumn<QString>("endpoint");
    QTest::addColumn<QString>("token");
    QTest::addColumn<bool>("save");
    QTest::addColumn<bool>("testAndRemove");
    QTest::newRow("all three") << u"p"_s << u"https://e"_s << u"t"_s << true << true;
    QTest::newRow("blank token") << u"p"_s << u"https://e"_s << u"   "_s << false << true;
    QTest::newRow("blank endpoint") << u"p"_s << u"\t"_s << u"t"_s << false << true;
    QTest::newRow("nickname alone") << u"p"_s << QString() << QString() << false << true;
    QTest::newRow("blank nickname") << u"  "_s << u"https://e"_s << u"t"_s << false << false;
    QTest::newRow("nothing") << QString() << QString() << QString() << false << false;
}

void TestRemoteServicesDialog::enablingRule()
{
    QFETCH(QString, nickname);
    QFETCH(QString, endpoint);
    QFETCH(QString, token);
    QFETCH(bool, save);
    QFETCH(bool, testAndRemove);
    Window& window = makeWindow();
    window.open();
    window.fill(nickname, endpoint, token);
    QCOMPARE(window.button(u"saveButton"_s)->isEnabled(), save);
    QCOMPARE(window.button(u"testButton"_s)->isEnabled(), testAndRemove);
    QCOMPARE(window.button(u"removeButton"_s)->isEnabled(), testAndRemove);
}

void TestRemoteServicesDialog::busyDisablesEverythingButClose()
{
    Window& window = makeWindow();
    window.open();
    window.fill(u"p"_s, u"https://e"_s, u"t"_s);
    window.holdTests = true;
    window.button(u"testButton"_s)->click();
    QCOMPARE(window.status()->text(), u"Testing service 'p'..."_s);
    QCOMPARE(window.statusBarTexts().last(), u"Testing remote service 'p'..."_s);

    for (QWidget* widget : std::initializer_list<QWidget*> {
             window.list(), window.nickname(), window.endpoint(), window.token() })
        QVERIFY(!widget->isEnabled());
    for (const QString& name : { u"refreshButton"_s, u"saveButton"_s, u"testButton"_s, u"removeButton"_s })
        QVERIFY2(!window.button(name)->isEnabled(), qPrintable(name));
    auto* close = window.dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Close);
    QVERIFY(close->isEnabled());

    close->click();
    QVERIFY(!window.dialog->isVisible());
}

void TestRemoteServicesDialog::saveSendsTrimmedFieldsAndRefreshes()
{
    Window& window = makeWindow();
    window.open();
    window.fill(u" pinata "_s, u" https://api.example/psa "_s, u" tok "_s);
    window.statusBar->clear();
    window.holdListings = true;

    window.button(u"saveButton"_s)->click();
    QCOMPARE(window.status()->text(), u"Saving service 'pinata' to Kubo..."_s);
    QTRY_COMPARE(window.node.requestCount(kAdd), 1);
    QCOMPARE(window.node.requests(kAdd).first().queryValues(u"arg"_s),
        (QStringList { u"pinata"_s, u"https://api.example/psa"_s, u"tok"_s }));

    // Saved: the token is gone and a new listing keeps the window busy until it arrives.
    QTRY_COMPARE(window.node.heldCount(kList), 1);
    QCOMPARE(window.token()->text(), QString());
    QVERIFY(window.busy());
    QCOMPARE(window.statusBarTexts(),
        (QStringList { u"Saving remote service 'pinata'..."_s, u"Saved remote service 'pinata'"_s,
            u"Loading remote services..."_s }));

    window.node.releaseHeld(kList, FakeKuboNode::json(R"({"RemoteServices":[{"Service":"pinata"}]})"));
    QTRY_VERIFY(!window.busy());
    QCOMPARE(window.rows(), QStringList { u"pinata"_s });
}

void TestRemoteServicesDialog::answersOfTheNode_data()
{
    QTest::addColumn<QString>("buttonName");
    QTest::addColumn<QString>("command");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("icon");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("statusBar");

    QTest::newRow("save refused") << u"saveButton"_s << kAdd << QByteArray(R"({"Error":"service exists"})")
                                  << int(QMessageBox::Warning)
                                  << u"Failed to add remote service 'pinata': service exists"_s
                                  << u"Failed to add remote service 'pinata': service exists"_s;
    QTest::newRow("remove refused") << u"removeButton"_s << kRemove << QByteArray(R"({"Error":"not found"})")
                                    << int(QMessageBox::Warning)
                                    << u"Failed to remove remote service 'pinata': not found"_s
                                    << u"Failed to remove remote service 'pinata': not found"_s;
    QTest::newRow("test passed") << u"testButton"_s << kList
                                 << QByteArray(R"({"RemoteServices":[{"Service":"pinata"}]})")
                                 << int(QMessageBox::Information)
                                 << u"Service 'pinata' is configured and reachable."_s
                                 << u"Remote service 'pinata' test passed"_s;
    QTest::newRow("test failed") << u"testButton"_s << kList << QByteArray(R"({"RemoteServices":[]})")
                                 << int(QMessageBox::Warning)
                                 << u"Service 'pinata' was not returned by Kubo."_s
                                 << u"Remote service 'pinata' test failed"_s;
    // Listed is not enough: the node's own check of the service decides.
    QTest::newRow("test of a listed but unusable service")
        << u"testButton"_s << kList
        << QByteArray(R"({"RemoteServices":[{"Service":"pinata","Stat":{"Status":"invalid"}}]})")
        << int(QMessageBox::Warning) << u"Service 'pinata' is configured, but Kubo could not reach it."_s
        << u"Remote service 'pinata' test failed"_s;
}

void TestRemoteServicesDialog::answersOfTheNode()
{
    QFETCH(QString, buttonName);
    QFETCH(QString, command);
    QFETCH(QByteArray, reply);
    QFETCH(int, icon);
    QFETCH(QString, message);
    QFETCH(QString, statusBar);

    Window& window = makeWindow();
    window.open();
    window.listing = reply; // the test answer, for the list route
    if (command != kList)
        window.node.route(command, FakeKuboNode::json(reply));
    window.fill(u"pinata"_s, u"https://e"_s, u"tok"_s);

    const bool removing = buttonName == u"removeButton";
    if (removing)
        window.boxes.expect(QMessageBox::Yes);
    window.boxes.expect(QMessageBox::Ok);
    window.button(buttonName)->click();
    QTRY_COMPARE(window.boxes.seen.size(), removing ? 2 : 1);
    const SeenBox box = window.boxes.seen.last();
    QCOMPARE(box.title, u"Remote services"_s);
    QCOMPARE(int(box.icon), icon);
    QCOMPARE(box.text, message);
    QTRY_VERIFY(!window.busy());
    QCOMPARE(window.status()->text(), message);
    QCOMPARE(window.status()->styleSheet(), icon == QMessageBox::Warning ? errorTextStyle() : QString());
    QCOMPARE(window.statusBarTexts().last(), statusBar);
    // A failure keeps what the user typed, the token included.
    QCOMPARE(window.token()->text(), u"tok"_s);
}

void TestRemoteServicesDialog::failedListingShowsNoBox()
{
    Window& window = makeWindow();
    window.listing = "[]";
    window.open();
    const QString message = u"Remote service request failed: invalid JSON response."_s;
    QCOMPARE(window.status()->text(), message);
    QCOMPARE(window.status()->styleSheet(), errorTextStyle());
    QCOMPARE(window.statusBarTexts(), QStringList { message });
    QVERIFY(window.boxes.seen.isEmpty());
}

void TestRemoteServicesDialog::removeAsksWithoutDefaultAndActsOnTheTypedName()
{
    Window& window = makeWindow();
    window.listing = R"({"RemoteServices":[{"Service":"listed"}]})";
    window.open();
    QCOMPARE(window.list()->currentRow(), 0);
    window.nickname()->setText(u" typed "_s);

    // No: nothing is sent.
    window.boxes.expect(QMessageBox::No);
    window.button(u"removeButton"_s)->click();
    QCOMPARE(window.boxes.seen.size(), 1);
    const SeenBox question = window.boxes.seen.first();
    QCOMPARE(question.title, u"Remove remote service"_s);
    QCOMPARE(question.text, u"Remove service 'typed' from Kubo configuration?"_s);
    QCOMPARE(question.icon, QMessageBox::Question);
    QCOMPARE(question.buttons, QMessageBox::Yes | QMessageBox::No);
    QVERIFY(!question.hasDefaultButton);
    QVERIFY(!window.busy());
    QCOMPARE(window.node.requestCount(kRemove), 0);

    // Yes: the typed nickname goes, not the selected row; the listing follows.
    window.statusBar->clear();
    window.boxes.expect(QMessageBox::Yes);
    window.button(u"removeButton"_s)->click();
    QCOMPARE(window.boxes.seen.size(), 2);
    QTRY_COMPARE(window.node.requestCount(kRemove), 1);
    QCOMPARE(window.node.requests(kRemove).first().queryValues(u"arg"_s), QStringList { u"typed"_s });
    QTRY_COMPARE(window.node.requestCount(kList), 2);
    QTRY_VERIFY(!window.busy());
    QCOMPARE(window.statusBarTexts(),
        (QStringList { u"Removing remote service 'typed'..."_s, u"Removed remote service 'typed'"_s,
            u"Loading remote services..."_s, u"Loaded 1 remote service(s)"_s }));
}

void TestRemoteServicesDialog::missingInputIsAnsweredWithABox_data()
{
    // Save is disabled for these inputs; the slots still guard themselves.
    QTest::addColumn<QByteArray>("slot");
    QTest::addColumn<QString>("message");
    QTest::newRow("save") << QByteArray("onAddOrUpdateClicked")
                          << u"Service nickname, API endpoint, and access token are required."_s;
    QTest::newRow("test") << QByteArray("onTestClicked") << u"Select or enter a service nickname to test."_s;
    QTest::newRow("remove") << QByteArray("onRemoveClicked")
                            << u"Select or enter a service nickname to remove."_s;
}

void TestRemoteServicesDialog::missingInputIsAnsweredWithABox()
{
    QFETCH(QByteArray, slot);
    QFETCH(QString, message);
    Window& window = makeWindow();
    window.open();
    window.fill(u"  "_s, u"https://e"_s, u" "_s);
    window.node.clearRequests();

    window.boxes.expect(QMessageBox::Ok);
    QVERIFY(QMetaObject::invokeMethod(window.dialog, slot.constData()));
    QCOMPARE(window.boxes.seen.size(), 1);
    QCOMPARE(window.boxes.seen.first().title, u"Remote services"_s);
    QCOMPARE(window.boxes.seen.first().icon, QMessageBox::Information);
    QCOMPARE(window.boxes.seen.first().text, message);
    QVERIFY(!window.busy());
    QVERIFY(window.node.requests().isEmpty());
}

void TestRemoteServicesDialog::foreignListingEndsTheWaitEarly()
{
    Window& window = makeWindow();
    window.open();
    window.fill(u"p"_s, QString(), QString());
    window.holdTests = true;
    window.button(u"testButton"_s)->click();
    QVERIFY(window.busy());
    QTRY_COMPARE(window.node.heldCount(kList), 1);

    // Another window (such as the add dialog) lists the services: answers are not tagged.
    window.client.fetchRemoteServices(false, QString());
    QTRY_VERIFY(!window.busy());
    QCOMPARE(window.status()->text(), u"Loaded 0 remote service(s)."_s);
}

QTEST_MAIN(TestRemoteServicesDialog)
#include "tst_remoteservicesdialog.moc"
