#!/usr/bin/env bash
# The program as a user meets it on a Linux desktop: its own X server (Xvfb) with a real
# window manager (openbox), keys and pointer driven with xdotool, window state and titles
# read back with xprop and xwininfo, colours read from screenshots.
#
#   desktop_test.sh PROGRAM SONG
#   CVK_DESKTOP_SHOTS=FOLDER desktop_test.sh ...   also keeps screenshots there
#
# Everything runs in a temporary folder: settings (XDG_CONFIG_HOME), the single-instance
# socket (XDG_RUNTIME_DIR), HOME; the song plays into the capture device, so no sound
# server is needed. A missing tool fails the test: scripts/install-deps.sh installs them.
set -uo pipefail

program="${1:?program}"
song_source="${2:?song}"

source "$(dirname "${BASH_SOURCE[0]}")/desktop_session.sh"

# The window's design height below the menu bar: 390, and the track scroll bar under it.
readonly kClientHeight=406
readonly kLyricColour="218,176,152"
readonly kPanelColour="46,47,51"
readonly kHintColour="#FFFFDF"

desktop_start $'[Selected midi device]\nDevice name=Capture\n[Configuration]\nRunConfigWizard=0\n'
song="${tmp}/twinkle.kar"
cp "${song_source}" "${song}"
desktop_run "${program}" "${song}"

# The main window, shown with its song loaded.
main_window=""
find_main() {
    main_window="$(windows_of_type "= _NET_WM_WINDOW_TYPE_NORMAL" | head -n 1)"
    [[ -n "${main_window}" ]] && title "${main_window}" _NET_WM_NAME | grep -q twinkle
}
if ! wait_until find_main; then
    echo "desktop test: the main window did not show the song" >&2
    cat "${tmp}/cvk.log" >&2
    exit 1
fi
xdotool windowactivate --sync "${main_window}" >/dev/null 2>&1
sleep 0.5
read -r x0 y0 w0 h0 <<<"$(geometry "${main_window}")"
normal="${x0} ${y0} ${w0} ${h0}"
menu_height=$((h0 - kClientHeight))
# A point of the window's design area (below the menu bar) on the screen.
at() { echo "$((x0 + $1)) $((y0 + menu_height + $2))"; }

# ---- titles: exactly the window's own, nothing appended by the toolkit

screenshot
keep_shot normal
check "main window title (_NET_WM_NAME)" "$(title "${main_window}" _NET_WM_NAME)" \
    "Cantivo Karaoke - twinkle.kar"
check "main window title (WM_NAME)" "$(title "${main_window}" WM_NAME)" \
    "Cantivo Karaoke - twinkle.kar"

# ---- hints: dark text on the hint colour wherever the pointer rests

hint_shown() { [[ -n "$(windows_of_type TOOLTIP)" ]]; }
no_hint_shown() { ! hint_shown; }
hint_case() {
    local name="$1" x="$2" y="$3" tip
    xdotool mousemove 1 "$((kScreenHeight - 1))"
    wait_until no_hint_shown
    xdotool mousemove "${x}" "${y}"
    sleep 0.2
    xdotool mousemove "$((x + 1))" "${y}"
    if ! wait_until hint_shown; then
        not_ok "hint of ${name}" "no hint showed"
        return
    fi
    tip="$(windows_of_type TOOLTIP | head -n 1)"
    read -r tx ty tw th <<<"$(geometry "${tip}")"
    local face darkest tries=0
    while true; do
        screenshot
        convert "${tmp}/shot.png" -crop "${tw}x${th}+${tx}+${ty}" +repage "${tmp}/tip.png"
        face="$(convert "${tmp}/tip.png" -alpha off -fill black +opaque "${kHintColour}" \
            -fill white -opaque "${kHintColour}" -format '%[fx:mean > 0.6]' info:)"
        if [[ "${face}" == 1 ]] || ((tries >= 20)); then
            break
        fi
        tries=$((tries + 1))
        sleep 0.25
    done
    darkest="$(convert "${tmp}/tip.png" -colorspace Gray -format '%[fx:minima < 0.25]' info:)"
    check "hint of ${name}: face of the hint colour" "${face}" 1
    check "hint of ${name}: dark text" "${darkest}" 1
}
# shellcheck disable=SC2046
hint_case "Play (left panel)" $(at 59 236)
# shellcheck disable=SC2046
hint_case "song mute (right panel)" $(at 257 143)
# shellcheck disable=SC2046
hint_case "Larger lyrics (lyric bar)" $(at 257 17)
xdotool mousemove 1 "$((kScreenHeight - 1))"

# ---- full screen: the window system's state, no frame, left by Esc, back in place

