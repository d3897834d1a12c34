#!/usr/bin/env bash
# The socket-activation path of the map gateway, without a running systemd:
# systemd-socket-activate holds the port as the user socket unit does, the first request starts
# the gateway on that socket, it answers a page and a picture, and it leaves once idle.
# Nothing is written outside a scratch home.
#
#   check_gateway_activation.sh GATEWAY [PORT]     (PORT: a free one is picked when missing)
set -euo pipefail
gateway=$1
port=${2:-}
idle=3

scratch=$(mktemp -d)
activator=""
cleanup() {
    [ -n "$activator" ] && kill "$activator" 2>/dev/null || true
    rm -rf "$scratch"
}
trap cleanup EXIT
export HOME=$scratch/home XDG_CONFIG_HOME=$scratch/config XDG_CACHE_HOME=$scratch/cache
export QT_QPA_PLATFORM=offscreen
mkdir -p "$HOME"

fail() { echo "gateway activation: $*" >&2; [ -f "$scratch/log" ] && sed 's/^/  log: /' "$scratch/log" >&2; exit 1; }
# Whether something listens on port $1, read from the system's socket table: connecting to find
# out would itself start the gateway.
listening() { [ -n "$(ss -Hltn "sport = :$1")" ]; }
# get TARGET FILE: one HTTP/1.0 request to the port, the whole answer (head and body) in FILE.
get() {
    timeout 25 bash -c "exec 3<>/dev/tcp/127.0.0.1/$port || exit 1
        printf 'GET %s HTTP/1.0\r\nHost: 127.0.0.1:%s\r\n\r\n' '$1' '$port' >&3
        cat <&3 >'$2'" || fail "no answer to $1"
}

if [ -z "$port" ]; then
    for _ in $(seq 50); do
        port=$((20000 + RANDOM % 40000))
        listening "$port" || break
    done
fi
listening "$port" && fail "port $port is taken"

# It hands the gateway a bare environment: the scratch folders must be passed on by name.
systemd-socket-activate -l "127.0.0.1:$port" -E HOME -E XDG_CONFIG_HOME -E XDG_CACHE_HOME -E QT_QPA_PLATFORM \
    "$gateway" --idle-exit "$idle" >"$scratch/log" 2>&1 &
activator=$!
for _ in $(seq 100); do
    listening "$port" && break
    sleep 0.1
done
listening "$port" || fail "nothing listens on $port"
# The socket is held, but nothing has started the gateway yet.
[ ! -e "$XDG_CONFIG_HOME/orrowdale/gateway.conf" ] || fail "the gateway ran before the first request"

get "/maps?f=q&q=Haverhill%20MA&zoom=1" "$scratch/page"
head -n 1 "$scratch/page" | grep -q '^HTTP/1\.[01] 200' || fail "page: $(head -n 1 "$scratch/page")"
grep -q "img src=http://127.0.0.1:$port/mapdata?" "$scratch/page" || fail "the page holds no image reference"
# The picture's address as the page gives it, with the program's zoom added.
address=$(grep -o "img src=http://127.0.0.1:$port/mapdata?[^ ]*" "$scratch/page" | sed "s|^img src=http://127.0.0.1:$port||")
get "$address&zl=4" "$scratch/image"
head -n 1 "$scratch/image" | grep -q '^HTTP/1\.[01] 200' || fail "picture: $(head -n 1 "$scratch/image")"
LC_ALL=C grep -q $'\x89PNG' "$scratch/image" || fail "the picture is not a PNG"

# Its configuration was made where the README says, for this user only.
conf=$XDG_CONFIG_HOME/orrowdale/gateway.conf
[ -f "$conf" ] || fail "no configuration file at $conf"
[ "$(stat -c %a "$conf")" = 600 ] || fail "$conf has mode $(stat -c %a "$conf")"

# Idle, it leaves by itself, and cleanly.
rc=0
timeout $((idle + 15)) tail --pid="$activator" -f /dev/null || fail "still running $((idle + 15)) s after the last request"
wait "$activator" || rc=$?
activator=""
[ "$rc" -eq 0 ] || fail "left with status $rc"
echo "gateway activation: started by the first request on port $port, answered, left after ${idle} s idle"
