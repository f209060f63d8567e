#pragma once

// A main window that talks to a fake node, and ways to reach the windows it opens.

#include "appsettings.h"
#include "fakekubonode.h"
#include "mainwindow.h"
#include "splitactionbutton.h"

#include <QApplication>
#include <QDialog>
#include <QPointer>
#include <QPushButton>
#include <QSettings>

#include <memory>

namespace MainWindowFixture {

// The offscreen platform warns on every raise() and size hint change of a window.
inline void silenceOffscreenPlatformWarnings()
{
    static QtMessageHandler previous = nullptr;
    previous
        = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext& context, const QString& text) {
              if (type == QtWarningMsg && text.startsWith(QLatin1String("This plugin does not support ")))
                  return;
              if (previous)
                  previous(type, context, text);
          });
}

// A fresh settings store pointing at the node, then a shown main window on it.
inline std::unique_ptr<MainWindow> openMainWindow(const FakeKuboNode& node)
{
    QSettings settings = appSettings();
    settings.clear();
    settings.setValue(QStringLiteral("host"), node.host());
    settings.setValue(QStringLiteral("port"), int(node.port()));
    settings.sync();
    auto window = std::make_unique<MainWindow>();
    window->show();
    return window;
}

// Every live widget of class T, whoever its parent.
template <typename T> QList<T*> liveWidgets()
{
    QList<T*> found;
    const QWidgetList widgets = QApplication::allWidgets();
    for (QWidget* widget : widgets) {
        if (auto* match = qobject_cast<T*>(widget))
            found.append(match);
    }
    return found;
}

template <typename T> T* onlyLiveWidget()
{
    const QList<T*> found = liveWidgets<T>();
    return found.size() == 1 ? found.first() : nullptr;
}

// The text half (or the new-window half) of a tool bar window button.
inline QPushButton* windowButton(MainWindow& window, const QString& text, bool newWindow)
{
    const QList<SplitActionButton*> splits = window.findChildren<SplitActionButton*>();
    for (SplitActionButton* split : splits) {
        auto* primary = split->findChild<QPushButton*>(QStringLiteral("actionBtn"));
        if (primary && primary->text() == text)
            return newWindow ? split->findChild<QPushButton*>(QStringLiteral("actionBtnSecondary")) : primary;
    }
    return nullptr;
}

// How many status log lines carry exactly this message after their time stamp.
inline int loggedCount(const MainWindow& window, const QString& message)
{
    int count = 0;
    const QStringList lines = window.statusLog();
    for (const QString& line : lines) {
        if (line.mid(19) == QStringLiteral("  ") + message)
            ++count;
    }
    return count;
}

// Windows opened on their own are not deleted with the main window.
inline void deleteTopLevelDialogs()
{
    QList<QPointer<QDialog>> topLevel;
    const QList<QDialog*> dialogs = liveWidgets<QDialog>();
    for (QDialog* dialog : dialogs) {
        if (!dialog->parentWidget())
            topLevel.append(dialog);
    }
    for (const QPointer<QDialog>& dialog : topLevel)
        delete dialog.data();
}

} // namespace MainWindowFixture
