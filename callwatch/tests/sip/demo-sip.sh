#!/bin/sh
# make demo-sip: a call on a SIP line, all on loopback. loomwork runs the tones example,
# Callwatch watches one SIP line headless (CALLWATCH_TELEPHONY=sip, CALLWATCH_SIP_LISTEN), and
# SIPp places a call: it speaks for a second, presses 1 2 # as RFC 4733 telephone events (shown
# by loomwork's Monitors) and * (Callwatch hangs up). Nothing of the user's is read or written.
#   demo-sip.sh [BUILD_DIR]     (default: build)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../../.." && pwd)
build=$(cd "${1:-$source_dir/build}" && pwd)
pcaps=/usr/share/sip-tester

command -v sipp >/dev/null 2>&1 || { echo "demo-sip: sipp is missing (make deps installs sip-tester)" >&2; exit 1; }
[ -f "$build/lib/libcallwatch_sip.so" ] || { echo "demo-sip: $build/lib/libcallwatch_sip.so is not built" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/callwatch-demo-sip-XXXXXX")
loomwork_pid= callwatch_pid=
cleanup() {
  [ -n "$callwatch_pid" ] && kill "$callwatch_pid" 2>/dev/null && wait "$callwatch_pid" 2>/dev/null
  [ -n "$loomwork_pid" ] && kill -INT "$loomwork_pid" 2>/dev/null && wait "$loomwork_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT INT TERM

# A free port of loopback, from LOW up (the tone receiver takes 3000 to 8000).
free_port() {
  python3 -c '
import socket, sys
low = int(sys.argv[1])
for port in range(low, low + 2000):
    try:
        u = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); u.bind(("127.0.0.1", port))
        t = socket.socket(socket.AF_INET, socket.SOCK_STREAM); t.bind(("127.0.0.1", port))
        print(port); break
    except OSError:
        pass' "$1"
}
sip_port=$(free_port 25060)
digit_port=$(free_port 3502)
rtp_port=$(free_port 27000)

# Callwatch's settings and files in the demo's folder: answer at the first ring.
mkdir -p "$work/config/Larkspur Soft"
printf '[Settings]\nRings=1\n' >"$work/config/Larkspur Soft/Callwatch.conf"
printf '127.0.0.1\n' >"$work/connect.txt"
# The greeting: the first half second of the phone example's. What the caller says: all of it,
# as A-law for SIPp to stream.
python3 -W ignore - "$source_dir/examples/phone/greeting.wav" "$work/speech.wav" "$work/greeting.wav" <<'EOF'
import audioop, sys, wave
with wave.open(sys.argv[1]) as w:
    params, pcm = w.getparams(), w.readframes(w.getnframes())
with wave.open(sys.argv[3], "wb") as g:
    g.setparams(params)
    g.writeframes(pcm[:8000])
alaw = audioop.lin2alaw(pcm, 2)
with open(sys.argv[2], "wb") as out:
    out.write(b"RIFF" + (36 + len(alaw)).to_bytes(4, "little") + b"WAVEfmt " + (16).to_bytes(4, "little")
              + (6).to_bytes(2, "little") + (1).to_bytes(2, "little") + (8000).to_bytes(4, "little")
              + (8000).to_bytes(4, "little") + (1).to_bytes(2, "little") + (8).to_bytes(2, "little")
              + b"data" + len(alaw).to_bytes(4, "little") + alaw)
EOF
sed "s|\[audio\],1,\[codec\]|$work/speech.wav,1,8|" "$here/caller.xml" >"$work/caller.xml"

echo "== loomwork: the tones example, its tone receiver on port $digit_port"
"$build/bin/loomwork" run "$source_dir/examples/tones/tones.lwd" --modules "$build/modules" \
  --set "dtmf.port=$digit_port" >"$work/loomwork.out" 2>&1 &
loomwork_pid=$!

echo "== callwatch --headless on a SIP line listening on 127.0.0.1:$sip_port"
(cd "$work" && XDG_CONFIG_HOME="$work/config" CALLWATCH_TELEPHONY=sip CALLWATCH_SIP_LISTEN="127.0.0.1:$sip_port" \
  CALLWATCH_SIP_RING_MS=1000 CALLWATCH_LOOMWORK_PORT="$digit_port" CALLWATCH_GREETING="$work/greeting.wav" \
  PHONESIM_SOCKET="$work/phonesim.sock" \
  exec "$build/bin/callwatch" --headless --messages "$work/Messages") >"$work/callwatch.out" 2>"$work/callwatch.err" &
callwatch_pid=$!
for i in $(seq 50); do grep -q watching "$work/callwatch.err" 2>/dev/null && break; sleep 0.1; done
cat "$work/callwatch.err"

echo "== sipp calls: \"VUD VEROD\" <sip:4255550123@127.0.0.1>, speaks, presses 1 2 # *"
(cd "$work" && sipp -sf "$work/caller.xml" "127.0.0.1:$sip_port" -i 127.0.0.1 -m 1 -nostdin -timeout 30s \
  -timeout_error -key display "VUD VEROD" -key user 4255550123 -key codec 8 -key codecname PCMA \
  -key rtpport "$rtp_port" -key d1 "$pcaps/dtmf_2833_1.pcap" -key d2 "$pcaps/dtmf_2833_2.pcap" \
  -key d3 "$pcaps/dtmf_2833_pound.pcap" -key d4 "$pcaps/dtmf_2833_star.pcap" >"$work/sipp.out" 2>&1) &&
  status=0 || status=$?
sleep 1
echo "== the call as callwatch logged it"
cat "$work/callwatch.out"
echo "== what loomwork's Monitors showed"
grep '^M ' "$work/loomwork.out" || true
echo "== the message recorded"
ls -l "$work/Messages"
if [ "$status" -ne 0 ]; then
  echo "demo-sip: sipp failed ($status):" >&2
  tail -20 "$work/sipp.out" >&2
  exit 1
fi
echo "== sipp: the call succeeded (Callwatch hung up with a BYE after *)"
