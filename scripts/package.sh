#!/usr/bin/env bash
# Builds the Debian package with the distribution's flags and checks it:
#   build/package/ulmet_VERSION_ARCH.deb
# Checks: lintian (no errors), the desktop entry and the AppStream metadata, hardening of the
# executable, every file the desktop entry names is in the package, every QML module the
# interface imports comes from a package the .deb depends on. With --install (root only, and only
# when ulmet is not installed yet) it also installs the package with apt, runs the installed
# `ulmet --check` from another directory and the application on a private X server for five
# seconds, and removes the package again.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

install_test=0
[ "${1:-}" = "--install" ] && install_test=1

bash scripts/install-deps.sh

version=$(dpkg-parsechangelog -l debian/changelog -S Version)
arch=$(dpkg-architecture -qDEB_HOST_ARCH)
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
out=$root/build/package
src=$out/ulmet-$version
deb=$out/ulmet_${version}_${arch}.deb

# A copy of the source tree (tracked and new, not ignored files), so the build never writes into
# the checkout.
rm -rf "$out"
mkdir -p "$src"
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    git ls-files -z --cached --others --exclude-standard | while IFS= read -r -d '' f; do
        [ -e "$f" ] && printf '%s\0' "$f"
    done | tar --null -T - -cf - | tar -xf - -C "$src"
else
    tar --exclude=./build -cf - . | tar -xf - -C "$src"
fi

echo "package: building ulmet $version"
# debhelper gives the build a home of its own; ccache keeps using the user's cache.
CCACHE_DIR=$(ccache -k cache_dir 2>/dev/null || echo "$HOME/.cache/ccache")
export CCACHE_DIR CCACHE_BASEDIR=$src CCACHE_NOHASHDIR=1
(cd "$src" && DEB_BUILD_OPTIONS="parallel=$(nproc)" dpkg-buildpackage -b -us -uc >"$out/build.log" 2>&1) || {
    tail -50 "$out/build.log"
    echo "package: dpkg-buildpackage failed (log: $out/build.log)" >&2
    exit 1
}
[ -f "$deb" ] || { echo "package: $deb was not made" >&2; exit 1; }

fail() {
    echo "package: $*" >&2
    exit 1
}

echo "package: lintian"
lintian --fail-on error --suppress-tags initial-upload-closes-no-bugs "$deb" || fail "lintian reports errors"

files=$out/root
dpkg-deb -x "$deb" "$files"
app_id=io.github.ulmet.MeterKeeper
desktop=$files/usr/share/applications/$app_id.desktop
metainfo=$files/usr/share/metainfo/$app_id.metainfo.xml

echo "package: desktop entry and AppStream metadata"
desktop-file-validate "$desktop" || fail "desktop-file-validate"
appstreamcli validate --no-net "$metainfo" || fail "appstreamcli validate"

exec_name=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")
[ -x "$files/usr/bin/$exec_name" ] || fail "Exec=$exec_name is not /usr/bin/$exec_name in the package"
icon=$(sed -n 's/^Icon=//p' "$desktop")
[ -f "$files/usr/share/icons/hicolor/scalable/apps/$icon.svg" ] || fail "no scalable icon $icon"
for size in 16 22 24 32 48 64 128 256; do
    [ -f "$files/usr/share/icons/hicolor/${size}x$size/apps/$icon.png" ] || fail "no ${size}px icon $icon"
done
grep -q "<launchable type=\"desktop-id\">$app_id.desktop</launchable>" "$metainfo" ||
    fail "the metadata does not launch $app_id.desktop"

echo "package: shell completions, D-Bus interface, JSON schema"
for f in usr/share/bash-completion/completions/ulmet usr/share/zsh/vendor-completions/_ulmet \
    usr/share/fish/vendor_completions.d/ulmet.fish usr/share/dbus-1/interfaces/io.github.ulmet.MeterKeeper1.xml \
    usr/share/doc/ulmet/json.md usr/share/doc/ulmet/readings.schema.json \
    usr/share/locale/en/LC_MESSAGES/ulmet.mo usr/share/man/ja/man1/ulmet.1.gz; do
    [ -f "$files/$f" ] || fail "the package has no /$f"
done

echo "package: hardening"
hardening-check --nocfprotection "$files/usr/bin/ulmet" "$files/usr/lib/$multiarch/ulmet/ulmet-full.so" \
    "$files/usr/lib/$multiarch/ulmet/ulmet-cli.so" || fail "hardening-check"
# The windows' module is built with the same flags, but none of its few libc calls has a size the
# compiler knows, so none can be fortified and the check's heuristic reports "only unprotected".
hardening-check --nocfprotection --nofortify "$files/usr/lib/$multiarch/ulmet/ulmet-scene.so" ||
    fail "hardening-check of the windows' module"

