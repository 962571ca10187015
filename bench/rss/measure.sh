#!/usr/bin/env bash
# Resident memory of talvek-ftpd: idle, and with 100 idle control connections.
# Builds nothing. Usage: bench/rss/measure.sh PATH/TO/talvek-ftpd [CONNECTIONS]
# Runs the daemon on a free loopback port with settings, program directory and
# FTP root in a temporary directory, so no real settings are touched.
set -euo pipefail

daemon=${1:?usage: $0 PATH/TO/talvek-ftpd [CONNECTIONS]}
connections=${2:-100}
[ -x "$daemon" ] || { echo "$0: $daemon is not executable" >&2; exit 2; }
defaults="$(dirname "$daemon")/defaults.reg"
[ -f "$defaults" ] || { echo "$0: no defaults.reg beside $daemon" >&2; exit 2; }

work=$(mktemp -d)
pid=""
cleanup() {
  if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
    kill -TERM "$pid" 2>/dev/null || true
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/prog" "$work/root" "$work/home"
cp "$defaults" "$work/prog/"
settings="$work/settings.reg"
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config"
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1]); s.close()')
"$daemon" --settings "$settings" --program-dir "$work/prog" config set DefaultIP 127.0.0.1
# Idle connections must not be timed out or refused while we measure.
"$daemon" --settings "$settings" --program-dir "$work/prog" config set GeneralSettings.MaxConnections $((connections + 10))
"$daemon" --settings "$settings" --program-dir "$work/prog" config set GeneralSettings.ConnectionsPerAddress $((connections + 10))

"$daemon" --settings "$settings" --program-dir "$work/prog" --root "$work/root" --port "$port" \
  >"$work/out" 2>"$work/err" &
pid=$!

ready=""
for _ in $(seq 100); do
  if grep -q "listening on port $port" "$work/out" 2>/dev/null; then ready=1; break; fi
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
[ -n "$ready" ] || { echo "$0: the daemon did not start:" >&2; cat "$work/err" >&2; exit 1; }

rss() { awk '/^VmRSS:/ {print $2}' "/proc/$pid/status"; }
idle=$(rss)

# Holds the connections open (each greeted) until its stdin closes.
python3 - "$port" "$connections" "$work/held" <<'PY' &
import socket, sys, time
port, count, flag = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
held = []
for _ in range(count):
    s = socket.create_connection(("127.0.0.1", port), timeout=10)
    data = b""
    while not data.endswith(b"\r\n"):
        chunk = s.recv(256)
        if not chunk:
            sys.exit("closed before the greeting")
        data += chunk
    if not data.startswith(b"220 "):
        sys.exit("refused: " + data.decode(errors="replace"))
    held.append(s)
open(flag, "w").close()
deadline = time.time() + 60
while time.time() < deadline and not __import__("os").path.exists(flag + ".done"):
    time.sleep(0.1)
PY
holder=$!

for _ in $(seq 300); do
  [ -e "$work/held" ] && break
  kill -0 "$holder" 2>/dev/null || { echo "$0: could not open $connections connections" >&2; exit 1; }
  sleep 0.1
done
[ -e "$work/held" ] || { echo "$0: timed out opening connections" >&2; exit 1; }
# Let the control thread settle after the last admission.
sleep 0.5
busy=$(rss)
touch "$work/held.done"
wait "$holder" || true

echo "idle RSS: ${idle} KiB"
echo "RSS with ${connections} idle connections: ${busy} KiB"
echo "per connection: $(( (busy - idle) / connections )) KiB"
