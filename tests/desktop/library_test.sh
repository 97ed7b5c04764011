#!/usr/bin/env bash
# The song library as a new user meets it, under a real window manager: File > Song
# Library (Ctrl+L) opens the library window, a word typed finds the songs, Enter opens the
# first one in the player, Ctrl+Q queues two of them with their singers' names, and the
# queue is in the settings file.
#
#   library_test.sh PROGRAM CVKTOOL SONG
#   CVK_DESKTOP_SHOTS=FOLDER library_test.sh ...   also keeps a screenshot of the library
set -uo pipefail

program="${1:?program}"
cvktool="${2:?cvktool}"
song_source="${3:?song}"

source "$(dirname "${BASH_SOURCE[0]}")/desktop_session.sh"

desktop_start $'[Selected midi device]\nDevice name=Capture\n[Configuration]\nRunConfigWizard=0\n'
mkdir -p "${tmp}/songs/more"
cp "${song_source}" "${tmp}/songs/first.kar"
cp "${song_source}" "${tmp}/songs/more/second.kar"
printf 'not a song' >"${tmp}/songs/notes.mid"
# The library the program will find: the same database, filled from the terminal.
if "${cvktool}" library add "${tmp}/songs" >"${tmp}/add.log" 2>&1; then
    ok "cvktool library add"
else
    not_ok "cvktool library add" "$(cat "${tmp}/add.log")"
fi
check "the file that is no song is skipped" "$(grep -c '^skipped .*notes.mid' "${tmp}/add.log")" 1

desktop_run "${program}"
main_window=""
find_main() { main_window="$(windows_of_type "= _NET_WM_WINDOW_TYPE_NORMAL" | head -n 1)"; [[ -n "${main_window}" ]]; }
if ! wait_until find_main; then
    not_ok "the main window shows" "no window"
    cat "${tmp}/cvk.log" >&2
    echo "desktop: ${passed} passed, ${failed} failed"
    exit 1
fi
xdotool windowactivate --sync "${main_window}" >/dev/null 2>&1
sleep 0.5
xdotool key --clearmodifiers ctrl+l
library=""
find_library() { library="$(window_titled "^Song Library")"; }
if wait_until find_library; then ok "Ctrl+L opens the song library"; else not_ok "Ctrl+L opens the song library" "no window"; fi

if [[ -n "${library}" ]]; then
    xdotool windowactivate --sync "${library}" >/dev/null 2>&1
    sleep 0.5
    xdotool type --delay 50 "twink"
    sleep 0.5
    screenshot
    keep_shot library
    xdotool key --clearmodifiers Return
    song_open() { title "${main_window}" _NET_WM_NAME | grep -q "first.kar"; }
    if wait_until song_open; then
        ok "Enter opens the first row in the player"
    else
        not_ok "Enter opens the first row in the player" "$(title "${main_window}" _NET_WM_NAME)"
    fi

    queue() {
        xdotool windowactivate --sync "${library}" >/dev/null 2>&1
        sleep 0.3
        xdotool key --clearmodifiers ctrl+q
        local question=""
        find_question() { question="$(window_titled "^Add to Queue")"; }
        if wait_until find_question; then
            xdotool windowactivate --sync "${question}" >/dev/null 2>&1
            xdotool type --delay 50 "$1"
            xdotool key --clearmodifiers Return
            sleep 0.5
            ok "Ctrl+Q asks for the singer ($1)"
        else
            not_ok "Ctrl+Q asks for the singer ($1)" "no question"
        fi
    }
    queue "Ann"
    queue "Bob"
    ini="${tmp}/config/cantivo/CANTIVO.INI"
    queued() { grep -q '^Count=2' "${ini}"; }
    if wait_until queued; then ok "two singers are queued and saved"; else not_ok "two singers are queued and saved" "$(cat "${ini}")"; fi
    check "the first singer's row" "$(grep '^Row1=' "${ini}")" "Row1=Ann	${tmp}/songs/first.kar	Twinkle, Twinkle, Little Star"
    check "the second singer's row" "$(grep -c '^Row2=Bob	' "${ini}")" 1
    screenshot
    keep_shot queue
fi

echo
echo "desktop: ${passed} passed, ${failed} failed"
((failed == 0))
