#!/usr/bin/env bash
# Installs the build tree given as $1 into a temporary prefix whose path has
# a blank in it, then checks what a desktop needs of the install: the editor
# in a folder of its own with a relative link in bin/, tavro-cli in bin/, a
# valid menu entry that starts the installed editor with the document, the
# ".tvro" and ".tvrs" document types, the icons and the manual pages.
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
            share/icons/hicolor/scalable/mimetypes/application-x-tavro-document.svg \
            share/icons/hicolor/scalable/mimetypes/application-x-tavro-strong-document.svg \
            share/man/man1/tavro-cli.1.gz share/man/man1/tavro-editor.1.gz share/doc/tavro/copyright; do
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
# A path with a blank is quoted, as a desktop entry's Exec key wants.
grep -qxF "Exec=\"$prefix/bin/tavro-editor\" %f" "$entry" || fail "Exec: $(grep '^Exec=' "$entry")"
grep -qxF 'Name=Tavro文本加密' "$entry" || fail "Name: $(grep '^Name=' "$entry")"
grep -qxF 'Icon=tavro-editor' "$entry" || fail "Icon: $(grep '^Icon=' "$entry")"
grep -qxF 'MimeType=application/x-tavro-document;application/x-tavro-strong-document;' "$entry" ||
  fail "MimeType: $(grep '^MimeType=' "$entry")"

# The document type, and the databases rebuilt by the install where their
# tools exist: "*.tvro" is known, and the editor opens it.
types="$prefix/share/mime/packages/tavro-document.xml"
if command -v xmllint >/dev/null; then
  xmllint --noout "$types" || fail "tavro-document.xml is not well-formed"
fi
grep -q '<mime-type type="application/x-tavro-document">' "$types" || fail "no type in tavro-document.xml"
grep -q '<glob pattern="\*.tvro"/>' "$types" || fail "no *.tvro glob"
grep -q '<glob pattern="\*.tvrs"/>' "$types" || fail "no *.tvrs glob"
if command -v update-mime-database >/dev/null; then
  globs=$(cut -d: -f2- "$prefix/share/mime/globs2")
  grep -qxF 'application/x-tavro-document:*.tvro' <<<"$globs" || fail "the MIME database does not know *.tvro"
  grep -qxF 'application/x-tavro-strong-document:*.tvrs' <<<"$globs" || fail "the MIME database does not know *.tvrs"
  # The strong format's magic names a file of any name.
  if command -v mimetype >/dev/null; then
    printf '\x89TVRS\r\n\x1a\x01rest of a header' >"$top/strong document.bin"
    type=$(XDG_DATA_DIRS="$prefix/share" XDG_DATA_HOME="$top/none" mimetype --brief --magic-only "$top/strong document.bin")
    [ "$type" = application/x-tavro-strong-document ] || fail "the strong format's magic gives $type"
  fi
fi
if command -v update-desktop-database >/dev/null; then
  for type in application/x-tavro-document application/x-tavro-strong-document; do
    grep -qxF "$type=tavro-editor.desktop;" "$prefix/share/applications/mimeinfo.cache" ||
      fail "the editor is not listed for $type"
  done
fi

if ((failures)); then
  echo "--- install output"
  cat "$top/install.log"
  exit 1
fi
echo "install checks passed"
