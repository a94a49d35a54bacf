#!/usr/bin/env bash
# Cross-builds the core, tervalo-cli, the Windows desktop program tervalo.exe
# and the test suite for 64-bit Windows with MinGW-w64, runs the suite and
# the desktop program's UI test under Wine on a virtual X server (Xvfb),
# compares the Windows tervalo-cli with the Linux one on the shared corpus
# (when both are there), and packs build-windows/tervalo-windows-x64.zip.
# Usage: scripts/windows.sh [LINUX_BUILD_DIR]   (default: build; its
#        cli/tervalo-cli is the Linux program to compare with)
# Every Wine run has a time limit (TERVALO_WINE_TIMEOUT seconds for the
# long ones, default 900).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=$root/build-windows
linux_cli=$root/${1:-build}/cli/tervalo-cli

# The locale is set by wine-env.sh: the results do not depend on the caller's.
# googletest: its sources in /usr/src/googletest, built here for Windows;
# libcli11-dev: headers only, copied into the build (see cli/CMakeLists.txt);
# libz-mingw-w64-dev: zlib for the PNG pictures.
packages=(cmake ninja-build g++-mingw-w64-x86-64-posix googletest libcli11-dev libz-mingw-w64-dev zip unzip)
source scripts/wine-env.sh
wine_install "${packages[@]}"

cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DTERVALO_BUILD_APP=OFF -DTERVALO_GTEST_SOURCE_DIR=/usr/src/googletest
cmake --build "$build" -j "$(nproc)"

# --- Wine on a virtual screen ---------------------------------------------
wine_start "$build/wineprefix"
wine_timeout=${TERVALO_WINE_TIMEOUT:-900}
win_cli=$build/cli/tervalo-cli.exe
status=0

# --- The test suite, as one program (each start under Wine is slow) ----------
echo "== test suite under Wine"
set +e
run_wine "$wine_timeout" "$build/tests/tervalo_tests.exe" --gtest_brief=1 2>&1 | tr -d '\r' | tee "$build/tests.log"
tests_rc=${PIPESTATUS[0]}
set -e
count() { sed -n "s/^\[ *$1 *\] \([0-9][0-9]*\) tests\?\b.*/\1/p" "$build/tests.log" | tail -1; }
ran=$(sed -n 's/^\[==========\] \([0-9][0-9]*\) tests\? from .* ran\..*/\1/p' "$build/tests.log" | tail -1)
passed=$(count PASSED); skipped=$(count SKIPPED)
ran=${ran:-0}; passed=${passed:-0}; skipped=${skipped:-0}
failed=$((ran - passed - skipped))
if [ "$tests_rc" -ne 0 ] && [ "$failed" -eq 0 ]; then failed=1; fi  # the suite did not finish
[ "$tests_rc" -eq 0 ] || status=1
if ((skipped)); then
  echo "== skipped on Windows:"
  grep -A1 ': Skipped$' "$build/tests.log" | grep -v -- '^--$' | grep -v ': Skipped$' | sort | uniq -c || true
fi

