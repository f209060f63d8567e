#pragma once

#include <QList>
#include <QString>
#include <QWidget>

// The first child of parent of type T whose text() is text, or nullptr.
template <typename T> T* childWithText(QWidget* parent, const QString& text)
{
    const QList<T*> all = parent->findChildren<T*>();
    for (T* widget : all) {
        if (widget->text() == text)
            return widget;
    }
    return nullptr;
}
