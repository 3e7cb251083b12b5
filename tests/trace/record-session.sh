#!/usr/bin/env bash
# Records the monitor file that the trace golden test reads: two real runs of
# the built bridge with the host simulator, driven through its pseudo-terminal.
# Run 1 stays in mixed mode (text, binary and one-byte commands, a command
# without a reply, the text halt, a command cut short by a pause and the
# command after it, a key typed on the console); run 2 is a P50X-only session
# with a halt and a command cut short by a pause.
# Usage: tests/trace/record-session.sh [BUILD] [OUT]   (defaults: build,
# tests/trace/session-monitor.txt)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-build}" && pwd)
out=${2:-$here/session-monitor.txt}

dir=$(mktemp -d /tmp/p50x-record-XXXXXX)
sim=""
bridge=""
cleanup() {
  exec 4>&- 5>&- 6>&- 2>/dev/null || true
  [ -n "$bridge" ] && kill "$bridge" 2>/dev/null || true
  [ -n "$sim" ] && kill "$sim" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$dir"
}
trap cleanup EXIT
cd "$dir"

cp "$here/session-locos.txt" Loks.txt
printf 'W1;5;0;1;6\nW2;6;0;0;0\n' > Weichen.txt
printf 'K1;1;1\nK2;1;16\nK3;3;9\n' > Melder.txt

mkfifo host-events keys
"$build/p50x-hostsim" --event-port 0 --command-port 0 < host-events > hostsim.log 2>&1 &
sim=$!
exec 5> host-events
until grep -q 'listening' hostsim.log; do sleep 0.05; done
events=$(sed -n 's/.*event port \([0-9]*\), command port.*/\1/p' hostsim.log)
commands=$(sed -n 's/.*command port \([0-9]*\) .*/\1/p' hostsim.log)
printf '1;Loks.txt\n2;Melder.txt\n3;Weichen.txt\n4;pty:%s/tty\n5;127.0.0.1\n6;monitor.txt\n7;%s\n8;%s\n' \
  "$dir" "$events" "$commands" > Config.txt

start_bridge() {
  "$build/p50x-bridge" Config.txt < keys > bridge.log 2>&1 &
  bridge=$!
  exec 6> keys
  until grep -q 'ESC=BREAK' bridge.log; do sleep 0.05; done
  exec 4<> tty
  stty raw -echo <&4
}
stop_bridge() {
  sleep 0.3
  printf '\033' >&6
  wait "$bridge" || true
  bridge=""
  exec 4>&- 6>&-
}
send() { printf "$1" >&4; sleep 0.05; }

# Run 1: mixed mode.
start_bridge
send '\xc4'                      # one-byte command: prompt
send '\x00'                      # one-byte command: 00
send 'xb\r'                      # baud query
send '`xv\r'                     # identification
send 'xse\r'                     # module count
send 'abc\r'                     # unknown text: no reply
send 'X\xa0'                     # XVer
send 'X\xa2'                     # XStatus
send 'X\x80\x03\x00\x40\xb1'     # XLok 3 speed 64 forward light F1
send 'X\x80\x09\x00\x10\x20'     # XLok of an unknown locomotive
send 'x\x81\x03\x00\x0e\x30'     # XLokX
send 'X\x85\x03\x00'             # XLokCfg
send 'X\x88\x03\x00\x05'         # XFunc F1 F3
send 'X\x84\x03\x00'             # XLokSts
send 'X\x90\x06\xc0'             # XTrnt 6 green coil on
send 'X\x94\x06\x00'             # XTrntSts
send 'X\x9c\x00'                 # X88PGet 0 (the reply is logged twice)
send 'X\x9d\x00\x06'             # X88PSet 0 = 6
printf '150;1;K1\n' >&5; sleep 0.3
send 'X\xc8'                     # XEvent
send 'X\xcb'                     # XEvtSen
send 'X\xc9'                     # XEvtLok: nothing changed elsewhere
send 'X\xc0\x00\x0d\x58\xa2'     # XClkSet: parameters that look like commands
send 'XHALT\r'                   # the text halt
send 'X\xc9'                     # XEvtLok: the locomotive the halt stopped
send 'X\xa6'                     # XPwrOff
send 'X\xa7'                     # XPwrOn
send 'X\xff'                     # unknown opcode
send 'X\x80\x03'; sleep 0.3      # XLok cut short: dropped after 200 ms...
send 'X\xa2'                     # ...so what follows is a command of its own
printf 'A' >&6; sleep 0.3        # a key typed on the bridge's console
send 'ZzA0\r'
stop_bridge

# Run 2: a P50X-only session.
start_bridge
send 'xZzA1\r'
send '\xc4'                      # XNop
send '\xa0'                      # XVer
send '\x80\x03\x00\x20\x30'      # XLok 3 speed 32 forward light
send '\x88\x03\x00\x03'          # XFunc F1 F2
send '\x89\x03\x00\x01'          # XFuncX F9
send '\x98\x01'                  # XSensor 1
send '\x99'                      # XSensOff
send '\x9c\x00'                  # X88PGet
send '\xc8'                      # XEvent
send '\xc9'                      # XEvtLok
send '\xa5'                      # XHalt
send '\xc8'                      # XEvent: a locomotive to report
send '\xc9'                      # XEvtLok: the locomotive XHalt stopped
send '\xa7'                      # XPwrOn
send '\xec\x00\x00'              # a programming-track command
send '\xfe'                      # unknown opcode
send '\x80\x03\x00'; sleep 0.3   # XLok cut short by a pause...
send '\xa2'                      # ...then XStatus
send 'xse\r'
send 'ZzA0\r'
send 'X\xa2'
stop_bridge

cp monitor.txt "$out"
echo "recorded $out"
