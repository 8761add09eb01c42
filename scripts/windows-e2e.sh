#!/usr/bin/env bash
# The Windows TNC end to end under wine, driven from Linux over loopback:
# the Linux simulator feeds kestrelis-tnc.exe its downlink and is the modem's
# uplink sink, the Linux KISS client receives the decoded telemetry and sends
# a digipeater request, a real rigctld (dummy rig) is keyed before the frame
# and unkeyed after it, and Ctrl+C (SIGINT) while keyed unkeys before the TNC
# ends; kestrelis-forward.exe then posts the logged packets through WinHTTP
# to the Linux stand-in of the team's server. Expects the wineserver of scripts/windows-test.sh; stops, by process
# id, everything it starts.
set -euo pipefail
cd "$(dirname "$0")/.."
win=${1:-build-windows}
linux=${LINUX_BUILD:-build}
: "${WINEPREFIX:?run through scripts/windows-test.sh}"
for program in "$win/kestrelis-tnc.exe" "$win/kestrelis-forward.exe" "$linux/tools/kestrelis-sim" \
  "$linux/tools/kestrelis-kiss" "$linux/tools/kestrelis-team"; do
  [[ -x $program ]] || { echo "e2e: $program is missing" >&2; exit 1; }
done

# Inside the build folder, where nothing else tidies up.
work=$(mktemp -d "$PWD/$win/e2e-XXXXXX")
pids=()
finish() {
  local status=$?
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  if ((status == 0)) && [[ -z ${KEEP_LOGS:-} ]]; then rm -rf "$work"; else echo "e2e: logs kept in $work" >&2; fi
}
trap finish EXIT

