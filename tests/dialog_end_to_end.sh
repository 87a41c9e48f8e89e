#!/usr/bin/env bash
# Drives the real quorvex binary on its own Xvfb server with the keyboard, as a user
# would, and compares what it writes with quorvex-cli.
# Usage: dialog_end_to_end.sh QUORVEX QUORVEX_CLI
set -uo pipefail
quorvex=$1
cli=$2
work=$(mktemp -d)
xvfb_pid=

cleanup() {
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
xvfb_pid=$!
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || fail "Xvfb did not start"
export DISPLAY=":$(cat "$work/display")"
export QT_QPA_PLATFORM=xcb

# The visible window whose title is exactly $1 (xdotool matches without regard to case),
# waiting up to $2 tenths of a second.
find_window() {
    local w
    for _ in $(seq "${2:-100}"); do
        for w in $(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null); do
            [ "$(xdotool getwindowname "$w" 2>/dev/null)" = "$1" ] && { echo "$w"; return 0; }
        done
        sleep 0.1
    done
    return 1
}

window_gone() {
    for _ in $(seq 50); do
        xdotool search --onlyvisible --name "^$2\$" 2>/dev/null | grep -qx "$1" || return 0
        sleep 0.1
    done
    return 1
}

# Starts the program, types both paths and presses Alt+E; leaves its pid in $app.
start_run() {
    "$quorvex" 2>"$work/stderr" &
    app=$!
    main=$(find_window Quorvex) || fail "the main dialog did not appear"
    xdotool windowfocus --sync "$main"
    xdotool type --delay 2 "$1"
    xdotool key Tab
    xdotool type --delay 2 "$2"
    xdotool key alt+e
}

# Acknowledges message boxes with Enter until none comes; prints how many there were.
answer_messages() {
    local count=0 box
    while box=$(find_window quorvex 20); do
        xdotool windowfocus --sync "$box" 2>/dev/null
        xdotool key Return
        window_gone "$box" quorvex || fail "a message box did not close on Enter"
        count=$((count + 1))
        [ "$count" -gt 10 ] && fail "too many messages"
    done
    echo "$count"
}

status_of() {
    local pid=$1
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    wait "$pid"
}

printf 'Hello, World!\r\nA second line, with a tab\there\nno line end' >"$work/in.txt"

# A run enciphers the file exactly as the command-line tool does.
start_run "$work/in.txt" "$work/gui.txt"
messages=$(answer_messages)
[ "$messages" -eq 5 ] || fail "expected 5 messages for a run, saw $messages"
"$cli" encrypt --game 0 "$work/in.txt" "$work/cli.txt" || fail "quorvex-cli failed"
cmp "$work/gui.txt" "$work/cli.txt" || fail "the dialog's output differs from quorvex-cli's"
kill -0 "$app" 2>/dev/null || fail "the program ended after a successful run"
xdotool windowfocus --sync "$main"
xdotool key Escape
status_of "$app"
status=$?
[ "$status" -eq 0 ] || fail "Escape ended the program with status $status"

# Failures end the program with status 1 right after their message, and leave the
# input as it was. Columns: input, output, messages expected.
mkdir "$work/folder"
cp "$work/in.txt" "$work/keep.txt"
passed=1
while read -r input output expected; do
    start_run "$work/$input" "$output"
    messages=$(answer_messages)
    status_of "$app"
    status=$?
    [ "$messages" -eq "$expected" ] || fail "$input -> $output: $messages messages, not $expected"
    [ "$status" -eq 1 ] || fail "$input -> $output: status $status, not 1"
    cmp -s "$work/in.txt" "$work/keep.txt" || fail "$input -> $output: the input changed"
    grep -v XDG_RUNTIME_DIR "$work/stderr" | grep -q . && fail "unexpected output: $(cat "$work/stderr")"
    passed=$((passed + 1))
done <<CASES
missing.txt $work/never.txt 2
folder $work/never.txt 2
in.txt $work/in.txt 3
in.txt /dev/full 5
CASES
[ -e "$work/never.txt" ] && fail "a failed run created the output file"

echo "dialog end to end: $passed passed, 0 failed"
