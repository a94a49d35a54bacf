#!/usr/bin/env bash
# Cross-builds the core, tervalo-cli and the test suite for 64-bit Windows
# with MinGW-w64, runs the suite under Wine, compares the Windows tervalo-cli
# with the Linux one on the shared corpus (when both are there), and packs
# build-windows/tervalo-cli-windows-x64.zip.
# Usage: scripts/windows.sh [LINUX_BUILD_DIR]   (default: build; its
#        cli/tervalo-cli is the Linux program to compare with)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=$root/build-windows
linux_cli=$root/${1:-build}/cli/tervalo-cli

# googletest: its sources in /usr/src/googletest, built here for Windows;
# libcli11-dev: headers only, copied into the build (see cli/CMakeLists.txt);
# libz-mingw-w64-dev: zlib for the PNG pictures.
packages=(cmake ninja-build g++-mingw-w64-x86-64-posix googletest libcli11-dev libz-mingw-w64-dev zip)
# Debian's wine64 alone puts its loader in /usr/lib/wine, not on the PATH.
find_wine() { command -v wine || command -v wine64 || { [ -x /usr/lib/wine/wine64 ] && echo /usr/lib/wine/wine64; } || true; }
wine_bin=$(find_wine)
[ -n "$wine_bin" ] || packages+=(wine64)
scripts/install-packages.sh "${packages[@]}"
[ -n "$wine_bin" ] || wine_bin=$(find_wine)
[ -n "$wine_bin" ] || { echo "windows: no Wine found after installing wine64" >&2; exit 1; }

cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DTERVALO_BUILD_APP=OFF -DTERVALO_GTEST_SOURCE_DIR=/usr/src/googletest
cmake --build "$build" -j "$(nproc)"

export WINEPREFIX=${WINEPREFIX:-$build/wineprefix}
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$WINEPREFIX"
"$wine_bin" wineboot --init >/dev/null 2>&1 || true
win_cli=$build/cli/tervalo-cli.exe
status=0

# --- The test suite, as one program (each start under Wine is slow) ----------
echo "== test suite under Wine"
set +e
"$wine_bin" "$build/tests/tervalo_tests.exe" --gtest_brief=1 2>&1 | tr -d '\r' | tee "$build/tests.log"
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
      (cd "$dir" && "$wine_bin" "$win_cli" info $form "$name" >"$cmp_dir/windows.out" 2>&1 || true)
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
          "$wine_bin" "$win_cli" convert $direction -o "$out" "$folder" >/dev/null 2>&1 || true
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
  if ((info_diff || conv_diff)); then status=1; fi
else
  echo "== no comparison with Linux: $linux_cli or $corpus is missing"
fi

# --- A self-contained package ---------------------------------------------
pkg=$build/package
rm -rf "$pkg" "$build/tervalo-cli-windows-x64.zip"
mkdir -p "$pkg"
x86_64-w64-mingw32-strip -o "$pkg/tervalo-cli.exe" "$win_cli"
cat >"$pkg/README.txt" <<'EOF'
tervalo-cli for 64-bit Windows

Converts the points of Jw_cad drawings (.jww) and figures (.jws) between
temporary and real points, and reports what Jw_cad files hold. One program,
nothing to install: put tervalo-cli.exe anywhere and run it from a command
prompt or PowerShell.

  tervalo-cli --help
  tervalo-cli info --json C:\drawings\plan.jww
  tervalo-cli convert --to-real -o C:\converted C:\drawings

Paths may use \ or /; Japanese names work in any console code page.
Built with MinGW-w64 and tested under Wine.
EOF
sed -i 's/$/\r/' "$pkg/README.txt"
(cd "$pkg" && zip -q -X "$build/tervalo-cli-windows-x64.zip" tervalo-cli.exe README.txt)
echo "== package: $build/tervalo-cli-windows-x64.zip"

"$(dirname "$wine_bin")/wineserver" -k 2>/dev/null || true
echo "windows: $passed passed, $failed failed, $skipped skipped"
exit $status
