#!/usr/bin/env bash
# Installs every Debian package the build, the program and the tests need.
# Idempotent: only missing packages are installed, so a second run takes well under a second.
set -euo pipefail

packages=(
    # toolchain
    build-essential cmake ninja-build pkg-config ccache clang-format
    # translations: the core's through GNU gettext, the interface's through Qt's tools
    gettext qt6-l10n-tools
    # the Debian package and its checks
    debhelper dpkg-dev lintian devscripts desktop-file-utils appstream
    # libraries
    nlohmann-json3-dev libcurl4-openssl-dev libsecret-1-dev
    qt6-base-dev qcoro-qt6-dev qt6-declarative-dev qt6-svg-dev libxcb1-dev
    # the panel's QML modules (none pulls in another) and a font with Japanese glyphs
    qml6-module-qtqml qml6-module-qtqml-workerscript qml6-module-qtqml-models qml6-module-qtquick
    qml6-module-qtquick-window qml6-module-qtquick-controls qml6-module-qtquick-templates
    qml6-module-qtquick-layouts fonts-noto-cjk
    # tests and benchmarks: a loopback HTTP server, a private D-Bus session with a Secret Service
    googletest libgtest-dev libgmock-dev libbenchmark-dev libcpp-httplib-dev libssl-dev openssl
    dbus-daemon gnome-keyring libglib2.0-bin faketime
    # the shell completions, in the shells that load them
    bash-completion zsh fish
    # the accessibility tree, read as Orca reads it
    at-spi2-core python3-pyatspi
    # the tray under a real X server
    xvfb xauth x11-utils xdotool trayer
    # the tray on a real Wayland desktop: waybar on a headless sway
    sway waybar qt6-wayland xwayland
    # and in Xfce's panel
    xfce4-panel xfwm4 xfconf
    # and in GNOME Shell with the AppIndicator extension
    gnome-shell gnome-shell-extension-appindicator
    # fuzzing: clang's libFuzzer
    clang libclang-rt-dev
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null | grep -qx installed; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
    if command -v sudo >/dev/null 2>&1; then
        SUDO=sudo
    else
        echo "install-deps: missing packages (${missing[*]}) and not root; install them and run again" >&2
        exit 1
    fi
else
    SUDO=
fi

echo "install-deps: installing ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
