# Sourced by the scripts beside it: one home for the Wine environment they share.
export WINEPREFIX=${WINEPREFIX:-/tmp/tolmail-wine/prefix}
export WINEARCH=win64
export DISPLAY=
export WINEDEBUG=${WINEDEBUG:--all}
# No .NET or HTML engine is needed, and their installers would stop the boot to ask.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
