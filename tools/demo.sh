#!/usr/bin/env bash
# ./run demo: the reference platform, the virtual receipt printer and the POS,
# configured by the platform's init, opening the sign-in page. Without a
# display the POS runs under Xvfb and a screenshot of the sign-in page is
# written into the demo folder.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
DIST=${TB_DIST:-$ROOT/dist}
BUILD=${TB_BUILD:-$ROOT/build}
DEMO=${TB_DEMO_DIR:-$ROOT/demo}

platform=$DIST/tillbay-platform
printer=$DIST/tillbay-printer
[ -x "$platform" ] || platform=$BUILD/tools/platform/tillbay-platform
[ -x "$printer" ] || printer=$BUILD/tools/printer/tillbay-printer
for f in "$DIST/tillbay" "$platform" "$printer"; do
  [ -x "$f" ] || { echo "demo: $f is missing — run ./run build first" >&2; exit 1; }
done

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1]); s.close()'; }
API=$(free_port); RELAY=$(free_port); WEB=$(free_port); CONTROL=$(free_port); PRINTER=$(free_port); TESTPORT=$(free_port)

# The demo installation: a copy of dist/ with the settings the platform writes.
mkdir -p "$DEMO"
POS=$DEMO/pos
rm -rf "$POS" "$DEMO/home"
mkdir -p "$POS" "$DEMO/home" "$DEMO/jobs"
cp -r "$DIST"/. "$POS"/
rm -f "$POS/tillbay.ini"
"$platform" init "$POS" --data "$DEMO/platform-data" --api-port "$API" --relay-port "$RELAY" --web-port "$WEB" > "$DEMO/init.txt"
# The receipt printer (and with it the kitchen printer) is the demo's
# virtual printer; its paper state follows the first word of printer-state.
printf '\r\n[PRINTER]\r\nconnection=tcp|127.0.0.1|%s\r\n' "$PRINTER" >> "$POS/tillbay.ini"
echo ok > "$DEMO/printer-state"

# The web host serves the UI bundle the installation has: the built bundle as
# installed into dist/ (its pages and version.json next to the program), else
# the build tree's. The POS then finds its bundle current at the first start.
ui_option=()
if [ -f "$DIST/version.json" ]; then
  ui_option=(--ui "$DIST")
elif [ -f "$BUILD/ui-bundle/version.json" ]; then
  ui_option=(--ui "$BUILD/ui-bundle")
fi

pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill -TERM -- "-$pid" 2>/dev/null || kill -TERM "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
}
trap cleanup EXIT INT TERM

setsid "$platform" serve --data "$DEMO/platform-data" --api-port "$API" --relay-port "$RELAY" --web-port "$WEB" \
  --control-port "$CONTROL" "${ui_option[@]}" > "$DEMO/platform.log" 2>&1 &
pids+=($!)
setsid "$printer" --port "$PRINTER" --jobs "$DEMO/jobs" --report-file "$DEMO/printer-state" > "$DEMO/printer.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do grep -q '^ready' "$DEMO/platform.log" && break; sleep 0.1; done
grep -q '^ready' "$DEMO/platform.log" || { echo "demo: the platform did not start:"; cat "$DEMO/platform.log"; exit 1; }

echo "== TILLWAVE POS demo"
echo "   platform: api 127.0.0.1:$API  relay :$RELAY  web http://127.0.0.1:$WEB  control :$CONTROL"
echo "   printer:  127.0.0.1:$PRINTER — the POS's receipt and kitchen printer"
echo "     every receipt, ticket and test page lands in $DEMO/jobs as NNNN.txt (decoded text),"
echo "     NNNN.html (paper preview) and NNNN.bin (the bytes); printer.log says when each arrives"
echo "     out of paper: echo paper-out > $DEMO/printer-state   (ok, near-end, cover-open, offline)"
echo "     on the board: 프린터 (set-up panel, 시험 인쇄), an order's detail → 영수증 보기 / 영수증 출력"
echo "   accounts:"
sed -n 's/^\(staff\|owner\|store\|cancel PIN\)/     \1/p' "$DEMO/init.txt"
echo "   bridge log: $DEMO/home/TillBay/bridge.log"
echo "   a customer order arrives with:"
echo "     curl -s -X POST http://127.0.0.1:$CONTROL/control/orders -d '{\"store\":1,\"table\":3,\"kind\":\"table\",\"pay\":\"paid\",\"lines\":[{\"name\":\"김치찌개\",\"qty\":2,\"price\":9000}]}'"

export LOCALAPPDATA=$DEMO/home
if [ -n "${DISPLAY:-}" ]; then
  "$POS/tillbay"
  exit 0
fi

# No display: run under Xvfb, wait for the sign-in page and keep a screenshot.
export TILLBAY_TESTPORT=$TESTPORT WEBKIT_DISABLE_COMPOSITING_MODE=1 NO_AT_BRIDGE=1
setsid xvfb-run -a -s "-screen 0 1400x900x24" "$POS/tillbay" > "$DEMO/tillbay.log" 2>&1 &
pids+=($!)
for _ in $(seq 200); do
  doc=$(curl -s "http://127.0.0.1:$TESTPORT/doc" || true)
  case "$doc" in *'"ready":true,"class":1'*) break ;; esac
  sleep 0.2
done
sleep 1
if curl -sf -o "$DEMO/login.png" "http://127.0.0.1:$TESTPORT/snapshot"; then
  echo "   no display: the POS runs under Xvfb; sign-in page screenshot: $DEMO/login.png"
  echo "   automation endpoint: http://127.0.0.1:$TESTPORT (GET /doc, POST /eval, GET /snapshot)"
else
  echo "   no display: the POS did not show its sign-in page; see $DEMO/tillbay.log"
  exit 1
fi
if [ -n "${TB_DEMO_SECONDS:-}" ]; then
  sleep "$TB_DEMO_SECONDS"
else
  echo "   press Ctrl+C to stop"
  wait
fi
