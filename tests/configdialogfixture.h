#pragma once

// A config editor talking to a fake node that keeps a real, mutable config.

#include "appsettings.h"
#include "configdialog.h"
#include "fakekubonode.h"
#include "ipfsclient.h"
#include "modaldialogdriver.h"

#include <QComboBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTreeWidget>
#include <QtTest>

struct Question {
    QString title;
    QString text;
    bool noIsDefault = false;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    bool asked = false;
};

class ConfigDialogFixture
{
public:
    ConfigDialogFixture()
    {
        config = QJsonDocument::fromJson(R"({
            "API": {"HTTPHeaders": {}},
            "Addresses": {"API": "/ip4/127.0.0.1/tcp/5001", "Swarm": ["/ip4/0.0.0.0/tcp/4001", "/ip6/::/tcp/4001"]},
            "Bootstrap": ["/dnsaddr/bootstrap.libp2p.io/p2p/QmNnoo"],
            "Datastore": {"BloomFilterSize": 1048576, "StorageMax": "10GB"},
            "Discovery": {"MDNS": {"Enabled": true}},
            "Pinning": {"RemoteServices": null},
            "Swarm": {"ConnMgr": {"HighWater": 96, "Nested": [[1]]}}
        })")
                     .object();
        node.start();
        node.route(QStringLiteral("/config/show"), [this](const FakeKuboNode::Request&) {
            return FakeKuboNode::json(QJsonDocument(config).toJson());
        });
        node.route(QStringLiteral("/config"),
            [this](const FakeKuboNode::Request& request) { return answerConfig(request); });
        node.route(QStringLiteral("/config/replace"), [this](const FakeKuboNode::Request& request) {
            if (refuseReplace)
                return FakeKuboNode::kuboError(QStringLiteral("failed to decode config"));
            config = QJsonDocument::fromJson(request.parts.value(0).body).object();
            return FakeKuboNode::json("");
        });
        client.setEndpoint(node.host(), node.port());
        dialog = new ConfigDialog(&client, nullptr);
        QObject::connect(dialog, &ConfigDialog::statusMessageRequested, dialog,
            [this](const QString& message) { statuses << message; });
    }
    ~ConfigDialogFixture() { delete dialog; }

    template <typename T> T* child(const char* name) const
    {
        return dialog->findChild<T*>(QString::fromLatin1(name));
    }
    QPushButton* button(const char* name) const { return child<QPushButton>(name); }
    QLabel* label() const { return child<QLabel>("statusLabel"); }
    QTreeWidget* tree() const { return child<QTreeWidget>("configTree"); }

    // Shows the dialog, which loads the config by itself.
    bool showAndLoad()
    {
        dialog->show();
        return waitIdle();
    }
    bool waitIdle()
    {
        return QTest::qWaitFor([this] { return button("refreshButton")->isEnabled(); }, 10000);
    }

    void setKey(const QString& key, const QString& value, const QString& mode)
    {
        child<QLineEdit>("keyEdit")->setText(key);
        child<QLineEdit>("valueEdit")->setText(value);
        child<QComboBox>("modeCombo")->setCurrentText(mode);
    }

    // Answers the next question box with the given button and records what it asked.
    static void answer(QMessageBox::StandardButton button, Question* seen)
    {
        ModalDialogDriver::answerNext([button, seen](QWidget* widget) {
            auto* box = qobject_cast<QMessageBox*>(widget);
            QVERIFY(box);
            seen->asked = true;
            seen->title = box->windowTitle();
            seen->text = box->text();
            seen->noIsDefault = box->defaultButton() == box->button(QMessageBox::No);
            seen->icon = box->icon();
            box->button(button)->click();
        });
    }

    QList<FakeKuboNode::Request> setRequests() const
    {
        QList<FakeKuboNode::Request> writes;
        for (const auto& request : node.requests(QStringLiteral("/config"))) {
            if (request.queryValues(QStringLiteral("arg")).size() == 2)
                writes << request;
        }
        return writes;
    }

    QJsonObject config;
    bool refuseReplace = false;
    FakeKuboNode node;
    IpfsClient client;
    ConfigDialog* dialog = nullptr;
    QStringList statuses;

private:
    FakeKuboNode::Response answerConfig(const FakeKuboNode::Request& request)
    {
        const QStringList args = request.queryValues(QStringLiteral("arg"));
        const QStringList path = args.value(0).split(QLatin1Char('.'));
        if (args.size() == 1) {
            QJsonValue value = config;
            for (const QString& part : path)
                value = value.toObject().value(part);
            if (value.isUndefined())
                return FakeKuboNode::kuboError(QStringLiteral("key has no attributes"));
            return FakeKuboNode::json(QJsonDocument(
                QJsonObject { { QStringLiteral("Key"), args.at(0) }, { QStringLiteral("Value"), value } })
                                          .toJson());
        }
        QJsonValue value = args.value(1);
        if (request.queryValue(QStringLiteral("bool")) == QLatin1String("true"))
            value = args.value(1) == QLatin1String("true");
        if (request.queryValue(QStringLiteral("json")) == QLatin1String("true"))
            value = QJsonDocument::fromJson("[" + args.value(1).toUtf8() + "]").array().first();
        config = withValue(config, path, value);
        return FakeKuboNode::json(QJsonDocument(
            QJsonObject { { QStringLiteral("Key"), args.at(0) }, { QStringLiteral("Value"), value } })
                                      .toJson());
    }

    static QJsonObject withValue(QJsonObject object, QStringList path, const QJsonValue& value)
    {
        const QString head = path.takeFirst();
        object.insert(head, path.isEmpty() ? value : withValue(object.value(head).toObject(), path, value));
        return object;
    }
};
