# SPDX-License-Identifier: GPL-3.0-or-later
# shellcheck shell=bash disable=SC2154 # work and pids are the caller's
# A small X desktop for the tray test and the interface benchmark, sourced by both: Xvfb, openbox and
# trayer as tray host, a private HOME, and the helpers that find Mivra's windows.
#   start_desktop [WxH]    a display of its own; sets DISPLAY, HOME and the XDG folders under $work
#                          (the screen is 1280x800 unless WxH says otherwise;
#                          XDESK_TRAY=none leaves the tray out)
# The caller sets `work` (a temporary folder) and `pids` (an array) and kills `pids` on exit.

wait_for() { # <tries of 0.1 s on a quiet machine> <command…>
    # Each wait is for an event; a busy machine (a build beside the tests) gets ten times as long
    # before the wait counts as a failure.
    local tries=$(($1 * 10)); shift
    for _ in $(seq "$tries"); do "$@" >/dev/null 2>&1 && return 0; sleep 0.1; done
    return 1
}
# Geometry "x y w h" of a window, in root coordinates.
geometry() {
    xwininfo -id "$1" | awk '/Absolute upper-left X/ {x=$NF} /Absolute upper-left Y/ {y=$NF}
                             /^ *Width/ {w=$NF} /^ *Height/ {h=$NF} END {print x, y, w, h}'
}
# The tray icon: mivra's window inside trayer's panel.
icon() {
    local id
    id=$(xwininfo -root -tree | awk '/"panel": \("panel" "trayer"\)/ {inpanel=1; next}
                                     inpanel && /\("mivra" "mivra"\)/ {print $1; exit}')
    [ -n "$id" ] && echo "$id"
}
# The popover: mivra's visible window 340 wide.
popover() {
    local id w
    for id in $(xdotool search --onlyvisible --class mivra 2>/dev/null); do
        read -r _ _ w _ < <(geometry "$id")
        [ "$w" = 340 ] && { echo "$id"; return 0; }
    done
    return 1
}

# Starts a tray host in the background (its process in host_pid) and waits for READY, a command.
# A host that ends before READY holds is started again, twice at most, after what it said is
# printed: under load the status-notifier host may ask its own watcher before it serves its object,
# and ends. One that hangs fails the start.
start_host() { # LOG READY COMMAND…
    local log=$1 ready=$2 try
    shift 2
    for try in 1 2 3; do
        "$@" >"$log" 2>&1 &
        host_pid=$!
        pids+=($!)
        wait_for 50 ready_or_ended "$ready" && kill -0 "$host_pid" 2>/dev/null && return 0
        kill -0 "$host_pid" 2>/dev/null && return 1
        echo "${1##*/} ended before it was ready (start $try):"
        cat "$log"
    done
    return 1
}
ready_or_ended() { "$1" || ! kill -0 "$host_pid" 2>/dev/null; }

# trayer, the XEmbed tray host, at the top right (start_desktop runs it unless XDESK_TRAY=none).
# Once, on a loaded machine, trayer drew no panel; why is not known.
start_trayer() {
    if start_host "$work/trayer.log" panel \
        trayer --edge top --align right --widthtype request --height 24 --SetDockType true; then
        # shellcheck disable=SC2034 # for a caller that takes the tray away
        trayer_pid=$host_pid
        return 0
    fi
    echo "trayer did not start:"
    cat "$work/trayer.log"
    return 1
}
panel() { xwininfo -root -tree | grep -q '"panel": ("panel" "trayer")'; }

start_desktop() {
    # The X server takes the first free display itself and says which: desktops started at once
    # (tests run in parallel, two runs on one machine) never share one.
    Xvfb -displayfd 3 -screen 0 "${1:-1280x800}x24" -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
    pids+=($!)
    wait_for 50 test -s "$work/display" || { echo "Xvfb did not start"; cat "$work/xvfb.log"; return 1; }
    DISPLAY=:$(head -1 "$work/display")
    export DISPLAY
    wait_for 50 xdpyinfo || { echo "Xvfb did not answer"; cat "$work/xvfb.log"; return 1; }
    openbox >"$work/openbox.log" 2>&1 &
    pids+=($!)
    wait_for 50 sh -c 'xprop -root _NET_SUPPORTING_WM_CHECK | grep -q window'
    [ "${XDESK_TRAY:-trayer}" = none ] || start_trayer || return 1
    export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config XDG_DATA_HOME=$work/home/.local/share
    export XDG_CACHE_HOME=$work/home/.cache XDG_RUNTIME_DIR=$work/run
    mkdir -p "$HOME" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
    unset QT_QPA_PLATFORM QT_QUICK_BACKEND WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS
}
