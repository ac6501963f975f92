#!/usr/bin/env bash
# Builds the Release configuration with default options (as a packager
# would), makes the Debian package from it with CPack, unpacks the package
# into a temporary root and checks its files, its dependencies, lintian's
# verdict and that the tools in it run. Then, as root, the installed editor
# as a desktop meets it: the package's /usr is laid over the system's in a
# private mount namespace (an overlay whose writes land in a folder of this
# check, so nothing reaches the system), and on a virtual display with a
# window manager (scripts/with-wm.sh) the editor run as root and closed
# writes nothing under /usr but its settings in $XDG_CONFIG_HOME, and
# xdg-open of a document whose path has blanks starts the editor with that
# path as one argument.
# Usage: scripts/check-release-package.sh [BUILD_DIR]
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

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
root=$work/root
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
            usr/share/icons/hicolor/scalable/mimetypes/application-x-tavro-document.svg \
            usr/share/icons/hicolor/scalable/mimetypes/application-x-tavro-strong-document.svg \
            usr/share/doc/tavro/copyright usr/share/doc/tavro/changelog.Debian.gz \
            usr/share/man/man1/tavro-cli.1.gz usr/share/man/man1/tavro-editor.1.gz; do
  [ -f "$root/$file" ] || fail "no file $file"
done
# Only our own files: the desktop's databases are rebuilt by the package
# system's triggers, not shipped.
unexpected=$(cd "$root" && find . -type f |
  grep -v -E '^\./usr/(bin|lib/tavro|share/(applications|mime/packages|icons/hicolor/scalable/(apps|mimetypes)|man/man1|doc/tavro))/' || true)
[ -z "$unexpected" ] || fail "files outside the install layout: $unexpected"

# The menu entry: valid, and its Exec line unquoted, which xdg-open takes
# in a session without a desktop environment.
entry=$root/usr/share/applications/tavro-editor.desktop
desktop-file-validate "$entry" || fail "desktop-file-validate rejects the menu entry"
grep -qxF 'Exec=/usr/bin/tavro-editor %f' "$entry" || fail "Exec: $(grep '^Exec=' "$entry")"
grep -qxF 'MimeType=application/x-tavro-document;application/x-tavro-strong-document;' "$entry" ||
  fail "MimeType: $(grep '^MimeType=' "$entry")"

# The manual pages read without a warning.
for page in "$root"/usr/share/man/man1/*.1.gz; do
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$page" 2>&1 >/dev/null || true)
  [ -z "$warnings" ] || fail "$(basename "$page"): $warnings"
done

depends=$(dpkg-deb -f "$deb" Depends)
for lib in libc6 libstdc++6 libqt6widgets6 libqt6svg6 libicu libsodium; do
  grep -q "$lib" <<<"$depends" || fail "Depends lacks $lib: $depends"
done
grep -q qt6-translations-l10n <<<"$(dpkg-deb -f "$deb" Recommends)" || fail "Recommends lacks qt6-translations-l10n"

# lintian: no errors; its warnings are shown.
if command -v lintian >/dev/null; then
  lintian --tag-display-limit 0 "$deb" >"$work/lintian.txt" 2>&1 || true
  sed 's/^/lintian: /' "$work/lintian.txt"
  ! grep -q '^E: ' "$work/lintian.txt" || fail "lintian reports errors"
else
  fail "lintian is not installed (scripts/deps.sh installs it)"
fi

"$root/usr/bin/tavro-cli" --help >/dev/null || fail "tavro-cli --help from the package does not run"
# Every library the editor needs is found on this system.
if ldd "$root/usr/lib/tavro/tavro-editor" | grep -q 'not found'; then
  fail "the packaged editor lacks libraries: $(ldd "$root/usr/lib/tavro/tavro-editor" | grep 'not found')"
fi

# --- The installed editor on a desktop ------------------------------------------
# Inside the namespace: the package's /usr over the system's, writes to the
# upper folder; the desktop's databases of the package's types and entry in
# a share folder of their own; a session without a desktop environment.
desktop() {
  set -euo pipefail
  mount --make-rprivate /
  mkdir -p "$work/upper" "$work/overlay" "$work/share/mime" "$work/config" "$work/data" "$work/home" "$work/run"
  chmod 700 "$work/run"
  mount -t overlay overlay -o "lowerdir=$root/usr:/usr,upperdir=$work/upper,workdir=$work/overlay" /usr
  unset XDG_CURRENT_DESKTOP XDG_SESSION_DESKTOP DESKTOP_SESSION KDE_FULL_SESSION GNOME_DESKTOP_SESSION_ID
  export XDG_DATA_DIRS=$work/share:/usr/share XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data \
         HOME=$work/home XDG_RUNTIME_DIR=$work/run
  cp -r "$root/usr/share/applications" "$work/share/"
  cp -r "$root/usr/share/mime/packages" "$work/share/mime/"
  update-mime-database "$work/share/mime"
  update-desktop-database "$work/share/applications"
  scripts/with-wm.sh bash -c '
    set -u
    work=$1
    status=0
    # Run as root, closed as a user closes it (Alt+F4 through the window manager).
    /usr/bin/tavro-editor &
    editor=$!
    window=$(timeout 30 xdotool search --sync --onlyvisible --pid "$editor" | head -1)
    [ -n "$window" ] && xdotool windowactivate --sync "$window" key --clearmodifiers alt+F4
    for _ in $(seq 100); do kill -0 "$editor" 2>/dev/null || break; sleep 0.1; done
    if kill -0 "$editor" 2>/dev/null; then
      echo "FAIL: the editor run as root did not close"; kill "$editor"; status=1
    fi
    [ -f "$XDG_CONFIG_HOME/tavro/config" ] || { echo "FAIL: the editor run as root kept no settings in XDG_CONFIG_HOME"; status=1; }
    written=$(cd "$work/upper" && find . -mindepth 1)
    [ -z "$written" ] || { echo "FAIL: the editor run as root wrote under /usr: $written"; status=1; }

    # xdg-open of a document whose path has blanks.
    mkdir -p "$work/my notes"
    document="$work/my notes/the plan.tvro"
    : >"$document"
    xdg-open "$document" >"$work/xdg-open.log" 2>&1 &
    opener=$!
    started=
    for _ in $(seq 150); do
      for child in $(pgrep -P "$opener" || true); do
        mapfile -d "" arguments <"/proc/$child/cmdline" || continue
        if [ "${#arguments[@]}" -eq 2 ] && [ "${arguments[0]}" = /usr/bin/tavro-editor ] &&
           [ "${arguments[1]}" = "$document" ]; then
          started=$child
        fi
      done
      [ -n "$started" ] && break
      kill -0 "$opener" 2>/dev/null || break
      sleep 0.1
    done
    if [ -n "$started" ]; then
      kill "$started"
      wait "$opener" 2>/dev/null || true
    else
      echo "FAIL: xdg-open did not start /usr/bin/tavro-editor with \"$document\": $(cat "$work/xdg-open.log")"
      status=1
      kill "$opener" 2>/dev/null || true
    fi
    exit "$status"
  ' desktop "$work"
}
if [ "$(id -u)" -ne 0 ]; then
  echo "desktop checks skipped: they need root (a private mount namespace)"
elif ! unshare --mount true 2>/dev/null; then
  echo "desktop checks skipped: no private mount namespace here"
else
  scripts/with-wm.sh true # installs what it needs, outside the namespace
  export -f desktop
  export root work
  unshare --mount bash -c desktop || fail "desktop checks"
fi

((failures == 0)) || exit 1
echo "package checks passed: $(basename "$deb")"
