#!/bin/sh
# Runs a test executable so that file permissions apply to it: as it is for
# an ordinary user, as "nobody" for root (who would read and write anything).
# Exits 77 (skipped) when root cannot hand the test to another user.
[ "$(id -u)" -eq 0 ] || exec "$@"
command -v setpriv >/dev/null 2>&1 || { echo "setpriv missing: skipped"; exit 77; }
run() { setpriv --reuid=65534 --regid=65534 --clear-groups "$@"; }
run test -x "$1" || { echo "nobody cannot run $1: skipped"; exit 77; }
HOME=/tmp XDG_RUNTIME_DIR= run "$@"
