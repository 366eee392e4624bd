#!/usr/bin/env bash
# Smoke test of the real workbench window under a virtual X server: starts qil-workbench on a
# sample page, waits until the left pane shows it, then runs Process > Despeckle... from the
# keyboard (Alt+P, K, Return on the dialog, Return on the message box) and checks on a
# screenshot of the window that both panes show a page (white paper with dark print).
# Without xdotool the keyboard part is left out and the right pane must show the empty
# viewer's gray. Skipped (exit 77) when xvfb-run, xauth, xwininfo or ImageMagick is missing.
#   smoke.sh WORKBENCH SAMPLE SCREENSHOT
set -euo pipefail
title="Quorvane Technologies SpA - Image Processing Demo"

# The share of a region's pixels whose gray level is in [lo, hi] (0..255), in percent.
share() {
  local shot="$1" region="$2" lo="$3" hi="$4"
  convert "$shot" -crop "$region" +repage -colorspace gray -depth 8 -format %c histogram:info:- |
    awk -F'gray[(]' -v lo="$lo" -v hi="$hi" 'NF > 1 { n = $1 + 0; split($2, v, /[),]/); g = v[1] + 0; total += n
        if (g >= lo && g <= hi) hit += n }
      END { if (total == 0) print 0; else printf "%d\n", 100 * hit / total }'
}

# Grabs the window into $shot and prints what each pane shows: "page", "gray" or "other".
panes() {
  local shot="$1" w h id
  # import waits for a mouse click when it cannot find the window, so it gets an id only.
  id="$(xwininfo -name "$title" 2>/dev/null | awk '/Window id:/ { print $4; exit }')"
  [ -n "$id" ] || { echo "none none "; return; }
  timeout 10 import -window "$id" "$shot" 2>/dev/null || { echo "none none "; return; }
  read -r w h < <(identify -format '%w %h\n' "$shot")
  # The middle band of each pane, away from the menus, the tool bar, the status bar and the splitter.
  local top=$((h * 30 / 100)) height=$((h * 40 / 100)) x
  for x in 10 60; do
    local region="$((w * 30 / 100))x${height}+$((w * x / 100))+${top}"
    if [ "$(share "$shot" "$region" 200 255)" -ge 30 ] && [ "$(share "$shot" "$region" 0 110)" -ge 1 ]; then
      printf 'page '
    elif [ "$(share "$shot" "$region" 120 136)" -ge 90 ]; then
      printf 'gray '
    else
      printf 'other '
    fi
  done
  echo
}

# Waits (up to 20 s) until Probe prints Want; answers what it printed last.
wait_for() {
  local want="$1" got=""
  shift
  for _ in $(seq 1 80); do
    kill -0 "$pid" 2>/dev/null || { echo "qil-workbench exited"; return 1; }
    got="$("$@" || true)"
    [ "$got" = "$want" ] && { echo "$got"; return 0; }
    sleep 0.25
  done
  echo "$got"
  return 1
}

# The id of the one window with exactly this title, for xdotool.
window_id() { xdotool search --name "^$1\$" 2>/dev/null | head -1; }
# Focuses a window and types keys into it.
keys() {
  local id="$1"
  shift
  timeout 5 xdotool windowfocus --sync "$id" 2>/dev/null || xdotool windowfocus "$id"
  xdotool key --clearmodifiers "$@"
}

inner() {
  local workbench="$1" sample="$2" shot="$3" seen
  QT_QPA_PLATFORM=xcb "$workbench" "$sample" &
  pid=$!
  trap 'kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true' EXIT
  if ! seen="$(wait_for "page gray " panes "$shot")"; then
    echo "FAIL: after opening, the panes show: $seen (screenshot $shot)"
    return 1
  fi
  if ! command -v xdotool >/dev/null 2>&1; then
    echo "PASS: both panes painted (left the page, right the empty viewer); xdotool is not installed," \
      "so no command was run (screenshot $shot)"
    return 0
  fi
  local main dialog box
  main="$(window_id "$title")"
  keys "$main" alt+p k
  dialog="$(wait_for "x" sh -c "[ -n \"\$(xdotool search --name '^Despeckle\$' 2>/dev/null)\" ] && echo x")" ||
    { echo "FAIL: the Despeckle dialog did not open"; return 1; }
  keys "$(window_id Despeckle)" Return
  box="$(wait_for "x" sh -c "[ -n \"\$(xdotool search --name '^Information\$' 2>/dev/null)\" ] && echo x")" ||
    { echo "FAIL: no information box after Despeckle"; return 1; }
  keys "$(window_id Information)" Return
  if ! seen="$(wait_for "page page " panes "$shot")"; then
    echo "FAIL: after Despeckle, the panes show: $seen (screenshot $shot)"
    return 1
  fi
  : "$dialog" "$box"
  echo "PASS: both panes show a page after Process > Despeckle... (screenshot $shot)"
}

if [ "${1:-}" = --inner ]; then
  shift
  inner "$@"
  exit
fi

for tool in xvfb-run xauth xwininfo import convert identify; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "SKIP: $tool is not installed (scripts/install-deps installs xvfb, xauth, x11-utils, imagemagick and xdotool)"
    exit 77
  fi
done
# The script runs again inside the X server.
xvfb-run -a -s "-screen 0 1280x900x24" "$0" --inner "$@"
