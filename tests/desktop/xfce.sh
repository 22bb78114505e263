#!/usr/bin/env bash
# The tray on a real X11 desktop: xfce4-panel's status tray (StatusNotifierItem host and XEmbed
# tray in one) with xfwm4, on the private X server and bus of with-desktop.sh. Start orders both
# ways and at once, `xfce4-panel --restart` while ulmet runs, Activate → a panel of a sensible
# size, quit on SIGTERM.
#   with-desktop.sh xfce.sh ULMET_BINARY
set -euo pipefail
binary=$(readlink -f "$1")
for tool in xfce4-panel xfwm4 xdotool xwininfo gdbus; do
    command -v "$tool" >/dev/null || { echo "xfce.sh: $tool is missing" >&2; exit 77; }
done
xfconfd=$(ls /usr/lib/*/xfce4/xfconf/xfconfd 2>/dev/null | head -1)
[ -x "$xfconfd" ] || { echo "xfce.sh: xfconfd is missing" >&2; exit 77; }
export HOME=$XDG_RUNTIME_DIR/home
log=$XDG_RUNTIME_DIR/ulmet.log
source "$(dirname "$(readlink -f "$0")")/common.sh"

# One panel along the top: a separator that takes the room, then the status tray.
channel=$HOME/.config/xfce4/xfconf/xfce-perchannel-xml
mkdir -p "$channel"
cat >"$channel/xfce4-panel.xml" <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<channel name="xfce4-panel" version="1.0">
  <property name="configver" type="int" value="2"/>
  <property name="panels" type="array">
    <value type="int" value="1"/>
    <property name="panel-1" type="empty">
      <property name="position" type="string" value="p=6;x=0;y=0"/>
      <property name="length" type="uint" value="100"/>
      <property name="position-locked" type="bool" value="true"/>
      <property name="size" type="uint" value="28"/>
      <property name="plugin-ids" type="array">
        <value type="int" value="1"/>
        <value type="int" value="2"/>
      </property>
    </property>
  </property>
  <property name="plugins" type="empty">
    <property name="plugin-1" type="string" value="separator">
      <property name="expand" type="bool" value="true"/>
    </property>
    <property name="plugin-2" type="string" value="systray"/>
  </property>
</channel>
XML
trap 'kill $(jobs -p) 2>/dev/null; wait 2>/dev/null' EXIT
"$xfconfd" >/dev/null 2>&1 &
xfwm4 --compositor=off >/dev/null 2>&1 &
export QT_QPA_PLATFORM=xcb ULMET_API_ORIGIN=http://127.0.0.1:9 ULMET_CONSOLE_ORIGIN=http://127.0.0.1:9
export XDG_CURRENT_DESKTOP=XFCE # as startxfce4 sets it

panel_pid=
start_host() {
    xfce4-panel >>"$XDG_RUNTIME_DIR/panel.log" 2>&1 &
    panel_pid=$!
}
stop_host() {
    xfce4-panel --quit >/dev/null 2>&1 || kill "$panel_pid"
    wait "$panel_pid" 2>/dev/null || true
}
windows() { xdotool search --onlyvisible --name '^MeterKeeper$' 2>/dev/null || true; }

echo "panel first, then ulmet"
seed_readings
panel_first

echo "activate: the panel below the icon, at its own size"
activate
wait_for 10 has_window || fail "Activate showed nothing"
geometry=$(xwininfo -id "$(windows | head -1)")
sensible_size "$(sed -n 's/^ *Width: //p' <<<"$geometry")" "$(sed -n 's/^ *Height: //p' <<<"$geometry")"
if [ -n "${ULMET_DESKTOP_SCREENSHOT:-}" ]; then
    command -v import >/dev/null || fail "the screenshot needs import (apt-get install imagemagick)"
    sleep 1
    import -window root "$ULMET_DESKTOP_SCREENSHOT"
fi
activate
wait_for 10 no_window || fail "a second activation left the panel open"

echo "xfce4-panel --restart"
before=$(watcher_owner)
xfce4-panel --restart >/dev/null 2>&1
new_watcher() { [ -n "$(watcher_owner)" ] && [ "$(watcher_owner)" != "$before" ]; }
wait_for 15 new_watcher || fail "the panel did not come back"
wait_for 15 registered || fail "no item after the restart"
sleep 1
wait_for 10 no_window || fail "the window stayed beside the icon"
stop_app

echo "ulmet first, the panel a moment later"
ulmet_first
echo "both at once"
both_at_once
echo "ok"
