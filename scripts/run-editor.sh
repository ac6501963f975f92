#!/usr/bin/env bash
# Builds the editor (installing what is missing) and starts it.
# Arguments are passed on: a document path opens that document.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVRO_WERROR=ON >/dev/null
cmake --build build --target tavro-editor
exec build/editor/tavro-editor "$@"
