#pragma once

#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <functional>

// Answers the modal windows of a flow as they open, the way a user would: `handle` gets each new
// modal window once and returns whether it acted on it; one it leaves (a progress dialog) is
// passed over until another opens above it.
class ModalAnswerer : public QObject
{
public:
    using Handler = std::function<void(QWidget*)>;
    explicit ModalAnswerer(Handler handle);

private:
    void poll();

    Handler handle;
    QTimer timer;
    QPointer<QWidget> lastSeen;
};

struct AddChoice {
    QStringList paths;
    bool wrap = true;
    QString destination = QStringLiteral("local"); // "local", "both" or "remote"
    QString service;
};

// Picks the paths in the add dialog's file browser, sets the options and presses OK.
void fillAddDialog(QWidget* dialog, const AddChoice& choice);
