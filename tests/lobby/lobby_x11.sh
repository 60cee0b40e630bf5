#!/bin/bash
# The lobby end to end in a real X server: the lobby server, the relay proxy,
# a local FTP server with the news, and three windowed clients. Two are
# typed into with xdotool (log-in form, room list, Join, chat line and
# Enter); the third logs in late through its standard input and must get the
# history; one of the first two is killed with SIGKILL and must leave the
# others' player lists within the server's ping time-out. Every chat line
# must reach every client once and in order: each client prints what its
# chat box shows.
#
#   lobby_x11.sh <tarvex_lobby_server> <tarvex_lobby> <tarvex_proxy>
# Exit 77 (skipped) when xvfb-run, xdotool or pyftpdlib are missing.
set -u
SERVER=$1 CLIENT=$2 PROXY=$3

if [ "${LOBBY_X11_INSIDE:-}" != 1 ]; then
    for tool in xvfb-run Xvfb xdotool; do
        command -v $tool > /dev/null || { echo "skipped: $tool is not installed"; exit 77; }
    done
    /usr/bin/python3 -c 'import pyftpdlib' 2> /dev/null || { echo "skipped: pyftpdlib is not installed"; exit 77; }
    export LOBBY_X11_INSIDE=1
    # A server number of our own to start from, so parallel runs do not race.
    exec timeout 120 xvfb-run -a -n $((100 + $$ % 400)) -s "-screen 0 1024x768x24" bash "$0" "$@"
fi