echo "package: QML modules"
# The modules the interface imports and, from their qmldir files, the modules those import or
# depend on (not the optional ones, except Fusion: the style Qt picks on a Linux desktop).
depends=$(dpkg-deb -f "$deb" Depends | tr ',|' '\n\n' | sed 's/(.*)//; s/[[:space:]]//g')
pending=$(sed -n 's/^import \([A-Za-z][A-Za-z.]*\).*/\1/p' src/ui/qml/*.qml | grep -vx MeterKeeper | sort -u)
seen=" "
while [ -n "$pending" ]; do
    next=""
    for module in $pending; do
        [[ "$seen" == *" $module "* ]] && continue
        seen="$seen$module "
        qmldir=/usr/lib/$multiarch/qt6/qml/${module//.//}/qmldir
        owner=$(dpkg -S "$qmldir" 2>/dev/null | cut -d: -f1) || fail "no installed package holds $qmldir"
        echo "$depends" | grep -qx "$owner" || fail "QML module $module comes from $owner, which the package does not depend on"
        next="$next $(sed -n 's/^\(default \)\{0,1\}\(import\|depends\) \([A-Za-z.]*\).*/\3/p; s/^optional import \(QtQuick.Controls.Fusion\) .*/\1/p' "$qmldir")"
    done
    pending=$next
done
echo "package: QML modules:$seen"

if [ "$install_test" = 1 ]; then
    if [ "$(id -u)" -ne 0 ]; then
        echo "package: not root, the install test is skipped"
    elif dpkg-query -W -f='${db:Status-Status}' ulmet 2>/dev/null | grep -qx installed; then
        echo "package: ulmet is already installed here, the install test is skipped"
    else
        echo "package: installing"
        DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$deb" >"$out/install.log" 2>&1 ||
            { cat "$out/install.log"; fail "apt-get install"; }
        home=$(mktemp -d)
        mkdir -p "$home/.claude"
        report=$(cd / && env -i HOME="$home" PATH=/usr/bin:/bin ulmet --check 2>&1) || true
        line=$(cd / && env -i HOME="$home" PATH=/usr/bin:/bin ulmet --statusline <"$root/tests/data/statusline-input.json") ||
            fail "the installed ulmet --statusline failed"
        line_en=$(cd / && env -i HOME="$home" PATH=/usr/bin:/bin LANG=en_US.UTF-8 ulmet --statusline \
            <"$root/tests/data/statusline-input.json") || fail "the installed ulmet --statusline failed in English"
        readings=$(cd / && env -i HOME="$home" PATH=/usr/bin:/bin ulmet --json) || fail "the installed ulmet --json failed"
        profiles=$(cd / && env -i HOME="$home" PATH=/usr/bin:/bin bash -c \
            'source /usr/share/bash-completion/completions/ulmet; COMP_WORDS=(ulmet --switch ""); COMP_CWORD=2; _ulmet; echo "${COMPREPLY[*]}"')
        # The application itself, its panel as a window on a private X server: still running
        # after five seconds and no QML module missing.
        gui=0
        (cd / && env -i HOME="$home" PATH=/usr/bin:/bin ULMET_NO_TRAY=1 timeout 5 \
            xvfb-run -a ulmet >"$out/gui.log" 2>&1) || gui=$?
        DEBIAN_FRONTEND=noninteractive apt-get purge -y -q ulmet >>"$out/install.log" 2>&1
        rm -rf "$home"
        echo "$report" | grep -q "^config: $home/.local/share/ulmet/config.json" ||
            { echo "$report"; fail "the installed ulmet --check did not report"; }
        echo "$report" | grep -q "^profiles: 1" || { echo "$report"; fail "unexpected --check report"; }
        [ "$line" = "5時間 37% 残0分 · 週·全 26% 残0分" ] || fail "unexpected status line: $line"
        [ "$line_en" = "5 hours 37% 0m left · Week·all 26% 0m left" ] ||
            fail "unexpected status line in English (the installed catalogue): $line_en"
        [[ "$readings" == '{"version":1,"program":"ulmet '*'"profiles":[{'*'"name":"main"'* ]] ||
            fail "unexpected readings from the installed ulmet --json: $readings"
        [ "$profiles" = main ] || fail "the installed bash completion offered '$profiles' for --switch"
        [ "$gui" = 124 ] || { cat "$out/gui.log"; fail "the installed application ended early ($gui)"; }
        if grep -E "is not installed|is not a type|qrc:.*Error|Cannot assign" "$out/gui.log"; then
            fail "the installed application could not load its interface"
        fi
    fi
fi

echo "package: $deb"