# --- The same results as Linux on the shared corpus -------------------------
corpus=${TERVALO_CORPUS:-$root/../shared/corpus}
if [ -x "$linux_cli" ] && [ -d "$corpus" ]; then
  echo "== Windows against Linux tervalo-cli on $corpus"
  cmp_dir=$build/corpus-compare
  rm -rf "$cmp_dir"
  mkdir -p "$cmp_dir"
  files=0 info_diff=0
  # Each file by its bare name from its own folder, so the outputs hold no
  # separators that differ between the systems.
  while IFS= read -r -d '' f; do
    files=$((files + 1))
    dir=$(dirname "$f") name=$(basename "$f")
    for form in "" "--json"; do
      (cd "$dir" && "$linux_cli" info $form "$name" >"$cmp_dir/linux.out" 2>&1 || true)
      (cd "$dir" && run_wine 120 "$win_cli" info $form "$name" >"$cmp_dir/windows.out" 2>&1 || true)
      if ! cmp -s "$cmp_dir/linux.out" "$cmp_dir/windows.out"; then
        info_diff=$((info_diff + 1))
        echo "info $form differs: $f"
      fi
    done
  done < <(find "$corpus" -type f \( -iname '*.jww' -o -iname '*.jws' -o -iname '*.jwc' -o -iname '*.jwk' \) -print0 | sort -z)
  echo "info (text and --json) of $files files: $info_diff outputs differ"
  conv_files=0 conv_diff=0
  while IFS= read -r -d '' folder; do
    rel=${folder#"$corpus"}
    for direction in --to-real --to-temporary; do
      for side in linux windows; do
        out=$cmp_dir/$side$direction$rel
        mkdir -p "$out"
        if [ $side = linux ]; then
          "$linux_cli" convert $direction -o "$out" "$folder" >/dev/null 2>&1 || true
        else
          run_wine "$wine_timeout" "$win_cli" convert $direction -o "$out" "$folder" >/dev/null 2>&1 || true
        fi
      done
      while IFS= read -r -d '' made; do
        conv_files=$((conv_files + 1))
        other=$cmp_dir/windows$direction$rel/$(basename "$made")
        if ! cmp -s "$made" "$other"; then
          conv_diff=$((conv_diff + 1))
          echo "conversion $direction differs: $rel/$(basename "$made")"
        fi
      done < <(find "$cmp_dir/linux$direction$rel" -maxdepth 1 -type f -print0)
      n_linux=$(find "$cmp_dir/linux$direction$rel" -maxdepth 1 -type f | wc -l)
      n_windows=$(find "$cmp_dir/windows$direction$rel" -maxdepth 1 -type f | wc -l)
      if [ "$n_linux" != "$n_windows" ]; then
        conv_diff=$((conv_diff + 1))
        echo "conversion $direction of $folder: $n_linux files on Linux, $n_windows on Windows"
      fi
    done
  done < <(find "$corpus" -type d -print0 | sort -z)
  echo "conversions (both directions): $conv_files files compared, $conv_diff differ"
  # The paths info shows of a folder's files use the system's separator,
  # also below a folder given with a trailing one.
  win_corpus=$(winpath "$corpus")
  run_wine "$wine_timeout" "$win_cli" info -r "$win_corpus\\" 2>&1 | tr -d '\r' >"$cmp_dir/info-paths.out" || true
  shown=$(grep -c '^[A-Za-z]:' "$cmp_dir/info-paths.out" || true)
  slashed=$(grep '^[A-Za-z]:' "$cmp_dir/info-paths.out" | grep -c '/' || true)
  echo "info -r of the corpus under Wine: $shown paths shown, $slashed with '/'"
  if ((info_diff || conv_diff || slashed || shown == 0)); then status=1; fi
else
  echo "== no comparison with Linux: $linux_cli or $corpus is missing"
fi

# --- The desktop program's UI test -----------------------------------------
# On a copy of the corpus in a folder with a Japanese name and a space: the
# window is driven by its messages (tree, list, settings dialog, convert,
# stop, close during a run, restart), its conversions compared byte for
# byte with the Linux tervalo-cli's, and a folder of 3900 drawings listed.
ui_rc=0 ui_passed=0 ui_failed=0
if [ -x "$linux_cli" ] && [ -d "$corpus" ]; then
  echo "== UI test of tervalo.exe under Wine"
  ui=$build/ui-test
  rm -rf "$ui"
  copy="$ui/図面 コピー"
  mkdir -p "$ui/settings" "$ui/out" "$ui/expected" "$ui/long" "$ui/many" "$copy"
  cp -r "$corpus/." "$copy/"
  # The first subfolder that holds drawings is the one selected in the tree.
  sub=
  while IFS= read -r -d '' d; do
    if find "$d" -maxdepth 1 -type f \( -iname '*.jww' -o -iname '*.jws' \) | grep -q .; then sub=$(basename "$d"); break; fi
  done < <(find "$copy" -mindepth 1 -maxdepth 1 -type d -print0 | sort -z)
  "$linux_cli" convert --to-real --marker circle --scale 2.5 -o "$ui/expected" "$copy/$sub" >/dev/null 2>&1 || true
  # A long run: forty links to each of that folder's drawings, so that a run
  # is still going when the test stops it (or closes the window), however
  # fast the machine converts; many: 3900 links.
  for ((i = 1; i <= 40; i++)); do
    for f in "$copy/$sub"/*; do
      [ -f "$f" ] && { ln "$f" "$ui/long/$i-$(basename "$f")" 2>/dev/null || cp "$f" "$ui/long/$i-$(basename "$f")"; }
    done
  done
  mapfile -d '' drawings < <(find "$corpus" -type f \( -iname '*.jww' -o -iname '*.jws' \) -print0 | sort -z)
  for ((i = 0; i < 3900; i++)); do
    f=${drawings[i % ${#drawings[@]}]}
    ln "$f" "$ui/many/$(printf %04d "$i")-$(basename "$f")" 2>/dev/null || cp "$f" "$ui/many/$(printf %04d "$i")-$(basename "$f")"
  done
  set +e
  run_wine "$wine_timeout" "$build/gui/win32/tervalo_ui_test.exe" "$(winpath "$ui/settings")" "$(winpath "$copy")" "$sub" \
    "$(winpath "$ui/expected")" "$(winpath "$ui/out")" "$(winpath "$ui/long")" "$(winpath "$ui/many")" 2>&1 |
    tr -d '\r' | grep -v '^wine: Read access denied' | tee "$build/ui-test.log"
  ui_rc=${PIPESTATUS[0]}
  set -e
  ui_passed=$(sed -n 's/^ui: \([0-9]*\) passed.*/\1/p' "$build/ui-test.log" | tail -1)
  ui_failed=$(sed -n 's/^ui: [0-9]* passed, \([0-9]*\) failed.*/\1/p' "$build/ui-test.log" | tail -1)
  ui_passed=${ui_passed:-0} ui_failed=${ui_failed:-1}
  if [ "$ui_rc" -ne 0 ]; then status=1; ((ui_failed)) || ui_failed=1; fi
else
  echo "== no UI test: $linux_cli or $corpus is missing"
fi

# --- The Windows zip ----------------------------------------------------------
pkg=$build/package
zip_file=$build/tervalo-windows-x64.zip
rm -rf "$pkg" "$zip_file" "$build/tervalo-cli-windows-x64.zip"
mkdir -p "$pkg/licenses"
x86_64-w64-mingw32-strip -o "$pkg/tervalo.exe" "$build/gui/win32/tervalo.exe"
x86_64-w64-mingw32-strip -o "$pkg/tervalo-cli.exe" "$win_cli"
cp packaging/windows/README.txt "$pkg/README.txt"
# What is linked into both programs: the MinGW-w64 runtime and winpthreads,
# GCC's C++ and support libraries (under their runtime exception) and zlib.
cp /usr/share/doc/mingw-w64-common/copyright "$pkg/licenses/mingw-w64-runtime-and-winpthreads.txt"
cp /usr/share/doc/gcc-mingw-w64-base/copyright "$pkg/licenses/gcc-runtime-libraries.txt"
cp /usr/share/doc/libz-mingw-w64-dev/copyright "$pkg/licenses/zlib.txt"
cp packaging/windows/licenses/README.txt "$pkg/licenses/README.txt"
# Windows line ends; the READMEs as UTF-8 with a byte-order mark, which every
# Notepad reads as such.
for f in "$pkg/README.txt" "$pkg/licenses/"*.txt; do sed -i 's/\r$//; s/$/\r/' "$f"; done
for f in "$pkg/README.txt" "$pkg/licenses/README.txt"; do sed -i '1s/^/\xef\xbb\xbf/' "$f"; done
# Nothing but the system's own DLLs may be imported.
for exe in "$pkg/tervalo.exe" "$pkg/tervalo-cli.exe"; do
  foreign=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z' |
    grep -v -x -E 'kernel32\.dll|user32\.dll|gdi32\.dll|advapi32\.dll|shell32\.dll|ole32\.dll|oleaut32\.dll|comctl32\.dll|shlwapi\.dll|msvcrt\.dll|comdlg32\.dll|uxtheme\.dll' || true)
  if [ -n "$foreign" ]; then echo "windows: $(basename "$exe") imports $foreign" >&2; status=1; fi
