#!/bin/sh
# Runs a test in a home folder of its own, emptied first: the settings store, Qt's file dialog
# state, caches and temporary files a run leaves there never reach the next run. The folder stays
# after the run for a look at what it left.
# Usage: run-in-fresh-home.sh HOME_FOLDER COMMAND [ARGUMENT...]
home=$1
shift
case $home in
*/tests/home/?*) ;;
*)
    echo "run-in-fresh-home: $home is no test home folder" >&2
    exit 2
    ;;
esac
rm -rf -- "$home" && mkdir -p -- "$home/tmp" "$home/runtime" && chmod 700 "$home/runtime" || exit 2
unset XDG_CONFIG_HOME XDG_DATA_HOME XDG_CACHE_HOME XDG_STATE_HOME
# The desktop's theme would bring native dialogs and other looks than CI's.
unset QT_QPA_PLATFORMTHEME QT_STYLE_OVERRIDE
HOME=$home TMPDIR=$home/tmp XDG_RUNTIME_DIR=$home/runtime exec "$@"
