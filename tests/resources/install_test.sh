#!/usr/bin/env bash
# Installs the build tree given as $1 into a temporary prefix whose path has
# a blank in it, then checks what a desktop needs of the install: the editor
# in a folder of its own with a relative link in bin/, tavro-cli in bin/, a
# valid menu entry that starts the installed editor with the document, the
# ".tvro" document type and the icons.
set -euo pipefail

build=$1
top=$(mktemp -d)
trap 'rm -rf "$top"' EXIT
prefix="$top/pre fix"

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

if ! cmake --install "$build" --prefix "$prefix" >"$top/install.log" 2>&1; then
  cat "$top/install.log"
  echo "FAIL: cmake --install"
  exit 1
fi

for file in bin/tavro-cli lib/tavro/tavro-editor; do
  [ -f "$prefix/$file" ] && [ -x "$prefix/$file" ] || fail "no executable $file"
done
for file in share/applications/tavro-editor.desktop \
            share/mime/packages/tavro-document.xml \
            share/icons/hicolor/scalable/apps/tavro-editor.svg \
            share/icons/hicolor/scalable/mimetypes/application-x-tavro-document.svg; do
  [ -f "$prefix/$file" ] || fail "no file $file"
done

# The link stays valid wherever the prefix is copied to, and leads to the
# editor's own folder, where "config" is looked for.
link="$prefix/bin/tavro-editor"
[ -L "$link" ] || fail "bin/tavro-editor is not a symbolic link"
[ "$(readlink "$link")" = ../lib/tavro/tavro-editor ] || fail "bin/tavro-editor -> $(readlink "$link")"
[ "$(readlink -f "$link")" = "$(readlink -f "$prefix/lib/tavro/tavro-editor")" ] ||
  fail "bin/tavro-editor does not lead to lib/tavro/tavro-editor"

"$prefix/bin/tavro-cli" --help >/dev/null || fail "installed tavro-cli does not run"

# The menu entry.
entry="$prefix/share/applications/tavro-editor.desktop"
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$entry" || fail "desktop-file-validate rejects the entry"
else
  echo "desktop-file-validate not installed: entry not validated"
fi
grep -qxF "Exec=\"$prefix/bin/tavro-editor\" %f" "$entry" || fail "Exec: $(grep '^Exec=' "$entry")"
grep -qxF 'Name=Tavro文本加密' "$entry" || fail "Name: $(grep '^Name=' "$entry")"
grep -qxF 'Icon=tavro-editor' "$entry" || fail "Icon: $(grep '^Icon=' "$entry")"
grep -qxF 'MimeType=application/x-tavro-document;' "$entry" || fail "no MimeType"

# The document type, and the databases rebuilt by the install where their
# tools exist: "*.tvro" is known, and the editor opens it.
types="$prefix/share/mime/packages/tavro-document.xml"
if command -v xmllint >/dev/null; then
  xmllint --noout "$types" || fail "tavro-document.xml is not well-formed"
fi
grep -q '<mime-type type="application/x-tavro-document">' "$types" || fail "no type in tavro-document.xml"
grep -q '<glob pattern="\*.tvro"/>' "$types" || fail "no *.tvro glob"
if command -v update-mime-database >/dev/null; then
  grep -q '^application/x-tavro-document:\*\.tvro$' <(cut -d: -f2- "$prefix/share/mime/globs2") ||
    fail "the MIME database does not know *.tvro"
fi
if command -v update-desktop-database >/dev/null; then
  grep -qxF 'application/x-tavro-document=tavro-editor.desktop;' \
    "$prefix/share/applications/mimeinfo.cache" || fail "the editor is not listed for the type"
fi

if ((failures)); then
  echo "--- install output"
  cat "$top/install.log"
  exit 1
fi
echo "install checks passed"
