# Sourced by the scripts: the Wine environment of one run.
# Usage: . scripts/wine-env.sh <prefix-dir>
export WINEPREFIX="$1"
# Debian 13's Wine 10 aborts at start ("free(): invalid pointer") whenever TMPDIR is set, whatever
# its value: Wine must never see it. A script that needs its own temporary folder passes it under
# another name.
unset TMPDIR
export WINEARCH=win32
# No network here: never let Wine offer to download its .NET or HTML engines.
# winegstreamer crashes while wineboot registers it under emulation, and winedbg then hangs:
# neither is needed here.
export WINEDLLOVERRIDES="${ORVL_EXTRA_DLLOVERRIDES:+$ORVL_EXTRA_DLLOVERRIDES;}mscoree=;mshtml=;winegstreamer=;winedbg.exe=d"
export WINEDEBUG="${WINEDEBUG:--all}"
# Russian texts need Wine's ANSI code page 1251, which follows the Unix character-type locale;
# English texts are ASCII and read the same there. Messages of the tools stay in English.
# ORVL_LC_CTYPE chooses another (C.UTF-8 gives code page 1252), for cases that need it.
unset LC_ALL
export LC_CTYPE="${ORVL_LC_CTYPE:-ru_RU.UTF-8}"
