#!/usr/bin/env bash
# Builds the project on another Debian release and runs its core, store and end-to-end tests
# there, as a user of that release would: in a chroot made with debootstrap from Debian's own
# mirror, where the project's install-deps.sh installs what that release calls its packages.
# The chroot, its packages and its compiler cache stay under build/distro/CODENAME, so a second
# run only builds what changed.
#   check-distro.sh CODENAME     (e.g. trixie)
set -euo pipefail
source "$(dirname "$0")/env.sh"
cd "$ULMET_ROOT"
codename=${1:?usage: check-distro.sh CODENAME}
case "$codename" in *[!a-z]*) echo "check-distro: not a codename: $codename" >&2; exit 2 ;; esac
[ "$(id -u)" -eq 0 ] || { echo "check-distro: debootstrap and chroot need root" >&2; exit 1; }
# The mounts below live in a mount namespace of this run's own: whatever ends the run (even
# SIGKILL), they end with it, so nothing can later delete through a leftover /dev or /proc bind.
if [ -z "${ULMET_DISTRO_NAMESPACE:-}" ]; then
    ULMET_DISTRO_NAMESPACE=1 exec unshare --mount --propagation private -- \
        bash "$ULMET_ROOT/scripts/check-distro.sh" "$codename"
fi

cache="$ULMET_ROOT/build/distro/$codename"
root="$cache/root"
mirror=$(awk '/^URIs:/ {print $2; exit}' /etc/apt/sources.list.d/debian.sources 2>/dev/null || true)
mirror=${mirror:-http://deb.debian.org/debian}

if ! command -v debootstrap >/dev/null; then
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends debootstrap >/dev/null
fi
if [ ! -e "$root/.ulmet-ready" ]; then
    echo "== check-distro: making a $codename root from $mirror"
    rm -rf "$root"
    mkdir -p "$root"
    debootstrap --variant=minbase "$codename" "$root" "$mirror" >"$cache/debootstrap.log" 2>&1 ||
        { tail -20 "$cache/debootstrap.log" >&2; exit 1; }
    touch "$root/.ulmet-ready"
fi
cp /etc/resolv.conf "$root/etc/resolv.conf"

# The source is lent to the chroot read-only; the build and the compiler cache are the chroot's.
mounts=()
cleanup() {
    for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do umount -l "${mounts[i]}" 2>/dev/null || true; done
}
trap cleanup EXIT
bind() {
    mkdir -p "$2"
    mount --bind "$1" "$2"
    mounts+=("$2")
}
bind /proc "$root/proc"
bind /dev "$root/dev"
bind /dev/pts "$root/dev/pts"
bind "$ULMET_ROOT" "$root/src"
mount -o remount,bind,ro "$root/src"
mkdir -p "$root/tmp" && chmod 1777 "$root/tmp"

echo "== check-distro: building and testing on $codename"
start=$(date +%s)
chroot "$root" /usr/bin/env -i HOME=/root PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 \
    CCACHE_DIR=/var/cache/ulmet-ccache CCACHE_BASEDIR=/src CCACHE_NOHASHDIR=1 bash -euo pipefail -c '
    bash /src/scripts/install-deps.sh
    cmake -S /src -B /var/tmp/ulmet-build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DULMET_WERROR=OFF >/var/tmp/ulmet-configure.log
    cmake --build /var/tmp/ulmet-build --target ulmet core_tests app_tests e2e_tests
    cd /var/tmp/ulmet-build
    echo "== $(. /etc/os-release; echo "$PRETTY_NAME"), Qt $(qtpaths6 --qt-version 2>/dev/null || echo ?), $(c++ --version | head -1)"
    tests/core_tests --gtest_brief=1
    QT_QPA_PLATFORM=offscreen /src/tests/support/with-secret-service.sh --bus-only tests/app_tests --gtest_brief=1
    tests/e2e_tests --gtest_brief=1
'
echo "== check-distro: $codename passed in $(($(date +%s) - start)) s"
