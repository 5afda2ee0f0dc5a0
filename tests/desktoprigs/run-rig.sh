#!/usr/bin/env bash
# run-rig.sh RIG TEST [ARGS...]: starts a real desktop on a private display and runs TEST in it
# with VELLINE_RIG=RIG. The rigs:
#   openbox  Xvfb, openbox, xfce4-panel at the top (its tray, its clock); no compositor
#   picom    the same with picom drawing shadows (-c) on every window
#   sway     sway on its headless backend with XWayland and swaybar at the top, run as an
#            unprivileged user (sway refuses root); screenshots through grim
# Where a part is not installed, TEST runs with VELLINE_RIG_MISSING naming it and skips.
set -uo pipefail
rig=$1
shift
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d /tmp/velline-rig.XXXXXX)
chmod 755 "$work"
pids=()
cleanup() {
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null; done
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

missing() {
    for tool in "$@"; do
        command -v "$tool" >/dev/null 2>&1 || { echo "$tool"; return; }
    done
}

export VELLINE_RIG=$rig VELLINE_RIG_DIR=$work
case $rig in
openbox | picom)
    need=(Xvfb openbox xfce4-panel dbus-run-session xdotool)
    [ "$rig" = picom ] && need+=(picom)
    gone=$(missing "${need[@]}")
    if [ -n "$gone" ]; then VELLINE_RIG_MISSING=$gone exec "$@"; fi
    # A free display number; Xvfb reports the one it took.
    Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
    pids+=($!)
    for _ in $(seq 200); do [ -s "$work/display" ] && break; sleep 0.1; done
    [ -s "$work/display" ] || { echo "Xvfb did not start"; exit 1; }
    export DISPLAY=:$(cat "$work/display")
    mkdir -p "$work/config/xfce4/xfconf/xfce-perchannel-xml"
    cp "$here/xfce4-panel.xml" "$work/config/xfce4/xfconf/xfce-perchannel-xml/"
    # The panel's settings daemon is started by the bus: it reads the same folder.
    export XDG_CONFIG_HOME=$work/config
    cat > "$work/session.sh" <<SESSION
openbox --sm-disable >"$work/openbox.log" 2>&1 &
for _ in \$(seq 100); do xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q window && break; sleep 0.1; done
# On a loaded machine the panel now and then comes up without reserving its strip (its
# settings daemon answered late): start it again, up to three times in all.
for _ in 1 2 3; do
    xfce4-panel --disable-wm-check >>"$work/panel.log" 2>&1 &
    panel=\$!
    for _ in \$(seq 150); do xprop -root _NET_WORKAREA 2>/dev/null | grep -q "= 0, [1-9]" && break 2; sleep 0.1; done
    kill \$panel 2>/dev/null
    wait \$panel 2>/dev/null
done
if [ "$rig" = picom ]; then
    picom --config /dev/null --shadow --backend xrender >"$work/picom.log" 2>&1 &
fi
"\$@"
status=\$?
kill \$(jobs -p) 2>/dev/null
exit \$status
SESSION
    dbus-run-session -- bash "$work/session.sh" "$@"
    exit $?
    ;;
sway)
    gone=$(missing sway swaymsg grim Xwayland runuser)
    if [ -n "$gone" ]; then VELLINE_RIG_MISSING=$gone exec "$@"; fi
    user=velline-rig
    if ! id "$user" >/dev/null 2>&1; then
        if [ "$(id -u)" -eq 0 ]; then
            useradd --system --no-create-home --shell /usr/sbin/nologin "$user" || exit 1
        else
            user=$(id -un) # not root: sway runs as we are
        fi
    fi
    as_user=()
    [ "$(id -un)" != "$user" ] && as_user=(runuser -u "$user" --)
    runtime=$work/runtime
    mkdir -p "$runtime"
    chown "$user" "$runtime" "$work"
    chmod 700 "$runtime"
    cat > "$work/sway.config" <<CONFIG
output HEADLESS-1 resolution 1920x1080 position 0 0
xwayland enable
default_border normal
bar {
    position top
    status_command while echo rig bar; do sleep 3600; done
}
exec sh -c 'echo "\$DISPLAY" > $work/display'
CONFIG
    env -i PATH="$PATH" HOME="$work" XDG_RUNTIME_DIR="$runtime" WLR_BACKENDS=headless \
        WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman WLR_HEADLESS_OUTPUTS=1 \
        "${as_user[@]}" sway --config "$work/sway.config" >"$work/sway.log" 2>&1 &
    pids+=($!)
    for _ in $(seq 200); do [ -s "$work/display" ] && break; sleep 0.1; done
    [ -s "$work/display" ] || { echo "sway did not start:"; cat "$work/sway.log"; exit 1; }
    socket=$(ls "$runtime"/sway-ipc.*.sock 2>/dev/null | head -1)
    wayland=$(cd "$runtime" && ls wayland-* 2>/dev/null | grep -v lock | head -1)
    # The test runs as the same user as sway: it talks to its IPC socket and to grim.
    env -i PATH="$PATH" HOME="$work" XDG_RUNTIME_DIR="$runtime" SWAYSOCK="$socket" \
        WAYLAND_DISPLAY="$wayland" DISPLAY="$(cat "$work/display")" VELLINE_RIG=sway \
        VELLINE_RIG_DIR="$work" VELLINE_RIG_SHOTS="${VELLINE_RIG_SHOTS:-}" QT_QPA_PLATFORM=xcb QT_QUICK_BACKEND=software \
        XDG_CONFIG_HOME="$work/config" TZ="${TZ:-UTC}" ASAN_OPTIONS="${ASAN_OPTIONS:-}" \
        UBSAN_OPTIONS="${UBSAN_OPTIONS:-}" "${as_user[@]}" "$@"
    exit $?
    ;;
*)
    echo "unknown rig: $rig"
    exit 2
    ;;
esac
