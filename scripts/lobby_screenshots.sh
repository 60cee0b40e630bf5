#!/bin/bash
# Pictures of the lobby client for the README: the log-in form and a busy
# lobby, taken under Xvfb from the client's own screen ("shot" on its
# standard input) and saved as PNG in docs/images/.
#
#   scripts/lobby_screenshots.sh [build-dir]          regenerate the pictures
#   scripts/lobby_screenshots.sh --check [build-dir]  compare new pictures with
#       the committed ones, loosely (blurred, a small RMSE allowed), so font
#       hinting and the measured times in the status line do not matter
#
# Needs xvfb-run, ImageMagick (convert, compare) and pyftpdlib.
set -eu
CHECK=
if [ "${1:-}" = --check ]; then CHECK=1; shift; fi
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$(cd "${1:-$ROOT/build/asan}" && pwd)
SERVER=$BUILD/examples/lobby/tarvex_lobby_server
CLIENT=$BUILD/examples/lobby/tarvex_lobby
for tool in xvfb-run convert compare; do
    command -v $tool > /dev/null || { echo "$tool is missing"; exit 2; }
done

if [ "${LOBBY_SHOTS_INSIDE:-}" != 1 ]; then
    export LOBBY_SHOTS_INSIDE=1
    exec xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" ${CHECK:+--check} "$BUILD"
fi

WORK=$(mktemp -d)
PIDS=()
trap '[ $? -ne 0 ] && tail -n 5 "$WORK"/*.log; for p in "${PIDS[@]}"; do kill -KILL "$p" 2> /dev/null; done; rm -rf "$WORK"' EXIT
echo "leak:libdbus-1.so" > "$WORK/lsan.supp"
export LSAN_OPTIONS="suppressions=$WORK/lsan.supp" SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=/dev/null
wait_for() { for ((i = 0; i < $3 * 20; i++)); do grep -qF -- "$2" "$1" 2> /dev/null && return 0; sleep 0.05; done; return 1; }
port() { /usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }

printf 'room = Hall\nroom = Arena\nroom = "Quiet corner"\n' > "$WORK/server.kcbl"
"$SERVER" -c "$WORK/server.kcbl" -p 0 > "$WORK/server.log" 2>&1 &
PIDS+=($!)
wait_for "$WORK/server.log" "listening on port" 20
SPORT=$(grep -o 'listening on port [0-9]*' "$WORK/server.log" | grep -o '[0-9]*$')
mkdir "$WORK/ftp"
printf 'Welcome!\n\nSaturday:\nspring cup,\n8 to a table.\n\nNew room:\nQuiet corner.\n' \
    > "$WORK/ftp/news.txt"
FPORT=$(port)
/usr/bin/python3 -m pyftpdlib -i 127.0.0.1 -p "$FPORT" -d "$WORK/ftp" > "$WORK/ftp.log" 2>&1 &
PIDS+=($!)

# Players in the console client, already talking.
talk() {
    local name=$1
    shift
    mkfifo "$WORK/$name.in"
    sleep 60 > "$WORK/$name.in" 2> /dev/null &
    PIDS+=($!)
    "$CLIENT" --console --server "127.0.0.1:$SPORT" --user "$name" < "$WORK/$name.in" > "$WORK/$name.log" 2>&1 &
    PIDS+=($!)
    wait_for "$WORK/$name.log" "welcome $name" 20
    echo "join Hall" > "$WORK/$name.in"
    wait_for "$WORK/$name.log" "joined Hall" 10
}
say() { echo "say $2" > "$WORK/$1.in"; wait_for "$WORK/$1.log" "$1: $2" 10; }
talk bob
talk cy
talk dee

mkfifo "$WORK/ada.in"
sleep 60 > "$WORK/ada.in" 2> /dev/null &
PIDS+=($!)
"$CLIENT" --server "127.0.0.1:$SPORT" --user ada --password secret --news "ftp://127.0.0.1:$FPORT/news.txt" \
    --settings "$WORK/ada.kcbl" --music "$WORK/none" < "$WORK/ada.in" > "$WORK/ada.log" 2>&1 &
PIDS+=($!)
wait_for "$WORK/ada.log" "login form" 20
sleep 0.5
echo "shot $WORK/login.bmp" > "$WORK/ada.in"
wait_for "$WORK/ada.log" "shot $WORK/login.bmp" 10
echo "login ada secret" > "$WORK/ada.in"
wait_for "$WORK/ada.log" "lobby window" 20
echo "join Hall" > "$WORK/ada.in"
wait_for "$WORK/ada.log" "joined Hall" 10
say bob "evening all"
say cy "hi bob! anyone for a round?"
say dee "count me in"
echo "say I'm in too" > "$WORK/ada.in"
wait_for "$WORK/ada.log" "ada: I'm in too" 10
say bob "great, four of us: Arena in five minutes"
say cy "see you there"
wait_for "$WORK/ada.log" "news downloaded" 10
sleep 1.5
echo "shot $WORK/lobby.bmp" > "$WORK/ada.in"
wait_for "$WORK/ada.log" "shot $WORK/lobby.bmp" 10
echo quit > "$WORK/ada.in"

status=0
for name in login lobby; do
    png=$ROOT/docs/images/lobby-$name.png
    if [ -n "$CHECK" ]; then
        convert "$WORK/$name.bmp" "$WORK/$name.png"
        # RMSE of the blurred pictures, normalised to 0..1.
        convert "$WORK/$name.png" -blur 0x2 "$WORK/$name-new.png"
        convert "$png" -blur 0x2 "$WORK/$name-golden.png"
        rmse=$(compare -metric RMSE "$WORK/$name-new.png" "$WORK/$name-golden.png" null: 2>&1 |
            sed "s/.*(\(.*\)).*/\1/" || true)
        echo "$name: RMSE $rmse against $png"
        awk -v r="$rmse" 'BEGIN { exit !(r < 0.05) }' || { echo "$name differs from its golden picture"; status=1; }
    else
        mkdir -p "$ROOT/docs/images"
        convert "$WORK/$name.bmp" -strip "$png"
        echo "wrote $png"
    fi
done
exit $status
