#!/usr/bin/env bash
# Whole-process transfer benchmark: the engine (bench_transfer_client) beside
# curl, against one quorvel-devserver with its bench route, in the same run.
#
#   bench/transfer.sh                     # sizes 256 and 1024 MiB, 3 rounds
#   SIZES="64" ROUNDS=1 bench/transfer.sh # a quick look
#   BUILD=build/release WORK=/var/tmp/x bench/transfer.sh
#
# For each size, a file of random bytes; then ROUNDS rounds, each one
# interleaved: the client uploads it, curl -T puts the same bytes on the raw
# route, the client downloads its upload, curl -o gets the raw copy back. Each
# process runs under /usr/bin/time -v for its peak resident memory. Times are
# the transfer's own: the client's from queuing the job to its end (its login
# is not counted), curl's time_total (connection and TLS handshake included).
# The ratio is throughput, client over curl (curl's time / the client's): 1.0
# is as fast as curl. Medians over the rounds. The upload's breakdown is the
# client's own work on the same bytes, each piece timed apart
# (bench_transfer_client profile); "send+server" is what is left of the
# upload's wall time once the pieces done in line are taken off. hold_ms is
# the longest the client's engine held its lock at a time during the
# transfer (the longest of the rounds), in wall time / less the holder's
# waits for a processor (its run-queue delay, which a loaded machine adds to
# the wall time; a wait under the lock for a thread or the disk stays in).
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${BUILD:-$here/build/release}
SIZES=${SIZES:-"256 1024"}
ROUNDS=${ROUNDS:-3}
server_bin=${SERVER_BIN:-$BUILD/devserver/quorvel-devserver}
# CLIENT_BIN: another build's client against the same server (before/after).
client_bin=${CLIENT_BIN:-$BUILD/bench/bench_transfer_client}
for bin in "$server_bin" "$client_bin" /usr/bin/time curl; do
    command -v "$bin" >/dev/null || { echo "missing: $bin (cmake --preset release && cmake --build --preset release)" >&2; exit 1; }
done

