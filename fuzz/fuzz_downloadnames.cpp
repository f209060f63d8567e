// The names under which a pin's contents are saved. Whoever made the pin chose them, so the saved
// path must never leave the folder the user picked. The input is one name or relative path.
#include "contentpaths.h"
#include "fuzzsupport.h"

#include <QDir>
#include <QSet>
#include <QTemporaryDir>

using namespace PinContents;

namespace {

// An empty folder to save into: nothing below it exists, so no link can redirect a path.
const QString& saveBase()
{
    static QTemporaryDir folder;
    static const QString canonical = QDir(folder.path()).canonicalPath();
    return canonical;
}

bool staysInside(const QString& base, const QString& relativePath)
{
    const QString cleaned = QDir::cleanPath(base + QLatin1Char('/') + relativePath);
    return cleaned == base || cleaned.startsWith(base + QLatin1Char('/'));
}

bool isSafeComponent(const QString& component)
{
    if (component.isEmpty() || component == QLatin1String(".") || component == QLatin1String(".."))
        return false;
    for (const QChar c : component) {
        if (c.unicode() < 0x20 || QStringLiteral("/\\:*?\"<>|").contains(c))
            return false;
    }
    return !component.endsWith(QLatin1Char('.')) && !component.back().isSpace();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text = QString::fromUtf8(fuzzInput(data, size));
    const QString& base = saveBase();
    FUZZ_CHECK(!base.isEmpty());

    const QString component = sanitizeFilenameComponent(text);
    FUZZ_CHECK(isSafeComponent(component));
    FUZZ_CHECK(sanitizeFilenameComponent(component) == component);

    const QString path = sanitizeRelativePath(text);
    FUZZ_CHECK(!path.isEmpty() && !path.startsWith(QLatin1Char('/')));
    for (const QString& part : path.split(QLatin1Char('/')))
        FUZZ_CHECK(part == QLatin1String("_") || isSafeComponent(part));
    FUZZ_CHECK(sanitizeRelativePath(path) == path);
    FUZZ_CHECK(staysInside(base, path));
    FUZZ_CHECK(checkSaveTarget(base, path).isEmpty());

    // The last guard before writing, given a path that was never sanitised.
    if (checkSaveTarget(base, text).isEmpty())
        FUZZ_CHECK(staysInside(base, text));

    // A sibling with the same name gets "<stem> (n)<suffix>", itself a safe name.
    UniqueNames taken;
    FUZZ_CHECK(uniqueFilenameComponent(component, taken) == component);
    const QString second = uniqueFilenameComponent(component, taken);
    FUZZ_CHECK(second != component && isSafeComponent(second));
    const qsizetype dot = component.lastIndexOf(QLatin1Char('.'));
    const QString stem = dot > 0 ? component.left(dot) : component;
    const QString suffix = dot > 0 ? component.mid(dot) : QString();
    FUZZ_CHECK(second == stem + QLatin1String(" (2)") + suffix);
    return 0;
}
