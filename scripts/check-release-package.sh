#!/usr/bin/env bash
# Builds the Release configuration with default options (as a packager
# would), makes the Debian package from it with CPack, unpacks the package
# into a temporary root and checks its files, its dependencies and that the
# tools in it run. Usage: scripts/check-release-package.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-release}

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release "${launcher[@]}" >/dev/null
cmake --build "$build" -j "$(nproc)"
rm -f "$build"/tavro_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/tavro_*.deb)

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

for file in usr/bin/tavro-cli usr/lib/tavro/tavro-editor; do
  [ -f "$root/$file" ] && [ -x "$root/$file" ] || fail "no executable $file"
done
[ "$(readlink "$root/usr/bin/tavro-editor")" = ../lib/tavro/tavro-editor ] ||
  fail "usr/bin/tavro-editor is not a link to ../lib/tavro/tavro-editor"
for file in usr/share/applications/tavro-editor.desktop \
            usr/share/mime/packages/tavro-document.xml \
            usr/share/icons/hicolor/scalable/apps/tavro-editor.svg \
            usr/share/icons/hicolor/scalable/mimetypes/application-x-tavro-document.svg; do
  [ -f "$root/$file" ] || fail "no file $file"
done
# Only our own files: the desktop's databases are rebuilt by the package
# system's triggers, not shipped.
unexpected=$(cd "$root" && find . -type f | grep -v -E '^\./usr/(bin|lib/tavro|share/(applications|mime/packages|icons/hicolor/scalable/(apps|mimetypes)))/' || true)
[ -z "$unexpected" ] || fail "files outside the install layout: $unexpected"
grep -qxF 'Exec="/usr/bin/tavro-editor" %f' "$root/usr/share/applications/tavro-editor.desktop" ||
  fail "Exec: $(grep '^Exec=' "$root/usr/share/applications/tavro-editor.desktop")"

depends=$(dpkg-deb -f "$deb" Depends)
for lib in libc6 libstdc++6 libqt6widgets6 libqt6svg6 libicu; do
  grep -q "$lib" <<<"$depends" || fail "Depends lacks $lib: $depends"
done
grep -q qt6-translations-l10n <<<"$(dpkg-deb -f "$deb" Recommends)" || fail "Recommends lacks qt6-translations-l10n"

"$root/usr/bin/tavro-cli" --help >/dev/null || fail "tavro-cli --help from the package does not run"
# Every library the editor needs is found on this system.
if ldd "$root/usr/lib/tavro/tavro-editor" | grep -q 'not found'; then
  fail "the packaged editor lacks libraries: $(ldd "$root/usr/lib/tavro/tavro-editor" | grep 'not found')"
fi

((failures == 0)) || exit 1
echo "package checks passed: $(basename "$deb")"
