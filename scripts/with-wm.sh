#!/usr/bin/env bash
# scripts/with-wm.sh COMMAND [ARGS...]
# Runs COMMAND on a virtual X display (1600x1000, 24-bit) with the openbox
# window manager running, so that window activation, keyboard focus, frames
# and placement behave as on a desktop; the offscreen platform has none of
# them. DISPLAY is set for COMMAND and QT_QPA_PLATFORM=xcb. The exit status
# is COMMAND's. What it needs (Xvfb, xauth, openbox, xdotool, xprop, a CJK
# font) is installed with apt-get when missing (through sudo when not root).
set -euo pipefail
if (($# == 0)); then
  echo "usage: $0 COMMAND [ARGS...]" >&2
  exit 2
fi

missing=()
command -v xvfb-run >/dev/null || missing+=(xvfb xauth)
command -v openbox >/dev/null || missing+=(openbox)
command -v xdotool >/dev/null || missing+=(xdotool)
command -v xprop >/dev/null || missing+=(x11-utils)
fc-list 2>/dev/null | grep -qi -E 'noto sans cjk|wenquanyi|droid sans fallback' || missing+=(fonts-noto-cjk)
if ((${#missing[@]})); then
  sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null ||
    { "${sudo[@]}" apt-get update -qq && "${sudo[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null; }
fi

# Inside the display: start openbox, wait until it has taken over the root
# window (it announces itself there), run the command, stop openbox.
inner='
  openbox >/dev/null 2>&1 &
  manager=$!
  for _ in $(seq 100); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id" && break
    sleep 0.05
  done
  status=0
  QT_QPA_PLATFORM=xcb "$@" || status=$?
  kill "$manager" 2>/dev/null || true
  wait "$manager" 2>/dev/null || true
  exit "$status"
'
exec xvfb-run --auto-servernum --server-args="-screen 0 1600x1000x24" bash -c "$inner" with-wm "$@"
