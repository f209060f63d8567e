#include "addselection.h"

#include <QFileInfo>
#include <QHash>
#include <QSet>

#include <algorithm>

namespace {

// True when a kept path is an ancestor folder of path. Checks every ancestor through a set,
// so a selection of thousands of files stays fast.
bool insideKeptPath(const QString& path, const QSet<QString>& kept)
{
    for (qsizetype slash = path.indexOf(u'/'); slash >= 0; slash = path.indexOf(u'/', slash + 1)) {
        if (slash + 1 >= path.size())
            break;
        // "/a" holds "/a/b"; a root such as "/" or "C:/" holds "/b" and "C:/b".
        if (kept.contains(path.left(slash)) || kept.contains(path.left(slash + 1)))
            return true;
    }
    return false;
}

} // namespace

QStringList normalizeLocalPaths(const QStringList& paths)
{
    QStringList absolute;
    absolute.reserve(paths.size());
    for (const QString& path : paths) {
        if (path.isEmpty())
            continue;
        const QFileInfo info(path);
        if (!info.exists())
            continue;
        const QString absolutePath = info.absoluteFilePath();
        if (!absolutePath.isEmpty())
            absolute.append(absolutePath);
    }
    std::sort(absolute.begin(), absolute.end());
    absolute.erase(std::unique(absolute.begin(), absolute.end()), absolute.end());

    QStringList result;
    QSet<QString> kept;
    for (const QString& path : std::as_const(absolute)) {
        if (insideKeptPath(path, kept))
            continue;
        kept.insert(path);
        result.append(path);
    }
    return result;
}

QList<LocalPathSelection> localPathSelections(const QStringList& paths)
{
    QList<LocalPathSelection> selections;
    QHash<QString, int> uses; // per base name: how many items took it
    QSet<QString> taken;
    for (const QString& path : paths) {
        const QFileInfo info(path);
        if (!info.exists())
            continue;
        QString base = info.fileName().trimmed();
        if (base.isEmpty())
            base = QStringLiteral("item");

        // The counter goes on past a name that another item already holds ("a", "a", "a-2").
        int& count = uses[base];
        QString name;
        do {
            ++count;
            name = count == 1 ? base : QStringLiteral("%1-%2").arg(base).arg(count);
        } while (taken.contains(name));
        taken.insert(name);

        LocalPathSelection selection;
        selection.localPath = info.absoluteFilePath();
        selection.name = name;
        selection.isDirectory = info.isDir();
        selections.append(selection);
    }
    return selections;
}