work=${WORK:-$(mktemp -d "${TMPDIR:-/tmp}/quorvel-xfer-bench-XXXXXX")}
mkdir -p "$work"
server_pid=
cleanup() {
    if [[ -n $server_pid ]]; then kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT

user=bench
password=bench-password
"$server_bin" --port 0 --ca-out "$work/ca.pem" --data-dir "$work/data" --demo-user "$user:$password" \
    --bench-route >"$work/server.log" 2>&1 &
server_pid=$!
for _ in $(seq 100); do
    grep -q '^bench route:' "$work/server.log" 2>/dev/null && break
    kill -0 "$server_pid" 2>/dev/null || { cat "$work/server.log" >&2; exit 1; }
    sleep 0.1
done
base=$(sed -n 's/^quorvel-devserver listening on //p' "$work/server.log")
raw=$(sed -n 's/^bench route: //p' "$work/server.log")
origin=${raw%/bench/}
[[ -n $base && -n $raw ]] || { cat "$work/server.log" >&2; exit 1; }
export QUORVEL_SERVER_URL=$base QUORVEL_CA_FILE=$work/ca.pem

# timed NAME CMD...: runs CMD under time -v; its output in $work/NAME.out, its
# peak RSS (KiB) in $work/NAME.rss.
timed() {
    local name=$1; shift
    /usr/bin/time -v -o "$work/$name.time" "$@" >"$work/$name.out"
    sed -n 's/^[[:space:]]*Maximum resident set size (kbytes): //p' "$work/$name.time" >"$work/$name.rss"
}
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

curl_opts=(-sS --fail --cacert "$work/ca.pem" -H 'Expect:' -o /dev/null -w '%{time_total}\n')

printf '%-6s %-9s %10s %10s %7s %11s %11s %13s\n' MiB op client_s curl_s ratio client_MiB curl_MiB hold_ms/own
for size in $SIZES; do
    src=$work/source-$size
    head -c "$((size * 1024 * 1024))" /dev/urandom >"$src"
    : >"$work/up.c"; : >"$work/up.server"; : >"$work/up.k"; : >"$work/up.rss"; : >"$work/up.krss"; : >"$work/up.hold"; : >"$work/up.holdown"
    : >"$work/dn.c"; : >"$work/dn.k"; : >"$work/dn.rss"; : >"$work/dn.krss"; : >"$work/dn.hold"; : >"$work/dn.holdown"
    for round in $(seq "$ROUNDS"); do
        curl -sS --cacert "$work/ca.pem" -o /dev/null "$origin/bench-times"
        timed client-up "$client_bin" --user "$user:$password" upload "$src"
        curl -sS --cacert "$work/ca.pem" "$origin/bench-times" |
            awk '$2 == "/v1/filesend/store/" { print $4 }' >>"$work/up.server"
        uuid=$(sed -n 's/^uuid //p' "$work/client-up.out")
        sed -n 's/^seconds //p' "$work/client-up.out" >>"$work/up.c"; cat "$work/client-up.rss" >>"$work/up.rss"
        sed -n 's/^longest-hold-ms //p' "$work/client-up.out" >>"$work/up.hold"
        sed -n 's/^longest-hold-own-ms //p' "$work/client-up.out" >>"$work/up.holdown"

        timed curl-up curl "${curl_opts[@]}" -T "$src" "$raw$size-$round"
        cat "$work/curl-up.out" >>"$work/up.k"; cat "$work/curl-up.rss" >>"$work/up.krss"

        mkdir -p "$work/down"
        timed client-dn "$client_bin" --user "$user:$password" download "$uuid" "$work/down"
        written=$(sed -n 's/^path //p' "$work/client-dn.out")
        cmp -s "$src" "$written" || { echo "download of $uuid differs from the source" >&2; exit 1; }
        rm -f "$written"
        sed -n 's/^seconds //p' "$work/client-dn.out" >>"$work/dn.c"; cat "$work/client-dn.rss" >>"$work/dn.rss"
        sed -n 's/^longest-hold-ms //p' "$work/client-dn.out" >>"$work/dn.hold"
        sed -n 's/^longest-hold-own-ms //p' "$work/client-dn.out" >>"$work/dn.holdown"

        timed curl-dn curl -sS --fail --cacert "$work/ca.pem" -o "$work/down/curl" -w '%{time_total}\n' \
            "$raw$size-$round"
        cmp -s "$src" "$work/down/curl" || { echo "the raw route gave other bytes back" >&2; exit 1; }
        rm -f "$work/down/curl" "$work/data/bench/$size-$round"
        cat "$work/curl-dn.out" >>"$work/dn.k"; cat "$work/curl-dn.rss" >>"$work/dn.krss"
    done
    for op in up dn; do
        c=$(median <"$work/$op.c"); k=$(median <"$work/$op.k")
        rss=$(sort -g "$work/$op.rss" | tail -1); krss=$(sort -g "$work/$op.krss" | tail -1)
        hold=$(sort -g "$work/$op.hold" | tail -1)/$(sort -g "$work/$op.holdown" | tail -1)
        printf '%-6s %-9s %10.2f %10.2f %7.2f %11.1f %11.1f %13s\n' "$size" "$([[ $op == up ]] && echo upload || echo download)" \
            "$c" "$k" "$(awk -v c="$c" -v k="$k" 'BEGIN { print k / c }')" \
            "$(awk -v r="$rss" 'BEGIN { print r / 1024 }')" "$(awk -v r="$krss" 'BEGIN { print r / 1024 }')" "${hold:--}"
    done
    "$client_bin" profile "$src" >"$work/profile.out"
    upload=$(median <"$work/up.c")
    server=$(median <"$work/up.server")
    awk -v up="$upload" -v server="$server" '
        { t[$1] = $2 }
        END {
            work = t["read"] + t["digest"] + t["encrypt"] + t["body-digest"]
            printf "       upload %.2f s: read %.2f, digest %.2f, encrypt %.2f, body digest %.2f (client, %.2f in all),\n",
                up, t["read"], t["digest"], t["encrypt"], t["body-digest"], work
            printf "       server %.2f (store handlers), send and the rest %.2f (wall - server - client work;\n", server, up - server - work
            printf "       below the send alone when client work overlaps the request in flight)\n"
        }' "$work/profile.out"
    rm -f "$src"
done
