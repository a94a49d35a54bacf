# Wine on a virtual X server, for scripts/windows.sh and scripts/screenshots.sh
# (sourced, not run). The same results whatever the caller's locale: Wine
# takes the encoding of file names from it (under LANG=C a Japanese name
# cannot be made), and both tervalo-cli programs their language.
#   wine_install PACKAGE...   installs what is missing, Wine, Xvfb and the
#                             CJK font included; sets wine_bin
#   wine_start PREFIX         starts Xvfb on a display of its own and readies
#                             the Wine prefix (crash dialog off, the Windows UI
#                             fonts mapped to Noto Sans CJK JP, Wine drawing
#                             window frames itself); both end with the script
#   run_wine SECONDS PROGRAM ARGS...   one Wine run with a time limit
#   winpath PATH              the Windows spelling of a path of this system
export LC_ALL=C.UTF-8 LANG=C.UTF-8
unset LANGUAGE LC_MESSAGES LC_CTYPE

# Debian's wine64 alone puts its loader in /usr/lib/wine, not on the PATH.
find_wine() { command -v wine || command -v wine64 || { [ -x /usr/lib/wine/wine64 ] && echo /usr/lib/wine/wine64; } || true; }

wine_install() {
  local packages=("$@" xvfb xauth fonts-noto-cjk)
  wine_bin=$(find_wine)
  [ -n "$wine_bin" ] || packages+=(wine64)
  scripts/install-packages.sh "${packages[@]}"
  [ -n "$wine_bin" ] || wine_bin=$(find_wine)
  [ -n "$wine_bin" ] || { echo "no Wine found after installing wine64" >&2; exit 1; }
}

run_wine() {
  local limit=$1
  shift
  timeout -k 10 "$limit" "$wine_bin" "$@"
}

winpath() { run_wine 60 winepath -w "$1" 2>/dev/null | tr -d '\r'; }

xvfb_pid=
wine_stop() {
  "$(dirname "$wine_bin")/wineserver" -k 2>/dev/null || true
  [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null || true
}

wine_start() {
  export WINEPREFIX=${WINEPREFIX:-$1}
  export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  trap wine_stop EXIT
  local display_file
  display_file=$(mktemp)
  Xvfb -displayfd 3 -screen 0 1600x900x24 -nolisten tcp 3>"$display_file" >/dev/null 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 100); do [ -s "$display_file" ] && break; sleep 0.1; done
  [ -s "$display_file" ] || { echo "Xvfb did not start" >&2; exit 1; }
  export DISPLAY=:$(head -1 "$display_file")
  rm -f "$display_file"
  mkdir -p "$WINEPREFIX"
  run_wine 300 wineboot --init >/dev/null 2>&1 || true
  local reg=$WINEPREFIX/tervalo-settings.reg
  {
    printf 'REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Wine\\WineDbg]\r\n"ShowCrashDialog"=dword:00000000\r\n\r\n'
    # No window manager runs on the virtual screen: Wine draws the frames.
    printf '[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\r\n"Managed"="N"\r\n"Decorated"="N"\r\n\r\n'
    printf '[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\r\n'
    local font
    for font in "MS Shell Dlg" "MS Shell Dlg 2" "Tahoma" "Segoe UI" "MS UI Gothic" "MS Gothic" "MS PGothic" \
                "Meiryo" "Meiryo UI" "Yu Gothic" "Yu Gothic UI" "Microsoft Sans Serif"; do
      printf '"%s"="Noto Sans CJK JP"\r\n' "$font"
    done
  } >"$reg"
  run_wine 120 regedit /S "$(winpath "$reg")" >/dev/null 2>&1 || true
}
