#!/usr/bin/env bash
# The audio configuration wizard as a new user meets it: it comes up by itself at the
# first start, over the main window, under a real window manager, and every page is
# reached with the keyboard alone; the scale of the MIDI page plays on the MIDI device
# (the capture device here) and stops with every note ended.
#
#   wizard_test.sh PROGRAM SONG
#   CVK_DESKTOP_SHOTS=FOLDER wizard_test.sh ...   also keeps a screenshot of each page
set -uo pipefail

program="${1:?program}"
song_source="${2:?song}"

source "$(dirname "${BASH_SOURCE[0]}")/desktop_session.sh"

readonly kCaption="Audio Configuration Wizard"

# A first start: the settings file names the MIDI device and nothing else.
desktop_start $'[Selected midi device]\nDevice name=Capture\n'
song="${tmp}/twinkle.kar"
cp "${song_source}" "${song}"
desktop_run "${program}" "${song}"

wizard=""
find_wizard() { wizard="$(window_titled "^${kCaption}")"; }
if ! wait_until find_wizard; then
    not_ok "the wizard comes up at the first start" "no window titled '${kCaption}'"
    cat "${tmp}/cvk.log" >&2
    echo "desktop: ${passed} passed, ${failed} failed"
    exit 1
fi
ok "the wizard comes up at the first start"
check "welcome caption" "$(title "${wizard}" _NET_WM_NAME)" "${kCaption}"
if xprop -id "${wizard}" _NET_WM_STATE | grep -q _NET_WM_STATE_MODAL; then
    ok "the wizard is modal over the main window"
else
    not_ok "the wizard is modal over the main window" "$(net_state "${wizard}")"
fi
xdotool windowactivate --sync "${wizard}" >/dev/null 2>&1
sleep 0.3
screenshot
keep_shot wizard-welcome

# KEYS: the keys to press; then the caption the wizard must show.
page_case() {
    local keys="$1" expected="$2" name="$3"
    # shellcheck disable=SC2086
    xdotool key --window "${wizard}" --clearmodifiers ${keys}
    if wait_until has_title "${wizard}" "${expected}"; then
        ok "${name}: ${expected}"
    else
        not_ok "${name}" "caption '$(title "${wizard}" _NET_WM_NAME)', expected '${expected}'"
    fi
    sleep 0.3
    screenshot
    keep_shot "wizard-$(tr ' ' '-' <<<"${name}")"
}

note_offs() { awk -F, '($2 >= 128 && $2 <= 143) || ($2 >= 144 && $2 <= 159 && $4 == 0)' \
    "${CVK_MIDI_CAPTURE}" 2>/dev/null | wc -l; }
at_least_notes() { (($(note_ons) >= $1)); }

page_case Return "${kCaption} - Step 1 of 5" "Enter on the welcome page"
page_case alt+n "${kCaption} - Step 2 of 5" "Alt+N"

# The MIDI page's Test: a scale on the capture device, one note each half second.
before="$(note_ons)"
xdotool key --window "${wizard}" --clearmodifiers alt+t
if wait_until at_least_notes $((before + 2)); then
    ok "Test plays the scale on the chosen device"
else
    not_ok "Test plays the scale on the chosen device" "$(note_ons) note-ons"
fi
# The Test button has taken the focus, showing Stop: Space presses it.
xdotool key --window "${wizard}" --clearmodifiers space
sleep 1.2
check "Stop keeps the page" "$(title "${wizard}" _NET_WM_NAME)" "${kCaption} - Step 2 of 5"
check "Stop ends every note of the scale" "$(note_offs)" "$(note_ons)"
stopped="$(note_ons)"
sleep 1.2
check "nothing plays after Stop" "$(note_ons)" "${stopped}"

page_case alt+n "${kCaption} - Step 3 of 5" "Alt+N to the microphone"
page_case alt+n "${kCaption} - Step 4 of 5" "Alt+N to the voice"
page_case alt+n "${kCaption} - Step 5 of 5" "Alt+N to the balance"
page_case alt+n "${kCaption} - Complete" "Alt+N to the end"
page_case alt+b "${kCaption} - Step 5 of 5" "Alt+B"
page_case alt+n "${kCaption} - Complete" "Alt+N again"

xdotool key --window "${wizard}" --clearmodifiers Escape 2>/dev/null
wizard_gone() { ! window_titled "^${kCaption}" >/dev/null; }
if wait_until wizard_gone; then ok "Esc closes the wizard"; else not_ok "Esc closes the wizard" "still open"; fi
check "the first start is over" \
    "$(grep -c '^RunConfigWizard=0' "${tmp}/config/cantivo/CANTIVO.INI")" 1

# File > Audio Configuration Wizard brings it back.
main_window="$(windows_of_type "= _NET_WM_WINDOW_TYPE_NORMAL" | head -n 1)"
xdotool windowactivate --sync "${main_window}" >/dev/null 2>&1
xdotool key --clearmodifiers alt+f
sleep 0.3
xdotool key --clearmodifiers w
if wait_until find_wizard; then
    ok "File > Audio Configuration Wizard opens it"
    check "it opens on the welcome page" "$(title "${wizard}" _NET_WM_NAME)" "${kCaption}"
    xdotool key --window "${wizard}" --clearmodifiers Escape 2>/dev/null
else
    not_ok "File > Audio Configuration Wizard opens it" "no wizard"
fi

echo
echo "desktop: ${passed} passed, ${failed} failed"
((failed == 0))
