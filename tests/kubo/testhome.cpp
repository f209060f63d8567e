#include "testhome.h"

#include "testsettings.h"

#include <QTemporaryDir>

void useFreshTestHome()
{
    // Kubo's start script keeps its unpacked binary in the cache folder: keep the user's.
    if (qEnvironmentVariableIsEmpty("XDG_CACHE_HOME"))
        qputenv("XDG_CACHE_HOME", qgetenv("HOME") + "/.cache");
    static QTemporaryDir home;
    for (const char* name : { "HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME" })
        qputenv(name, home.path().toUtf8());
    useIsolatedTestSettings();
}
