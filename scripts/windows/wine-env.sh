# Sourced by the Windows scripts that run programs under Wine: the prefix they share, and
# `wine` and `wineserver` to call.
export WINEPREFIX="${BRINDLE_WINEPREFIX:-${BRINDLE_CACHE:-/var/cache/brindle}/wine-prefix}"
export WINEDEBUG=-all
# No .NET or browser engine: nothing here needs them, and Wine would offer to install them.
export WINEDLLOVERRIDES="mscoree,mshtml="
# Wine reads the command line in the locale's character set; the folder names are UTF-8.
export LANG=C.UTF-8 LC_ALL=C.UTF-8
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver64
mkdir -p "$WINEPREFIX"
