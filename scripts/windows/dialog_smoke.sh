#!/usr/bin/env bash
# Runs under an X server of its own (test.sh starts it with xvfb-run): starts brindle.exe
# under Wine, waits for its dialog, saves a screenshot when ImageMagick is there, presses
# Escape and checks that the program ends. Exits non-zero when the dialog never shows or the
# program does not end.
#   dialog_smoke.sh BRINDLE_EXE SCREENSHOT
set -uo pipefail
exe="$1"
screenshot="$2"
wine=/usr/lib/wine/wine64

"$wine" "$exe" &
pid=$!

window=""
for _ in $(seq 1 60); do
  window="$(xdotool search --name '^Brindle$' 2>/dev/null | head -n1)"
  [[ -n "$window" ]] && break
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.5
done
if [[ -z "$window" ]]; then
  echo "FAILED: the Brindle dialog did not appear within 30 s" >&2
  kill "$pid" 2>/dev/null
  /usr/lib/wine/wineserver64 -k 2>/dev/null || true
  exit 1
fi

if command -v import >/dev/null; then
  # The first paint follows the window's mapping by a moment.
  sleep 1
  mkdir -p "$(dirname "$screenshot")"
  import -window root "$screenshot" 2>/dev/null || true
fi

# No window manager runs here: give the dialog the keyboard focus, then press Escape (Cancel).
xdotool windowfocus "$window" 2>/dev/null || true
xdotool key Escape 2>/dev/null || true
for _ in $(seq 1 40); do
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.5
done
if kill -0 "$pid" 2>/dev/null; then
  echo "FAILED: brindle.exe did not end on Escape" >&2
  kill "$pid" 2>/dev/null
  /usr/lib/wine/wineserver64 -k 2>/dev/null || true
  exit 1
fi
wait "$pid"
status=$?
# Cancel ends the dialog with status 1.
if ((status != 1)); then
  echo "FAILED: brindle.exe ended with status $status after Escape, not 1" >&2
  /usr/lib/wine/wineserver64 -k 2>/dev/null || true
  exit 1
fi
# Wine's desktop process holds this X server; end it before the server goes away.
/usr/lib/wine/wineserver64 -k 2>/dev/null || true
echo "the dialog appeared and closed on Escape"