full_screen_case() {
    local name="$1" enter="$2" leave="$3"
    xdotool windowactivate --sync "${main_window}" >/dev/null 2>&1
    if [[ "${enter}" == click ]]; then
        # The lyric bar's full-screen button, at the bar's right end.
        # shellcheck disable=SC2046
        xdotool mousemove $(at $((230 + 433 - 12)) 17) click 1
    else
        xdotool key "${enter}"
    fi
    if ! wait_until in_state "${main_window}" _NET_WM_STATE_FULLSCREEN; then
        not_ok "${name}: full screen" "$(net_state "${main_window}")"
        return
    fi
    ok "${name}: full screen"
    wait_until has_geometry "${main_window}" "0 0 ${kScreenWidth} ${kScreenHeight}"
    check "${name}: covers the screen, no title bar" "$(geometry "${main_window}")" \
        "0 0 ${kScreenWidth} ${kScreenHeight}"
    check "${name}: lyrics fill the screen to its bottom" \
        "$(settled_pixel 8 $((kScreenHeight - 14)) "${kLyricColour}")" "${kLyricColour}"
    check "${name}: lyrics reach the screen's right and bottom edges" \
        "$(settled_pixel $((kScreenWidth - 4)) $((kScreenHeight - 4)) "${kLyricColour}")" "${kLyricColour}"
    keep_shot full
    xdotool mousemove 1 "$((kScreenHeight - 1))"
    xdotool key "${leave}"
    if ! wait_until not_in_state "${main_window}" _NET_WM_STATE_FULLSCREEN; then
        not_ok "${name}: ${leave} leaves full screen" "$(net_state "${main_window}")"
        return
    fi
    ok "${name}: ${leave} leaves full screen"
    wait_until has_geometry "${main_window}" "${normal}"
    check "${name}: back in the same place and size" "$(geometry "${main_window}")" "${normal}"
}
full_screen_case "Ctrl+F3, Esc" ctrl+F3 Escape
full_screen_case "full-screen button, Esc" click Escape
full_screen_case "Ctrl+F3, Ctrl+F1" ctrl+F3 ctrl+F1

# ---- the maximize box: offered, brings the full lyric layout, restores

allowed="$(xprop -id "${main_window}" _NET_WM_ALLOWED_ACTIONS)"
for action in _NET_WM_ACTION_MAXIMIZE_HORZ _NET_WM_ACTION_FULLSCREEN; do
    if grep -q "${action}" <<<"${allowed}"; then ok "window manager offers ${action}"; else
        not_ok "window manager offers ${action}" "${allowed}"
    fi
done
# Openbox maximizes and restores on a double click on the title bar.
toggle_maximized() {
    local x y w
    read -r x y w _ <<<"$(geometry "${main_window}")"
    xdotool mousemove "$((x + w / 2))" "$((y - 6))" click --repeat 2 --delay 80 1
    xdotool mousemove 1 "$((kScreenHeight - 1))"
}
xdotool windowactivate --sync "${main_window}" >/dev/null 2>&1
toggle_maximized
if wait_until in_state "${main_window}" _NET_WM_STATE_MAXIMIZED_VERT; then
    ok "title bar maximizes"
    read -r mx my mw mh <<<"$(geometry "${main_window}")"
    # Just below the lyric bar: the menu bar, if shown, would push the black bar down here.
    check "maximized: lyrics from the top, menus hidden" \
        "$(settled_pixel "$((mx + 100))" "$((my + 30))" "${kLyricColour}")" "${kLyricColour}"
    check "maximized: lyrics down to the bottom" \
        "$(settled_pixel "$((mx + 8))" "$((my + mh - 14))" "${kLyricColour}")" "${kLyricColour}"
    check "maximized: lyrics to the right and bottom edges" \
        "$(settled_pixel "$((mx + mw - 4))" "$((my + mh - 4))" "${kLyricColour}")" "${kLyricColour}"
    toggle_maximized
    if wait_until not_in_state "${main_window}" _NET_WM_STATE_MAXIMIZED_VERT; then
        ok "title bar restores"
        wait_until has_geometry "${main_window}" "${normal}"
        check "restored: same place and size" "$(geometry "${main_window}")" "${normal}"
        # shellcheck disable=SC2046
        check "restored: the left panel is back" \
            "$(settled_pixel $(at 5 $((kClientHeight - 2))) "${kPanelColour}")" "${kPanelColour}"
    else
        not_ok "title bar restores" "$(net_state "${main_window}")"
    fi
else
    not_ok "title bar maximizes" "$(net_state "${main_window}")"
fi

# ---- Space plays, pauses and resumes (the song sounds into the capture device)

more_notes_than() { (($(note_ons) > $1)); }
xdotool windowactivate --sync "${main_window}" >/dev/null 2>&1
before="$(note_ons)"
xdotool key space
if wait_until more_notes_than "${before}"; then
    ok "Space plays"
    xdotool key space
    sleep 0.3
    paused="$(note_ons)"
    sleep 1.5
    check "Space pauses" "$(note_ons)" "${paused}"
    xdotool key space
    if wait_until more_notes_than "${paused}"; then ok "Space resumes"; else
        not_ok "Space resumes" "no note after the third Space"
    fi
else
    not_ok "Space plays" "no note after Space"
fi

# ---- the titles of the other windows

xdotool windowactivate --sync "${main_window}" >/dev/null 2>&1
xdotool key F1
if wait_until window_titled Help >/dev/null; then
    help="$(window_titled Help)"
    check "help window title" "$(title "${help}" _NET_WM_NAME)" "Cantivo Karaoke Help"
    xdotool windowactivate --sync "${help}" >/dev/null 2>&1
    read -r hx hy hw _ <<<"$(geometry "${help}")"
    # The find box at the right end of the help window's bar.
    hint_case "Find (help window)" "$((hx + hw - 60))" "$((hy + 18))"
    xdotool windowactivate --sync "${help}" key Escape >/dev/null 2>&1
else
    not_ok "help window title" "F1 showed no help window"
fi

# A later start hands its file to the running window; a file that is no song brings a box.
echo "no song" >"${tmp}/broken.kar"
"${program}" "${tmp}/broken.kar" >>"${tmp}/cvk.log" 2>&1
if wait_until window_titled Message >/dev/null; then
    check "message box title" "$(title "$(window_titled Message)" _NET_WM_NAME)" "Message Box"
else
    not_ok "message box title" "no box showed"
fi

echo
echo "desktop: ${passed} passed, ${failed} failed"
((failed == 0))
