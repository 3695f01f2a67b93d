# Sourced with the build folder as $1: sets the Wine environment for that folder and defines
# df_wine_prefix_ready, which makes the prefix once and starts a warm wineserver, and df_winpath.
export WINEPREFIX="$1/wine/prefix"
export HOME="$1/wine/home"          # Wine links Desktop and Documents into $HOME
export WINEARCH=win64
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export LC_ALL=C.UTF-8

# Wine's own fonts (Debian's fonts-wine: Tahoma, and Marlett for the caption buttons). Debian's Wine
# looks for them under a data path it cannot open ("share/wine/../fonts"), so each prefix gets a
# copy in its Fonts folder; without them title bars show letters instead of buttons.
DF_WINE_FONTS=/usr/share/wine/fonts

df_wine_make_prefix() {
  rm -rf "$WINEPREFIX"
  mkdir -p "$WINEPREFIX" "$HOME"
  wineboot -i </dev/null >/dev/null 2>&1 || return 1
  wineserver -w
  local fonts=no
  if [ -e "$DF_WINE_FONTS/marlett.ttf" ]; then
    cp "$DF_WINE_FONTS"/*.ttf "$DF_WINE_FONTS"/*.fon "$WINEPREFIX/drive_c/windows/Fonts/" || return 1
    fonts=yes
  fi
  # Chinese texts: link the UI fonts (Tahoma's bold face too) to WenQuanYi Micro Hei.
  local key='HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink'
  local link='wqy-microhei.ttc,WenQuanYi Micro Hei'
  for f in Tahoma "Tahoma Bold" "Segoe UI" "Microsoft Sans Serif" "MS Shell Dlg" "MS Shell Dlg 2"; do
    wine reg add "$key" /v "$f" /t REG_MULTI_SZ /d "$link" /f </dev/null >/dev/null 2>&1
  done
  wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "Microsoft YaHei UI" /t REG_SZ \
    /d "WenQuanYi Micro Hei" /f </dev/null >/dev/null 2>&1
  # A crashed test program prints its backtrace into the test's output and ends: Wine's crash
  # dialog would wait for a click that never comes under xvfb and hold ctest until its time-out.
  wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f </dev/null >/dev/null 2>&1
  wineserver -w
  [ "$fonts" = no ] || touch "$WINEPREFIX/.df-fonts"
  touch "$WINEPREFIX/.df-ready" "$WINEPREFIX/.df-no-crash-dialog"
}

# Whether the prefix is made with the current settings, and has Wine's fonts when they are
# installed (a prefix made before the package was installed, or before the crash-dialog setting,
# is made again).
df_wine_prefix_made() {
  [ -e "$WINEPREFIX/.df-ready" ] && [ -e "$WINEPREFIX/.df-no-crash-dialog" ] && { [ -e "$WINEPREFIX/.df-fonts" ] || [ ! -e "$DF_WINE_FONTS/marlett.ttf" ]; }
}

df_wine_prefix_ready() {
  mkdir -p "$(dirname "$WINEPREFIX")"
  if ! df_wine_prefix_made; then
    (
      flock 9
      df_wine_prefix_made || df_wine_make_prefix
    ) 9>"$(dirname "$WINEPREFIX")/.lock" || return 1
  fi
  # A warm server for 5 minutes after the last client, and Wine's own background processes
  # (services, explorer) started here with every stream closed: they outlive the program and
  # would otherwise hold the caller's pipes open, so ctest would wait for them.
  wineserver -p300 </dev/null >/dev/null 2>&1 || true
  wine cmd.exe /c exit </dev/null >/dev/null 2>&1 || true
  return 0
}

# The Windows form of a Linux path under Wine: Z: and backslashes.
df_winpath() { echo "Z:${1//\//\\}"; }

# Copies the setup exe $1 without its debug sections into folder $2 and prints the copy's path:
# the exe a bench runs. Wine reads an image whose sections are not page-aligned whole into
# memory, debug sections too (about 20 MiB in the test build), and the peak memory would count
# them; the release exe carries none, and Windows maps an image's pages only as they are used.
df_bench_exe() {
  x86_64-w64-mingw32-strip --strip-debug -o "$2/duskfern-setup.exe" "$1" && echo "$2/duskfern-setup.exe"
}