fail() {
  echo "e2e: FAILED: $*" >&2
  for log in "$work"/*.log; do echo "--- $log" >&2; tail -n 25 "$log" >&2; done
  exit 1
}

# Waits up to $2 seconds for the extended regular expression $3 in file $1.
wait_for() {
  local deadline=$((SECONDS + $2))
  while ((SECONDS < deadline)); do
    grep -Eq "$3" "$1" 2>/dev/null && return 0
    sleep 0.2
  done
  return 1
}

# rigctld's PTT ("0" or "1"), asked on a connection of its own.
rig_ptt() {
  local line="?"
  if exec 4<>"/dev/tcp/127.0.0.1/$rig" 2>/dev/null; then
    printf 't\n' >&4
    read -r -t 2 line <&4 || true
    exec 4>&-
  fi
  echo "$line"
}

# Records every change of rigctld's PTT in ptt.log, asking every 50 ms.
watch_ptt() {
  local last="" line
  while true; do
    line=$(rig_ptt)
    if [[ $line != "$last" ]]; then
      echo "$line" >>"$work/ptt.log"
      last=$line
    fi
    sleep 0.05
  done
}

# A real rigctld on a port nobody uses; another port when it cannot bind.
for attempt in 1 2 3 4 5; do
  rig=$((20000 + RANDOM % 20000))
  rigctld -m 1 -P RIG -T 127.0.0.1 -t "$rig" >"$work/rigctld.log" 2>&1 &
  rig_pid=$!
  sleep 0.3
  if kill -0 "$rig_pid" 2>/dev/null && [[ $(rig_ptt) == 0 ]]; then break; fi
  kill "$rig_pid" 2>/dev/null || true
  rig_pid=""
done
[[ -n ${rig_pid:-} ]] || fail "rigctld did not start"
pids+=("$rig_pid")

base=$((rig + 1000 > 60000 ? rig - 5000 : rig + 1000))
rx=$base tx=$((base + 1)) kiss=$((base + 3))
config="$work/config.ini"
cat >"$config" <<INI
[modem]
GR_ReceivePort = $rx
GR_TransmitPort = $tx
GR_ReceiveAddress = 127.0.0.1
VerboseLevel = 2
Acquisition = robust
[KISS]
KISS_Port = $kiss
KISS_Address = 127.0.0.1
MaxClients = 2
[radio]
CallFrom = WINE1
[rigctld]
Address = 127.0.0.1
Port = $rig
KeyUpDelay = 1500
KeyDownDelay = 300
[forward]
URL = http://127.0.0.1:$((base + 4))/api/telemetry
NoradID = 99999
Locator = JO62qm
Latitude = 52.52
Longitude = 13.40
INI
start=$SECONDS

wine "$win/kestrelis-tnc.exe" --config "$(winepath -w "$config")" >"$work/tnc.log" 2>&1 </dev/null &
tnc_pid=$!
pids+=("$tnc_pid")
wait_for "$work/tnc.log" 20 "Rigctld OK" || fail "the TNC did not find rigctld"
wait_for "$work/tnc.log" 10 "Listening for GNURadio" || fail "the TNC did not bind its modem port"

watch_ptt &
pids+=($!)
# The watcher's first answer before anything can key the transmitter.
wait_for "$work/ptt.log" 5 "^0$" || fail "rigctld's PTT could not be read"
"$linux/tools/kestrelis-sim" --rx-port "$rx" --tx-port "$tx" --bitrate 9600 --interval 1 \
  --quiet --duration 60 >"$work/sim.log" 2>&1 &
pids+=($!)
"$linux/tools/kestrelis-kiss" --port "$kiss" --no-stdin --exit-after 10 \
  --send "WINE1>QQ0XYZ, Kestrelis, STORE=0 hello from wine" >"$work/client.log" 2>&1 &
client=$!
pids+=("$client")
# A second client beside the first: a display that only listens.
"$linux/tools/kestrelis-kiss" --port "$kiss" --no-stdin --exit-after 10 \
  >"$work/listener.log" 2>&1 &
listener=$!
pids+=("$listener")

wait_for "$work/sim.log" 15 "uplink: .*hello from wine" || fail "no uplink frame reached the modem sink"
wait_for "$work/client.log" 20 "Received: WINE1>QQ0XYZ: hello from wine" ||
  fail "the digipeater message did not come back to the KISS client"
wait "$client" || true
wait "$listener" || true
records=$(grep -c "^TELEMETRY sat=" "$work/client.log" || true)
records2=$(grep -c "^TELEMETRY sat=" "$work/listener.log" || true)
((records > 0)) || fail "the KISS client got no telemetry record"
((records2 > 0)) || fail "the second KISS client got no telemetry record"
# Keyed before the frame, unkeyed after: 0, then 1, then 0 again.
[[ $(tr '\n' ' ' <"$work/ptt.log") == "0 1 0 "* ]] ||
  fail "rigctld's PTT went $(tr '\n' ' ' <"$work/ptt.log") instead of 0 1 0"
echo "e2e: downlink (robust acquisition), uplink and keying through kestrelis-tnc.exe:" \
  "$records and $records2 telemetry records on two clients"

# Ctrl+C while keyed: the TNC unkeys before it ends.
"$linux/tools/kestrelis-kiss" --port "$kiss" --no-stdin --exit-after 10 \
  --send "WINE1>QQ0XYZ, Kestrelis, STORE=0 second" >"$work/client2.log" 2>&1 &
pids+=($!)
deadline=$((SECONDS + 10))
until [[ $(rig_ptt) == 1 ]]; do
  ((SECONDS < deadline)) || fail "the second request did not key the transmitter"
  sleep 0.05
done
kill -INT "$tnc_pid"
tnc_status=0
wait "$tnc_pid" || tnc_status=$?
[[ $(rig_ptt) == 0 ]] || fail "the transmitter was left keyed after Ctrl+C"
grep -q "second" "$work/sim.log" && fail "the frame went out after Ctrl+C"
echo "e2e: Ctrl+C while keyed unkeyed the transmitter; kestrelis-tnc.exe ended with status $tnc_status" \
  "after $((SECONDS - start)) s in all"

# The forwarder posts the packets the TNC logged, through WinHTTP.
"$linux/tools/kestrelis-team" --port $((base + 4)) >"$work/team.log" 2>&1 &
pids+=($!)
sleep 0.3
wine "$win/kestrelis-forward.exe" --config "$(winepath -w "$config")" --once --timeout-ms 5000 \
  >"$work/forward.log" 2>&1 </dev/null || fail "kestrelis-forward.exe --once failed"
wait_for "$work/team.log" 5 "got a packet" || fail "no packet reached the team server"
echo "e2e: kestrelis-forward.exe posted $(grep -c "got a packet" "$work/team.log") packets through WinHTTP"
