#!/usr/bin/env bash
# Runs the window-manager GUI tests of the build in $TAVRO_BUILD_DIR (default build/) on a virtual
# X display with openbox (scripts/with-wm.sh). Settings and the version store
# stay in a temporary folder. A run that hangs (a key that reached no window,
# a modal loop waiting for ever) is ended after ten minutes and fails.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${TAVRO_BUILD_DIR:-build}
config=$(mktemp -d)
trap 'rm -rf "$config"' EXIT
XDG_CONFIG_HOME=$config/config XDG_DATA_HOME=$config/data scripts/with-wm.sh \
    timeout --kill-after=30 600 "$build/tests/editor/window_manager_test" "$@"
