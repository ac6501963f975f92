#!/usr/bin/env bash
# Runs the window-manager GUI tests of the build in $TAVRO_BUILD_DIR (default build/) on a virtual
# X display with openbox (scripts/with-wm.sh). Settings stay in a temporary folder.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${TAVRO_BUILD_DIR:-build}
config=$(mktemp -d)
trap 'rm -rf "$config"' EXIT
XDG_CONFIG_HOME=$config scripts/with-wm.sh "$build/tests/editor/window_manager_test" "$@"
