#!/usr/bin/env bash
# A whole station on this machine: a dummy rigctld (when installed), the TNC
# in a temporary profile, the simulator as modem and satellite, and the
# terminal client as GUI. A digipeater message goes up and comes back, and
# the forwarder posts each logged packet to a stand-in team server.
# Stops everything it started on Ctrl-C or after DEMO_SECONDS.
set -euo pipefail

build=${BUILD_DIR:-build}
seconds=${DEMO_SECONDS:-60}
modem_rx=${DEMO_PORT_BASE:-54010}
modem_tx=$((modem_rx + 1))
kiss=$((modem_rx + 3))
rig=$((modem_rx + 522))
team=$((modem_rx + 4))

home=$(mktemp -d /tmp/kestrelis-demo-XXXXXX)
pids=()
finish() {
  trap - INT TERM EXIT
  echo
  echo "demo: stopping ${#pids[@]} programs"
  for pid in "${pids[@]}"; do
    [[ $pid == "${rig_pid:-}" ]] || kill "$pid" 2>/dev/null || true
  done
  if [[ -n ${rig_pid:-} ]]; then
    sleep 0.5
    echo "demo: rigctld's PTT at the end: $(rig_ptt) (0: unkeyed)"
    kill "$rig_pid" 2>/dev/null || true
  fi
  wait 2>/dev/null || true
  echo "demo: logs kept in $home"
}
trap finish INT TERM EXIT

# rigctld's PTT state ("0" or "1"), asked on a connection of its own.
rig_ptt() {
  local line="?"
  if exec 4<>"/dev/tcp/127.0.0.1/$rig" 2>/dev/null; then
    printf 't\n' >&4
    read -r -t 2 line <&4 || true
    exec 4>&-
  fi
  echo "$line"
}

# Prints each change of rigctld's PTT, asking on one lasting connection.
watch_ptt() {
  exec 3<>"/dev/tcp/127.0.0.1/$rig" 2>/dev/null || return 0
  local last="" line
  while printf 't\n' >&3 && read -r -t 2 line <&3; do
    if [[ $line != "$last" ]]; then
      [[ $line == 1 ]] && echo "[rig] PTT on: transmitter keyed" || echo "[rig] PTT off"
      last=$line
    fi
    sleep 0.1
  done
}

prefix() { sed -u "s/^/$1 /"; }

echo "demo: profile $home; modem ports $modem_rx/$modem_tx, GUI port $kiss, team server $team"
address=""
if command -v rigctld >/dev/null 2>&1; then
  rigctld -m 1 -P RIG -T 127.0.0.1 -t "$rig" >"$home/rigctld.log" 2>&1 &
  rig_pid=$!
  pids+=("$rig_pid")
  address=127.0.0.1
  echo "demo: dummy rigctld on 127.0.0.1:$rig"
  sleep 0.5
  watch_ptt &
  pids+=($!)
else
  echo "demo: rigctld is not installed (Debian package libhamlib-utils); transmitting unkeyed"
fi

mkdir -p "$home/Kestrelis"
cat >"$home/Kestrelis/config.ini" <<INI
[modem]
GR_ReceivePort = $modem_rx
GR_TransmitPort = $modem_tx
GR_ReceiveAddress = 127.0.0.1
VerboseLevel = 2
[KISS]
KISS_Port = $kiss
KISS_Address = 127.0.0.1
[radio]
CallFrom = DEMO1
[rigctld]
Address = $address
Port = $rig
KeyUpDelay = 200
KeyDownDelay = 300
[forward]
URL = http://127.0.0.1:$team/api/telemetry
NoradID = 99999
Locator = JO62qm
Latitude = 52.52
Longitude = 13.40
INI

"$build/tools/kestrelis-team" --port "$team" > >(tee "$home/team.log" | prefix "[team]") &
pids+=($!)

env -u USERPROFILE HOME="$home" "$build/kestrelis-tnc" > >(tee "$home/tnc.log" | prefix "[tnc]") &
pids+=($!)
sleep 0.5
env -u USERPROFILE HOME="$home" "$build/kestrelis-forward" --poll-ms 500 \
  > >(tee "$home/forward.log" | prefix "[fwd]") &
pids+=($!)
"$build/tools/kestrelis-sim" --rx-port "$modem_rx" --tx-port "$modem_tx" --bitrate 9600 \
  --interval 3 --ber 0.0005 --time-scale 4 --quiet --duration "$seconds" \
  > >(tee "$home/sim.log" | prefix "[sim]") &
pids+=($!)
sleep 0.5
"$build/tools/kestrelis-kiss" --port "$kiss" --no-stdin --exit-after "$seconds" \
  --send "DEMO1>QQ0XYZ, Kestrelis, STORE=20 hello from the demo" \
  > >(tee "$home/client.log" | prefix "[gui]") &
client=$!
pids+=("$client")
wait "$client" || true
sleep 0.5
echo
log=$(ls "$home"/Kestrelis/packets/*.jsonl 2>/dev/null | tail -n 1)
echo "demo: telemetry records shown: $(grep -c "^TELEMETRY " "$home/client.log")" \
  "(kept by the TNC in its packet log ${log:-$home/Kestrelis/packets})"
if grep -q "Received: DEMO1>QQ0XYZ: hello from the demo" "$home/client.log"; then
  echo "demo: the digipeater message made the round trip"
else
  echo "demo: the digipeater message did not come back (yet)"
fi
forwarded=$(grep -m1 "Team server got a packet" "$home/team.log" 2>/dev/null || true)
if [[ -n $forwarded ]]; then
  echo "demo: $(grep -c "Team server got a packet" "$home/team.log") packets forwarded to the" \
    "stand-in team server; the first: ${forwarded#*] }"
else
  echo "demo: no packet reached the stand-in team server (see $home/forward.log)"
fi
plot="$home/telemetry.png"
if "$build/tools/kestrelis-kiss" plot "${log:-none}" --sat 1 eps_vbatt eps_vboost_0 \
  eps_temp_0 obc_temp_0 radio_temp_pa eps_cursun eps_cursys radio_last_rssi -o "$plot" \
  >"$home/plot.log" 2>&1; then
  echo "demo: satellite 1's battery, temperatures, currents and signal drawn in $plot"
else
  echo "demo: no plot: $(tail -n 1 "$home/plot.log")"
fi
