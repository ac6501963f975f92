#!/usr/bin/env bash
# Runs the window-manager GUI tests of the build in $TAVRO_BUILD_DIR (default build/) on a virtual
# X display with openbox, through ../shared/tools/with-wm.sh beside the
# repository. Settings stay in a temporary folder.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${TAVRO_BUILD_DIR:-build}
with_wm=../shared/tools/with-wm.sh
if [ ! -x "$with_wm" ]; then
  echo "error: $with_wm (virtual display with a window manager) is missing beside the repository" >&2
  exit 1
fi
config=$(mktemp -d)
trap 'rm -rf "$config"' EXIT
XDG_CONFIG_HOME=$config "$with_wm" "$build/tests/editor/window_manager_test" "$@"
