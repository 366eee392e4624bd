#!/usr/bin/env bash
# Smoke test of the real workbench window: starts qil-workbench on a sample page under a
# virtual X server, takes a screenshot of its window and checks that both panes are painted:
# the left pane shows the page (white paper with dark print), the right pane the empty viewer's
# gray. Skipped (exit 77) when xvfb-run, xauth or ImageMagick is missing.
#   smoke.sh WORKBENCH SAMPLE SCREENSHOT
set -euo pipefail

# The share of a region's pixels whose gray level is in [lo, hi] (0..255), in percent.
share() {
  local shot="$1" region="$2" lo="$3" hi="$4"
  convert "$shot" -crop "$region" +repage -colorspace gray -depth 8 -format %c histogram:info:- |
    awk -F'gray[(]' -v lo="$lo" -v hi="$hi" 'NF > 1 { n = $1 + 0; split($2, v, /[),]/); g = v[1] + 0; total += n
        if (g >= lo && g <= hi) hit += n }
      END { if (total == 0) print 0; else printf "%d\n", 100 * hit / total }'
}

# Prints what the screenshot shows; succeeds when both panes are painted.
check() {
  local shot="$1" w h
  read -r w h < <(identify -format '%w %h\n' "$shot")
  # The middle band of each pane, away from the menus, the tool bar, the status bar and the splitter.
  local bandTop=$((h * 30 / 100)) bandH=$((h * 40 / 100))
  local left="$((w * 30 / 100))x${bandH}+$((w * 10 / 100))+${bandTop}"
  local right="$((w * 30 / 100))x${bandH}+$((w * 60 / 100))+${bandTop}"
  local paper ink gray
  paper="$(share "$shot" "$left" 200 255)"
  ink="$(share "$shot" "$left" 0 110)"
  gray="$(share "$shot" "$right" 120 136)"
  echo "window ${w}x${h}: left pane ${paper}% paper, ${ink}% ink; right pane ${gray}% viewer gray"
  [ "$paper" -ge 30 ] && [ "$ink" -ge 1 ] && [ "$gray" -ge 90 ]
}

# Inside the X server: starts the window and grabs it until both panes are painted.
inner() {
  local workbench="$1" sample="$2" shot="$3"
  QT_QPA_PLATFORM=xcb "$workbench" "$sample" &
  pid=$!
  trap 'kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true' EXIT
  local title="Quorvane Technologies SpA - Image Processing Demo"
  local verdict="the window never appeared"
  for _ in $(seq 1 80); do
    sleep 0.25
    kill -0 "$pid" 2>/dev/null || { echo "FAIL: qil-workbench exited early"; return 1; }
    import -window "$title" "$shot" 2>/dev/null || continue
    if verdict="$(check "$shot")"; then
      echo "PASS: $verdict (screenshot $shot)"
      return 0
    fi
  done
  echo "FAIL: $verdict (screenshot $shot)"
  return 1
}

if [ "${1:-}" = --inner ]; then
  shift
  inner "$@"
  exit
fi

for tool in xvfb-run xauth import convert identify; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "SKIP: $tool is not installed (scripts/install-deps installs xvfb, xauth and imagemagick)"
    exit 77
  fi
done
# The script runs again inside the X server.
xvfb-run -a -s "-screen 0 1280x900x24" "$0" --inner "$@"
