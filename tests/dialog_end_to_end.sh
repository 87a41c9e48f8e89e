#!/usr/bin/env bash
# Drives the real program on its own X server with the keyboard, as a user would, and
# compares what it writes with quorvex-cli. With --wine the program is the Windows one,
# on a Wine desktop that draws the frame, the system menu and minimised windows itself.
# Usage: dialog_end_to_end.sh [--wine] PROGRAM QUORVEX_CLI
set -uo pipefail
wine=
[ "$1" = --wine ] && { wine=wine; shift; }
program=$1 cli=$2
work=$(mktemp -d)
xvfb_pid=

# The server is waited for as it goes, so that the next test's never starts beside it.
trap '[ -n "$wine" ] && wineserver -k; [ -n "$xvfb_pid" ] && kill "$xvfb_pid" && wait "$xvfb_pid"; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# Waits up to $2 tenths of a second for the command $1 to succeed.
await() { for _ in $(seq "$2"); do eval "$1" && return 0; sleep 0.1; done; return 1; }

# The program starts only once the server answers a client.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
xvfb_pid=$!
await '[ -s "$work/display" ]' 300 || fail "Xvfb did not start"
export DISPLAY=":$(cat "$work/display")"
await 'xdpyinfo >/dev/null 2>&1' 300 || fail "Xvfb does not answer on $DISPLAY"
export QT_QPA_PLATFORM=xcb

if [ -n "$wine" ]; then
    export WINEPREFIX="$work/prefix" WINEDEBUG=-all LANG=C.UTF-8
    wineserver -p
    wineboot -i >/dev/null 2>&1 || fail "wineboot failed"
    cp /usr/share/wine/fonts/* "$WINEPREFIX/drive_c/windows/Fonts/"
    wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d QV /f >/dev/null 2>&1
    wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v QV /d 1024x768 /f >/dev/null 2>&1
fi

# The window whose title is exactly $1 (xdotool matches without regard to case),
# waiting up to $2 tenths of a second.
find_window() {
    local w
    for _ in $(seq "${2:-300}"); do
        for w in $(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null); do
            [ "$(xdotool getwindowname "$w" 2>/dev/null)" = "$1" ] && { echo "$w"; return 0; }
        done
        sleep 0.1
    done
    return 1
}

window_gone() { await "! xdotool search --onlyvisible --name '^$2\$' 2>/dev/null | grep -qx '$1'" 100; }

# Starts the program, with Qt options it must ignore, and waits for its window. On a busy
# machine Qt's first connection is now and then refused though the server answers: retried.
start() {
    main=
    for attempt in 1 2 3; do
        $wine "$program" -reverse -qwindowtitle X 2>"$work/stderr" &
        app=$!
        for _ in $(seq 300); do
            main=$(find_window Quorvex 1) && break 2
            kill -0 "$app" 2>/dev/null || break
        done
        grep -q "could not connect to display" "$work/stderr" || fail "the main dialog did not appear"
        echo "start $attempt: Qt could not connect to $DISPLAY; starting again" >&2
    done
    [ -n "$main" ] || fail "the main dialog did not appear"
    xdotool windowfocus --sync "$main"
}

# Acknowledges message boxes with Enter until none comes; prints how many there were.
answer_messages() {
    local count=0 box
    while box=$(find_window quorvex 30); do
        xdotool windowfocus --sync "$box" 2>/dev/null
        xdotool key Return
        window_gone "$box" quorvex || fail "a message box did not close on Enter"
        count=$((count + 1))
        [ "$count" -gt 10 ] && fail "too many messages"
    done
    echo "$count"
}

status_of() { await "! kill -0 $1 2>/dev/null" 300 || fail "the program did not end"; wait "$1"; }

# Opens the About box with the keys $1 and closes it with Escape.
about_box() {
    xdotool windowfocus --sync "$main"
    xdotool key $1
    local box
    box=$(find_window "About Quorvex" 50) || fail "$1 did not open the About box"
    xdotool windowfocus --sync "$box"
    xdotool key Escape
    window_gone "$box" "About Quorvex" || fail "Escape did not close the About box"
}

printf 'Hello, World!\r\nA second line, with a tab\there\nno line end' >"$work/in.txt"
printf 'gr\303\274\303\237e\n' >"$work/lossy.txt"
mkdir "$work/folder"
cp "$work/in.txt" "$work/keep.txt"

# A run enciphers the file exactly as the command-line tool does; the menu and, on
# Windows, the system menu open the About box. The input is dropped on the dialog, and
# Tab passes over the radio buttons: from the output box, the second Tab is "Execute".
start
about_box "alt Down a"
[ -n "$wine" ] && about_box "alt+space Up Return"
eval "$(xdotool getwindowgeometry --shell "$main")"
/usr/bin/python3 "$(dirname "$0")/drop_file.py" "$work/in.txt" $((X + WIDTH / 2)) $((Y + HEIGHT / 2)) ||
    fail "the dialog did not take a file dropped on its middle"
xdotool windowfocus --sync "$main"
xdotool key Tab
xdotool type --delay 5 "$work/gui.txt"
xdotool key Tab Tab space
messages=$(answer_messages)
[ "$messages" -eq 5 ] || fail "expected 5 messages for a run, saw $messages"
"$cli" encrypt --game 0 "$work/in.txt" "$work/cli.txt" || fail "quorvex-cli failed"
cmp "$work/gui.txt" "$work/cli.txt" || fail "the dialog's output differs from quorvex-cli's"
kill -0 "$app" 2>/dev/null || fail "the program ended after a successful run"
xdotool windowfocus --sync "$main"
xdotool key Escape
status_of "$app"; status=$?
[ "$status" -eq 0 ] || fail "Escape ended the program with status $status"

# Each run below ends the program with the status given after its messages; a failed
# one leaves the input as it was. Columns: input, output, messages, status.
while read -r input output expected want; do
    start
    xdotool type --delay 5 "$work/$input"
    xdotool key Tab
    xdotool type --delay 5 "$output"
    xdotool key alt+e
    messages=$(answer_messages)
    [ "$want" -eq 0 ] && { xdotool windowfocus --sync "$main"; xdotool key alt+x; }
    status_of "$app"; status=$?
    [ "$messages" -eq "$expected" ] || fail "$input -> $output: $messages messages, not $expected"
    [ "$status" -eq "$want" ] || fail "$input -> $output: status $status, not $want"
    cmp -s "$work/in.txt" "$work/keep.txt" || fail "$input -> $output: the input changed"
    [ -z "$wine" ] && grep -v -e XDG_RUNTIME_DIR -e "could not connect" "$work/stderr" | grep -q . &&
        fail "unexpected output: $(cat "$work/stderr")"
done <<CASES
missing.txt $work/never.txt 2 1
folder $work/never.txt 2 1
in.txt $work/in.txt 3 1
in.txt /dev/full 5 1
lossy.txt $work/lossy.enc 6 0
CASES
[ -e "$work/never.txt" ] && fail "a failed run created the output file"

echo "dialog end to end${wine:+ under Wine}: every run passed"