done
(cd "$pkg" && zip -q -X -r "$zip_file" tervalo.exe tervalo-cli.exe README.txt licenses)
echo "== package: $zip_file ($(stat -c %s "$zip_file") bytes; tervalo.exe $(stat -c %s "$pkg/tervalo.exe") bytes)"

# Unpacked into a folder with a Japanese name and a space, both programs work.
unpacked="$build/展開 テスト/Tervalo 1"
rm -rf "$build/展開 テスト"
mkdir -p "$unpacked"
(cd "$unpacked" && unzip -q "$zip_file")
if [ -d "$corpus" ]; then
  set +e
  (cd "$unpacked" && run_wine 120 ./tervalo-cli.exe info "$(winpath "$corpus/sample.jww")" 2>&1 | tr -d '\r' | sed -n 1,2p)
  cli_rc=$?
  set -e
  [ "$cli_rc" -eq 0 ] || { echo "windows: the unpacked tervalo-cli.exe failed" >&2; status=1; }
fi
set +e
run_wine 300 "$build/gui/win32/tervalo_ui_test.exe" --package "$(winpath "$unpacked")" 2>&1 | tr -d '\r' |
  grep -v '^wine: Read access denied' | tee -a "$build/ui-test.log"
pkg_rc=${PIPESTATUS[0]}
set -e
if [ "$pkg_rc" -eq 0 ]; then ui_passed=$((ui_passed + 1)); else ui_failed=$((ui_failed + 1)); status=1; fi

echo "windows UI: $ui_passed passed, $ui_failed failed"
echo "windows: $((passed + ui_passed)) passed, $((failed + ui_failed)) failed, $skipped skipped"
exit $status
