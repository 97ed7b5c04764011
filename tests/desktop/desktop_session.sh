# What every desktop test shares: its own X server (Xvfb) with a real window manager
# (openbox), a temporary home for settings and the single-instance socket, the program
# started there, and ways to read the screen (window types, titles, geometry, pixels).
# Sourced by the tests, never run. A missing tool fails the test: scripts/install-deps.sh
# installs them.
#
#   desktop_start "INI TEXT"    a desktop and a settings file holding INI TEXT
#   desktop_run PROGRAM ARGS... the program on it; its pid in ${cvk}, its output in cvk.log

readonly kScreenWidth=1024
readonly kScreenHeight=768

passed=0
failed=0
ok() { passed=$((passed + 1)); echo "ok - $1"; }
not_ok() { failed=$((failed + 1)); echo "not ok - $1: $2"; }
# check NAME ACTUAL EXPECTED
check() {
    if [[ "$2" == "$3" ]]; then ok "$1"; else not_ok "$1" "got '$2', expected '$3'"; fi
}

for tool in Xvfb openbox xdotool xprop xwininfo import convert; do
    if ! command -v "${tool}" >/dev/null 2>&1; then
        echo "desktop test: '${tool}' is missing; run scripts/install-deps.sh" >&2
        exit 1
    fi
done

tmp="$(mktemp -d "${TMPDIR:-/tmp}/cvk-desktop.XXXXXX")"
pids=()
cleanup() {
    local pid
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        pid="${pids[i]}"
        kill "${pid}" 2>/dev/null && wait "${pid}" 2>/dev/null
    done
    rm -rf "${tmp}"
}
trap cleanup EXIT

# Polls a command for up to 10 s: a watchdog, not a measure of speed.
wait_until() {
    local tries=0
    until "$@"; do
        tries=$((tries + 1))
        ((tries > 100)) && return 1
        sleep 0.1
    done
}

desktop_start() {
    mkdir -p "${tmp}/home" "${tmp}/run" "${tmp}/config/cantivo"
    chmod 700 "${tmp}/run"
    export HOME="${tmp}/home" XDG_RUNTIME_DIR="${tmp}/run" XDG_CONFIG_HOME="${tmp}/config"
    export XDG_CACHE_HOME="${tmp}/cache" XDG_DATA_HOME="${tmp}/data"
    export CVK_MIDI_CAPTURE="${tmp}/capture.csv"
    # No sound server of the user's is reached: the synthesizer is not used, and a voice
    # device fails at once instead.
    export PULSE_SERVER="unix:${tmp}/no-sound-server"
    unset QT_QPA_PLATFORM QT_QPA_PLATFORMTHEME QT_STYLE_OVERRIDE WAYLAND_DISPLAY
    printf '%s' "$1" >"${tmp}/config/cantivo/CANTIVO.INI"

    # A display number of the server's own choosing, so other X servers are left alone.
    Xvfb -displayfd 3 -screen 0 "${kScreenWidth}x${kScreenHeight}x24" -nolisten tcp \
        3>"${tmp}/display" >"${tmp}/xvfb.log" 2>&1 &
    pids+=($!)
    if ! wait_until test -s "${tmp}/display"; then
        echo "desktop test: Xvfb did not start" >&2
        cat "${tmp}/xvfb.log" >&2
        exit 1
    fi
    DISPLAY=":$(head -n 1 "${tmp}/display")"
    export DISPLAY

    openbox --sm-disable >"${tmp}/openbox.log" 2>&1 &
    pids+=($!)
    window_manager_up() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; }
    if ! wait_until window_manager_up; then
        echo "desktop test: openbox did not start" >&2
        cat "${tmp}/openbox.log" >&2
        exit 1
    fi
}

desktop_run() {
    "$@" >"${tmp}/cvk.log" 2>&1 &
    cvk=$!
    pids+=("${cvk}")
}

# ---- reading the screen

# The visible windows of the program whose _NET_WM_WINDOW_TYPE contains $1.
windows_of_type() {
    local window
    for window in $(xdotool search --onlyvisible --pid "${cvk}" 2>/dev/null); do
        if xprop -id "${window}" _NET_WM_WINDOW_TYPE 2>/dev/null | grep -q "$1"; then
            echo "${window}"
        fi
    done
}
# The client area on the screen: "X Y WIDTH HEIGHT".
geometry() {
    xwininfo -id "$1" | awk '/Absolute upper-left X/ {x = $NF} /Absolute upper-left Y/ {y = $NF}
        /^ *Width:/ {w = $NF} /^ *Height:/ {h = $NF} END {print x, y, w, h}'
}
has_geometry() { [[ "$(geometry "$1")" == "$2" ]]; }
net_state() { xprop -id "$1" _NET_WM_STATE 2>/dev/null; }
in_state() { net_state "$1" | grep -q "$2"; }
not_in_state() { ! in_state "$1" "$2"; }
title() { xprop -id "$1" -notype "$2" 2>/dev/null | sed -E 's/^[^=]*= "(.*)"$/\1/'; }
has_title() { [[ "$(title "$1" _NET_WM_NAME)" == "$2" ]]; }
screenshot() { import -window root "${tmp}/shot.png"; }
# Keeps the last screenshot as FOLDER/shot-$1.png when asked to.
keep_shot() {
    if [[ -n "${CVK_DESKTOP_SHOTS:-}" ]]; then
        cp "${tmp}/shot.png" "${CVK_DESKTOP_SHOTS}/shot-$1.png"
    fi
}
# "R,G,B" of one pixel of the last screenshot.
pixel() {
    convert "${tmp}/shot.png" -format \
        "%[fx:int(255*p{$1,$2}.r+0.5)],%[fx:int(255*p{$1,$2}.g+0.5)],%[fx:int(255*p{$1,$2}.b+0.5)]" \
        info:
}
# The pixel at X Y once it reads EXPECTED, or what it still reads after 5 s: the window
# may repaint a little after the window manager has resized it.
settled_pixel() {
    local value tries=0
    while true; do
        screenshot
        value="$(pixel "$1" "$2")"
        if [[ "${value}" == "$3" ]] || ((tries >= 20)); then
            break
        fi
        tries=$((tries + 1))
        sleep 0.25
    done
    echo "${value}"
}
# Note-ons the program has sent to the capture device so far.
note_ons() { awk -F, '$2 >= 144 && $2 <= 159 && $4 > 0' "${CVK_MIDI_CAPTURE}" 2>/dev/null | wc -l; }

# The first visible window of the program whose title contains $1.
window_titled() {
    local window
    for window in $(xdotool search --onlyvisible --pid "${cvk}" 2>/dev/null); do
        if title "${window}" _NET_WM_NAME | grep -q "$1"; then
            echo "${window}"
            return 0
        fi
    done
    return 1
}
