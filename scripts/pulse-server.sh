# Private PulseAudio server for the integration tests and the audio benchmarks.
#
#   source scripts/pulse-server.sh
#   pulse_start        # exports PULSE_SERVER, XDG_RUNTIME_DIR, CVK_PULSE_PID, CVK_PULSE_DIR
#   ...                # clients connect to the private server
#   pulse_restart      # kills the server and starts it again at the same address
#   pulse_stop
#
# Two null sinks stand in for the hardware: "speakers" (default sink; record its monitor
# to hear what the program played) and "microphone" (play into it, and the default source
# records it). The default source, "mic" described "Microphone", is the microphone sink's
# monitor remapped into a source of its own, not a monitor: a microphone the way a desktop
# has one, to the program's mixer, still fed by the "microphone" sink. Nothing is loaded from the system's
# configuration, so tests hear exactly our streams and nothing else. Safe under
# `set -euo pipefail`.

pulse_start() {
    if [[ -n "${CVK_PULSE_PID:-}" ]] && kill -0 "${CVK_PULSE_PID}" 2>/dev/null; then
        return 0
    fi
    if ! command -v pulseaudio >/dev/null 2>&1 || ! command -v pactl >/dev/null 2>&1; then
        echo "pulse_start: pulseaudio and pactl are needed" >&2
        return 1
    fi

    local dir
    dir="$(mktemp -d "${TMPDIR:-/tmp}/cvk-pulse.XXXXXX")" || return 1
    chmod 700 "${dir}"
    mkdir -p "${dir}/state" "${dir}/home"

    # An anonymous socket in a private folder: no cookie to share with the clients.
    cat >"${dir}/server.pa" <<PA
load-module module-null-sink sink_name=speakers rate=44100 norewinds=1 sink_properties=device.description=Speakers
load-module module-null-sink sink_name=microphone rate=44100 norewinds=1 sink_properties=device.description=Microphone
load-module module-remap-source source_name=mic master=microphone.monitor source_properties=device.description=Microphone
load-module module-native-protocol-unix socket=${dir}/native auth-anonymous=1
set-default-sink speakers
set-default-source mic
PA

    export CVK_PULSE_SAVED_XDG="${XDG_RUNTIME_DIR:-}"
    export XDG_RUNTIME_DIR="${dir}"
    export CVK_PULSE_DIR="${dir}"
    pulse_launch_ "${dir}"
}

# Starts the daemon in its folder and waits until it answers (exports CVK_PULSE_PID and
# PULSE_SERVER).
pulse_launch_() {
    local dir="$1"
    # Root runs it as a per-user daemon confined to the private folder (no --system, no
    # system-wide configuration, never exits on its own).
    HOME="${dir}/home" PULSE_STATE_PATH="${dir}/state" PULSE_RUNTIME_PATH="${dir}" \
        pulseaudio -n -F "${dir}/server.pa" --daemonize=no --exit-idle-time=-1 \
        --disallow-exit --disallow-module-loading=no --use-pid-file=no --system=no \
        --log-target="file:${dir}/pulse.log" --log-level=notice \
        </dev/null >>"${dir}/pulse.log" 2>&1 &
    export CVK_PULSE_PID=$!
    export PULSE_SERVER="unix:${dir}/native"

    local tries=0
    until pactl info >/dev/null 2>&1; do
        tries=$((tries + 1))
        if ! kill -0 "${CVK_PULSE_PID}" 2>/dev/null || ((tries > 100)); then
            echo "pulse_start: the PulseAudio server did not come up; its log:" >&2
            cat "${dir}/pulse.log" >&2 || true
            pulse_stop
            return 1
        fi
        sleep 0.1
    done
    return 0
}

# As a server that crashed and was started again: its clients' connections fail, and new
# ones reach the new server at the same address. Needs CVK_PULSE_DIR (and CVK_PULSE_PID
# while it runs).
pulse_restart() {
    local dir="${CVK_PULSE_DIR:-}"
    if [[ -z "${dir}" || ! -f "${dir}/server.pa" ]]; then
        echo "pulse_restart: no server of ours to restart" >&2
        return 1
    fi
    if [[ -n "${CVK_PULSE_PID:-}" ]]; then
        kill -9 "${CVK_PULSE_PID}" 2>/dev/null || true
    fi
    local tries=0
    while PULSE_SERVER="unix:${dir}/native" pactl info >/dev/null 2>&1 && ((tries < 50)); do
        sleep 0.1
        tries=$((tries + 1))
    done
    rm -f "${dir}/native"
    pulse_launch_ "${dir}"
}

pulse_stop() {
    local pid="${CVK_PULSE_PID:-}"
    local dir="${CVK_PULSE_DIR:-}"
    if [[ -n "${pid}" ]]; then
        kill "${pid}" 2>/dev/null || true
        local tries=0
        while kill -0 "${pid}" 2>/dev/null && ((tries < 50)); do
            sleep 0.1
            tries=$((tries + 1))
        done
        if kill -0 "${pid}" 2>/dev/null; then
            kill -9 "${pid}" 2>/dev/null || true
        fi
        wait "${pid}" 2>/dev/null || true
    fi
    if [[ -n "${dir}" && -d "${dir}" && "${dir}" == */cvk-pulse.* ]]; then
        rm -rf "${dir}"
    fi
    if [[ -n "${CVK_PULSE_SAVED_XDG:-}" ]]; then
        export XDG_RUNTIME_DIR="${CVK_PULSE_SAVED_XDG}"
    elif [[ "${XDG_RUNTIME_DIR:-}" == "${dir}" ]]; then
        unset XDG_RUNTIME_DIR
    fi
    unset CVK_PULSE_PID CVK_PULSE_DIR CVK_PULSE_SAVED_XDG PULSE_SERVER
    return 0
}