WORK=$(mktemp -d)
PIDS=()
cleanup() {
    for p in "${PIDS[@]}"; do kill -KILL "$p" 2> /dev/null; done
    wait 2> /dev/null
    rm -rf "$WORK"
}
trap cleanup EXIT
step() { echo "[$(date +%T.%N | cut -c1-12)] $*"; }
fail() {
    echo "FAILED: $*"
    for f in "$WORK"/*.log; do echo "---- $(basename "$f")"; cat "$f"; done
    exit 1
}
# A watchdog: a step that hangs fails the test with the logs shown.
trap 'fail "timed out"' USR1
(exec > /dev/null 2>&1; sleep 90; kill -USR1 $$) &
WATCHDOG=$!
PIDS+=($WATCHDOG)
# SDL's desktop bus connection keeps a block of its library to the end.
echo "leak:libdbus-1.so" > "$WORK/lsan.supp"
export LSAN_OPTIONS="${LSAN_OPTIONS:+$LSAN_OPTIONS:}suppressions=$WORK/lsan.supp"
# Sound goes to a file: there is no sound card here.
export SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=/dev/null

# A free port the relay proxy can name (its location record holds ports
# below 32768 only).
free_port() {
    /usr/bin/python3 -c '
import random, socket
for _ in range(200):
    p = random.randint(20000, 32767)
    s = socket.socket()
    try:
        s.bind(("127.0.0.1", p)); print(p); break
    except OSError:
        pass
    finally:
        s.close()'
}
# wait_for <file> <text> <seconds>
wait_for() {
    local i
    for ((i = 0; i < $3 * 20; i++)); do
        grep -qF -- "$2" "$1" 2> /dev/null && return 0
        sleep 0.05
    done
    return 1
}
chat_lines() { grep '^chat ' "$1" | cut -d' ' -f3-; }
last_players() { grep '^players Hall ' "$1" | tail -1 | cut -d' ' -f3; }

# The server, with a short ping time-out so the test need not wait long.
TIMEOUT_MS=3000
printf 'room = Hall\nroom = Arena\nhistoryLines = 20\n' > "$WORK/server.kcbl"
"$SERVER" -c "$WORK/server.kcbl" -p "$(free_port)" -t $TIMEOUT_MS > "$WORK/server.log" 2>&1 &
PIDS+=($!)
wait_for "$WORK/server.log" "listening on port" 20 || fail "the server did not start"
SPORT=$(grep -o 'listening on port [0-9]*' "$WORK/server.log" | grep -o '[0-9]*$')

"$PROXY" -p 0 -s 110 > "$WORK/proxy.log" 2>&1 &
PIDS+=($!)
wait_for "$WORK/proxy.log" "listening on port" 20 || fail "the proxy did not start"
PPORT=$(grep -o 'listening on port [0-9]*' "$WORK/proxy.log" | grep -o '[0-9]*$')

mkdir -p "$WORK/ftp"
printf 'Welcome to the lobby!\nTournament on Saturday.\n' > "$WORK/ftp/news.txt"
FPORT=$(free_port)
/usr/bin/python3 -m pyftpdlib -i 127.0.0.1 -p "$FPORT" -d "$WORK/ftp" > "$WORK/ftp.log" 2>&1 &
PIDS+=($!)
for ((i = 0; i < 100; i++)); do
    (echo > /dev/tcp/127.0.0.1/$FPORT) 2> /dev/null && break
    sleep 0.05
done

# start_client <name> [args...]: the client's output in <name>.log, its
# input from the fifo <name>.in (held open by a sleeper).
start_client() {
    local name=$1
    shift
    mkfifo "$WORK/$name.in"
    sleep 200 > "$WORK/$name.in" 2> /dev/null &
    PIDS+=($!)
    "$CLIENT" --server "127.0.0.1:$SPORT" --proxy "127.0.0.1:$PPORT" \
        --news "ftp://127.0.0.1:$FPORT/news.txt" --settings "$WORK/$name.kcbl" "$@" \
        < "$WORK/$name.in" > "$WORK/$name.log" 2>&1 &
    PIDS+=($!)
    eval "PID_$name=$!"
}
# The client's window once it has settled (the window made at start-up is
# replaced when the screen mode is set).
window_of() {
    local i w
    for ((i = 0; i < 100; i++)); do
        w=$(timeout 5 xdotool search --onlyvisible --pid "$1" 2> /dev/null | head -1)
        if [ -n "$w" ] && timeout 5 xdotool getwindowgeometry "$w" > /dev/null 2>&1; then
            sleep 0.3
            timeout 5 xdotool getwindowgeometry "$w" > /dev/null 2>&1 && { echo "$w"; return; }
        fi
        sleep 0.1
    done
}
# click <window> <x> <y>
# (held for a few frames, as a hand does)
click() {
    xdotool mousemove --window "$1" "$2" "$3"
    sleep 0.1
    xdotool mousedown 1
    sleep 0.1
    xdotool mouseup 1
    sleep 0.15
}
type_text() { xdotool type --delay 40 "$1"; sleep 0.1; }

# Two clients typed into: the log-in form, then Hall from the room list,
# Join, and the entry field (the picture of the windows is in docs/lobby.md).
for who in ada bob; do
    step "$who: starting"
    start_client $who
    pid_var=PID_$who
    wait_for "$WORK/$who.log" "login form" 20 || fail "$who: no log-in form"
    win=$(window_of "${!pid_var}")
    [ -n "$win" ] || fail "$who: no window"
    eval "WIN_$who=$win"
    xdotool windowfocus "$win"; sleep 0.2
    click "$win" 360 166
    type_text $who
    click "$win" 360 196
    type_text secret
    xdotool key Return
    step "$who: logging in"
    wait_for "$WORK/$who.log" "lobby window" 20 || fail "$who: the log-in did not open the lobby"
    wait_for "$WORK/$who.log" "rooms Hall:" 10 || fail "$who: no room list"
    sleep 0.3
    click "$win" 60 57
    click "$win" 43 177
    step "$who: joining Hall"
    wait_for "$WORK/$who.log" "joined Hall" 10 || fail "$who: did not join Hall"
done
wait_for "$WORK/ada.log" "players Hall ada,bob" 10 || wait_for "$WORK/ada.log" "players Hall bob,ada" 1 ||
    fail "ada does not see bob"

# Turns at the keyboard: each line typed into the entry field, sent by Enter.
for n in 1 2 3; do
    for who in ada bob; do
        win_var=WIN_$who
        xdotool windowfocus "${!win_var}"; sleep 0.2
        click "${!win_var}" 270 407
        step "$who: typing line $n"
        type_text "$who says $n"
        xdotool key Return
        wait_for "$WORK/$who.log" "$who: $who says $n" 10 || fail "$who: line $n not shown"
    done
done

step "chatting done"
# The late joiner: through its standard input, no typing.
start_client cy --user cy --password pw --login
wait_for "$WORK/cy.log" "lobby window" 20 || fail "cy: no lobby"
echo "join Hall" > "$WORK/cy.in"
wait_for "$WORK/cy.log" "bob: bob says 3" 10 || fail "cy: no history"
echo "say cy is late" > "$WORK/cy.in"
for who in ada bob cy; do
    wait_for "$WORK/$who.log" "cy: cy is late" 10 || fail "$who: did not get cy's line"
done

step "cy joined late"
# bob vanishes without a word.
kill -KILL "$PID_bob"
start=$(date +%s%N)
for who in ada cy; do
    ok=
    for ((i = 0; i < (TIMEOUT_MS / 50) + 40; i++)); do
        case ",$(last_players "$WORK/$who.log")," in *,bob,*) sleep 0.05 ;; *) ok=1; break ;; esac
    done
    [ -n "$ok" ] || fail "$who still lists bob"
done
took=$((($(date +%s%N) - start) / 1000000))
echo "bob left the others' player lists after $took ms (ping time-out $TIMEOUT_MS ms)"
[ "$took" -le $((TIMEOUT_MS + 1000)) ] || fail "bob left too late ($took ms)"

# Every line once, in order, everywhere (bob up to his end).
chat_lines "$WORK/ada.log" > "$WORK/ada.chat"
chat_lines "$WORK/bob.log" > "$WORK/bob.chat"
chat_lines "$WORK/cy.log" > "$WORK/cy.chat"
[ "$(wc -l < "$WORK/ada.chat")" -eq 7 ] || fail "ada has $(wc -l < "$WORK/ada.chat") chat lines, not 7"
cmp -s "$WORK/ada.chat" "$WORK/bob.chat" || fail "ada and bob saw different chat"
cmp -s "$WORK/ada.chat" "$WORK/cy.chat" || fail "ada and cy saw different chat"
expected=$(printf '%s\n' "1 ada: ada says 1" "2 bob: bob says 1" "3 ada: ada says 2" "4 bob: bob says 2" \
    "5 ada: ada says 3" "6 bob: bob says 3" "7 cy: cy is late")
[ "$(cat "$WORK/ada.chat")" = "$expected" ] || fail "the chat is not what was said"

# The news came by FTP through the progress bar; the status line measured.
grep -q "news downloaded" "$WORK/ada.log" || fail "ada got no news"
# Remember-me was off: the settings file keeps no password.
grep -q password "$WORK/ada.kcbl" && fail "the password was written without remember-me"

# The survivors end cleanly (no leaks, no sanitizer reports).
for who in ada cy; do
    pid_var=PID_$who
    echo quit > "$WORK/$who.in"
    for ((i = 0; i < 200; i++)); do kill -0 "${!pid_var}" 2> /dev/null || break; sleep 0.05; done
    wait "${!pid_var}"
    rc=$?
    [ $rc -eq 0 ] || fail "$who ended with $rc"
done
echo "lobby end to end: passed"
