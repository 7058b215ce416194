#!/usr/bin/env bash
# Runs the Windows test programs of the win32 preset, the build that ships, under
# 32-bit Wine, in a Debian 12 root of their own with a Firebird 3 server beside them:
#
#   scripts/wine32.sh test [BUILD_DIR]   builds the win32 test programs, Varnel.fll,
#                                        Varnel.dll and varnel-host.exe into BUILD_DIR
#                                        (default build/win32), makes the root when it
#                                        is missing, and runs scripts/run-wine-tests.sh
#                                        in it against that build
#   scripts/wine32.sh root               makes the root (and, for the VM, its kernel and
#                                        disk image) without running anything
#   scripts/wine32.sh clean              removes VARNEL_WINE32_DIR
#
# Inside, the root's Firebird 3 runs at its default security settings (Srp, wire
# encryption required; scripts/firebird-test-server.sh fb3default) on the root's own
# loopback, and the checks fire their events there with the root's isql-fb.
#
# Where: when this machine's kernel runs 32-bit x86 programs, the root is entered
# with chroot in new mount, PID, network (loopback only), UTS and IPC namespaces, on
# a throw-away overlay: seconds. Otherwise a QEMU virtual machine boots the root's
# own Debian kernel from a disk image of the root (a throw-away snapshot), with no
# network device; the build and the scripts come in on a second, read-only disk and
# the output goes out on the second serial port: about 80 s a run under QEMU's
# software emulation. When neither can run, `test` says why and exits 77 (skipped).
#
# The root: debootstrap bookworm (minbase, amd64) from the mirror of this machine's
# apt sources, the i386 architecture added inside the root only, and wine,
# wine32:i386, firebird3.0-server, firebird3.0-utils and iproute2 (about 1.1 GB, made
# in about 40 s); for the VM also linux-image-amd64 and the ext4 image (2 GB more,
# under a minute). Made once and kept; remade when the package list changes. Only
# its making reaches a network (Debian's archive); nothing that runs inside it does.
#
# Environment: VARNEL_WINE32_DIR (default /var/tmp/varnel-wine32: the root, the
# image, the runs), VARNEL_WINE32_VIA (auto, chroot or vm; auto takes chroot when
# this kernel runs 32-bit programs), VARNEL_WINE32_TIMEOUT (seconds for a run,
# default 1800), VARNEL_WINE32_MEM (the VM's MiB, default 2048).
#
# What it changes on this machine: installs with apt the i686 cross compiler, cmake,
# ninja-build, debootstrap and e2fsprogs, and for the VM qemu-system-x86; this
# machine's apt sources and architectures stay as they are. Everything else is under
# VARNEL_WINE32_DIR and BUILD_DIR. Needs root.
set -uo pipefail

project=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
dir=${VARNEL_WINE32_DIR:-/var/tmp/varnel-wine32}
root=$dir/root
image=$dir/root.img
suite=bookworm
packages=(wine wine32:i386 firebird3.0-server firebird3.0-utils iproute2)
vm_packages=(linux-image-amd64)
timeout=${VARNEL_WINE32_TIMEOUT:-1800}

say() { printf 'wine32: %s\n' "$*" >&2; }
die() {
    say "$*"
    exit 1
}
skip() {
    say "skipped: $*"
    exit 77
}
now() { date +%s.%N; }
since() { echo "$(now) $1" | awk '{ printf "%.1f s", $1 - $2 }'; }

# Does this kernel run 32-bit x86 programs? A 96-byte static i386 ELF program that
# exits with 42 through int 0x80.
ia32_works() {
    local probe status=0
    probe=$(mktemp)
    printf '\x7fELF\x01\x01\x01\0\0\0\0\0\0\0\0\0\x02\0\x03\0\x01\0\0\0\x54\x80\x04\x08\x34\0\0\0\0\0\0\0\0\0\0\0\x34\0\x20\0\x01\0\0\0\0\0\0\0\x01\0\0\0\0\0\0\0\0\x80\x04\x08\0\x80\x04\x08\x60\0\0\0\x60\0\0\0\x05\0\0\0\0\x10\0\0\xb8\x01\0\0\0\xbb\x2a\0\0\0\xcd\x80' >"$probe"
    chmod 755 "$probe"
    "$probe" 2>/dev/null || status=$?
    rm -f "$probe"
    [ "$status" -eq 42 ]
}

# Runs the bash script $1 (its arguments after it) in new mount and PID namespaces
# with the root's /proc mounted, so that nothing it starts or mounts outlives it.
in_root_namespaces() {
    local script=$1
    shift
    unshare --mount --pid --fork --kill-child --propagation private bash -euo pipefail -c '
        R=$1
        shift
        mount -t proc proc "$R/proc"
        '"$script" _ "$root" "$@"
}

# Installs PACKAGE... in the root with apt-get, over this machine's network.
root_install() {
    cp -L /etc/resolv.conf "$root/etc/resolv.conf"
    in_root_namespaces '
        chroot "$R" env DEBIAN_FRONTEND=noninteractive apt-get update -q
        chroot "$R" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q \
            --no-install-recommends "$@"
        chroot "$R" apt-get clean' "$@" >>"$dir/root.log" 2>&1
    local status=$?
    # From here on the root resolves no name through a network.
    printf 'nameserver 127.0.0.1\n' >"$root/etc/resolv.conf"
    return "$status"
}

# The root with the packages, made once; a marker file holds the package list.
make_root() {
    local marker=$root/.varnel-wine32 start mirror
    [ -e "$marker" ] && [ "$(cat "$marker")" = "${packages[*]}" ] && return 0
    start=$(now)
    rm -rf "$root" "$image"
    mkdir -p "$root"
    : >"$dir/root.log"
    mirror=$("$project/scripts/debian-mirror.sh" "$suite")
    mirror=${mirror:-http://deb.debian.org/debian}
    say "making the root $root from $mirror (a few minutes; log $dir/root.log)"
    debootstrap --variant=minbase --arch=amd64 "$suite" "$root" "$mirror" >>"$dir/root.log" 2>&1 ||
        die "debootstrap failed; see $dir/root.log"
    # The packages' scripts may not start services (101: not allowed).
    printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
    chmod 755 "$root/usr/sbin/policy-rc.d"
    echo "deb $mirror $suite main" >"$root/etc/apt/sources.list"
    printf '127.0.0.1 localhost\n::1 localhost ip6-localhost ip6-loopback\n' >"$root/etc/hosts"
    chroot "$root" dpkg --add-architecture i386
    root_install "${packages[@]}" || die "apt-get in the root failed; see $dir/root.log"
    echo "${packages[*]}" >"$marker"
    say "made the root in $(since "$start"): $(du -sxh "$root" | cut -f1)"
}

kernel() { find "$root/boot" -name 'vmlinuz-*' | sort -V | tail -n 1; }
initrd() { find "$root/boot" -name 'initrd.img-*' | sort -V | tail -n 1; }

# What the VM needs besides the root: its kernel, its first process and the image.
make_vm_root() {
    local start
    if [ ! -e "$root/.varnel-wine32-vm" ]; then
        start=$(now)
        say "installing ${vm_packages[*]} in the root for the VM"
        root_install "${vm_packages[@]}" || die "apt-get in the root failed; see $dir/root.log"
        touch "$root/.varnel-wine32-vm"
        say "the root's kernel in $(since "$start")"
    fi
    [ -n "$(kernel)" ] && [ -n "$(initrd)" ] || die "the root has no kernel or initrd in /boot"
    # The VM's first process: mounts what a system needs, runs /mnt/varnel/guest.sh
    # with its output on the second serial port, and powers off.
    local init=$dir/init.new
    cat >"$init" <<'EOF'
#!/bin/bash
# The first process of the wine32 VM (scripts/wine32.sh).
export PATH=/usr/sbin:/usr/bin:/sbin:/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mkdir -p /dev/shm /mnt/varnel
mount -t tmpfs -o mode=1777 tmpfs /dev/shm
mount -t tmpfs -o mode=1777 tmpfs /tmp
mount -t tmpfs -o mode=755 tmpfs /run
mount -o remount,rw /
exec >/dev/ttyS1 2>&1
stty -F /dev/ttyS1 raw -echo
echo "wine32: the VM is up"
hostname wine32
ip link set lo up
mount -o ro /dev/vdb /mnt/varnel
(cd /mnt/varnel && bash guest.sh)
echo "wine32: exit status $?"
sync
echo o >/proc/sysrq-trigger
sleep 30
EOF
    if ! cmp -s "$init" "$root/sbin/varnel-wine32-init"; then
        install -m 755 "$init" "$root/sbin/varnel-wine32-init"
    fi
    rm -f "$init"
    # The image, when missing or older than something in the root; room for the
    # Wine prefix and the databases that a run makes (sparse: free until used).
    if [ -e "$image" ] && [ -z "$(find "$root" -xdev -newer "$image" -print -quit)" ]; then
        return 0
    fi
    start=$(now)
    local size=$(($(du -sxm "$root" | cut -f1) * 115 / 100 + 2048))
    rm -f "$image"
    mke2fs -q -F -t ext4 -d "$root" "$image.new" "${size}M" >/dev/null || die "mke2fs failed"
    mv "$image.new" "$image"
    say "made the VM's disk image in $(since "$start")"
}

# The root and what the way $1 needs besides, one maker at a time.
make_root_locked() {
    (
        flock 9
        make_root
        [ "$1" != vm ] || make_vm_root
    ) 9>>"$dir/.lock"
}

# The way runs go: chroot or vm (VARNEL_WINE32_VIA, else by what the kernel runs).
way() {
    case "${VARNEL_WINE32_VIA:-auto}" in
        chroot | vm) echo "$VARNEL_WINE32_VIA" ;;
        auto) if ia32_works; then echo chroot; else echo vm; fi ;;
        *) die "VARNEL_WINE32_VIA must be auto, chroot or vm" ;;
    esac
}

# Runs STAGE/guest.sh as root in the root, STAGE mounted read-only at /mnt/varnel.
run_chroot() {
    local stage=$1
    timeout -k 10 "$timeout" unshare --mount --pid --net --uts --ipc --fork --kill-child \
        --propagation private bash -euo pipefail -c '
        root=$1 stage=$2
        # A throw-away overlay on the root, its changes in memory.
        work=$stage.overlay
        mkdir -p "$work"
        mount -t tmpfs tmpfs "$work"
        mkdir -p "$work/upper" "$work/work" "$work/merged"
        R=$work/merged
        mount -t overlay overlay -o "lowerdir=$root,upperdir=$work/upper,workdir=$work/work" "$R"
        mount -t proc proc "$R/proc"
        mount -t sysfs sysfs "$R/sys"
        mount --rbind /dev "$R/dev"
        mount -t tmpfs -o mode=1777 tmpfs "$R/dev/shm"
        mount -t tmpfs -o mode=1777 tmpfs "$R/tmp"
        mount -t tmpfs -o mode=755 tmpfs "$R/run"
        mkdir -p "$R/mnt/varnel"
        mount --bind -o ro "$stage" "$R/mnt/varnel"
        hostname wine32
        chroot "$R" ip link set lo up
        # A clean environment: the test servers of this machine are not in there.
        exec chroot "$R" env -i /bin/bash -c "cd /mnt/varnel && exec bash guest.sh"
    ' _ "$root" "$stage" </dev/null
}

# Boots the VM on a snapshot of the image with STAGE as its second disk, shows the
# guest's output as it comes and returns guest.sh's exit status; 77 when the VM did
# not come up.
run_vm() {
    local stage=$1 accel cpu
    if [ -w /dev/kvm ] && [ ! -d /sys/module/kvm_pvm ]; then
        accel=kvm cpu=host
    else
        # Software emulation. Its SMAP checks IRET's frame on a 32-bit program's
        # user pages with supervisor rights and oopses: without SMAP.
        accel=tcg,thread=multi cpu=max,-smap
    fi
    local size=$(($(du -sm "$stage" | cut -f1) + 64))
    mke2fs -q -F -t ext2 -d "$stage" "$stage.img" "${size}M" >/dev/null || die "mke2fs failed"
    : >"$stage.out"
    timeout -k 10 "$timeout" qemu-system-x86_64 -accel "$accel" -cpu "$cpu" \
        -m "${VARNEL_WINE32_MEM:-2048}" -smp 2 -nodefaults -nic none -display none \
        -monitor none -no-reboot -serial "file:$stage.console" -serial "file:$stage.out" \
        -kernel "$(kernel)" -initrd "$(initrd)" \
        -append "console=ttyS0 root=/dev/vda rw init=/sbin/varnel-wine32-init quiet panic=-1" \
        -drive "file=$image,format=raw,if=virtio,snapshot=on" \
        -drive "file=$stage.img,format=raw,if=virtio,readonly=on" </dev/null &
    local pid=$!
    tail -n +1 -f --pid="$pid" "$stage.out" | tr -d '\r' | grep --line-buffered -v '^wine32: exit status'
    local status=0
    wait "$pid" || status=$?
    local line
    line=$(tr -d '\r' <"$stage.out" | grep '^wine32: exit status' | tail -n 1)
    if [ -n "$line" ]; then
        return "${line##* }"
    fi
    if ! grep -q '^wine32: the VM is up' "$stage.out"; then
        say "the VM did not come up (QEMU exit status $status); its console:"
        tail -n 20 "$stage.console" >&2
        return 77
    fi
    [ "$status" -eq 124 ] && say "the VM was stopped after $timeout s"
    say "the VM ended before the tests did (QEMU exit status $status); its console:"
    tail -n 20 "$stage.console" >&2
    return 1
}

cmd_test() {
    local build=${1:-$project/build/win32}
    build=$(realpath -m "$build")
    "$project/scripts/install-packages.sh" g++-mingw-w64-i686-posix binutils-mingw-w64-i686 cmake \
        ninja-build debootstrap e2fsprogs || exit 1
    say "building the win32 test programs in $build"
    cmake --preset win32 -S "$project" -B "$build" >/dev/null &&
        cmake --build "$build" --target varnel_platform_smoke varnel_library_e2e varnel-host \
            varnel varnel_declare -j2 || die "the win32 build failed"

    local via start
    via=$(way)
    if [ "$via" = vm ]; then
        if [ "${VARNEL_WINE32_VIA:-auto}" = auto ]; then
            say "this kernel runs no 32-bit program: the tests run in a QEMU virtual machine"
        fi
        "$project/scripts/install-packages.sh" qemu-system-x86 ||
            skip "this kernel runs no 32-bit program, and QEMU could not be installed"
    fi
    start=$(now)
    make_root_locked "$via" || exit 1
    say "the root is ready ($(since "$start"))"

    # The stage: what the run needs of the checkout and of the build, nothing else.
    mkdir -p "$dir/runs"
    local stage
    stage=$(mktemp -d "$dir/runs/run.XXXXXX")
    mkdir -p "$stage/scripts" "$stage/build/tests/windows"
    cp "$project/scripts/run-wine-tests.sh" "$project/scripts/firebird-test-server.sh" "$stage/scripts/"
    cp "$build/Varnel.fll" "$build/Varnel.dll" "$build/varnel-host.exe" "$stage/build/"
    cp "$build/tests/windows/varnel_platform_smoke.exe" "$build/tests/windows/varnel_library_e2e.exe" \
        "$stage/build/tests/windows/"
    cat >"$stage/guest.sh" <<'EOF'
# In the root, as root, in /mnt/varnel: the root's Firebird 3 at its default
# security settings, then the Windows checks against it under 32-bit Wine.
export HOME=/root LANG=C.UTF-8 TMPDIR=/var/tmp PATH=/usr/sbin:/usr/bin:/sbin:/bin
scripts/firebird-test-server.sh fb3default start || exit 1
eval "$(scripts/firebird-test-server.sh fb3default env | sed 's/VARNEL_TEST_FB3DEFAULT_/VARNEL_TEST_/g')"
export VARNEL_REQUIRE_SERVER=1 VARNEL_WINE_PRESET=win32 VARNEL_WINE_PREBUILT=1
export VARNEL_WINE_BUILD_DIR=/mnt/varnel/build
echo "== $(uname -r) $(uname -m), $(wine --version)"
scripts/run-wine-tests.sh
EOF

    local status=0
    start=$(now)
    say "running the checks in the root ($via)"
    "run_$via" "$stage" || status=$?
    say "the run in the root ($via) took $(since "$start"), exit status $status"
    rm -rf "$stage" "$stage".*
    if [ "$via" = vm ] && [ "$status" -eq 77 ]; then
        if [ "${VARNEL_WINE32_VIA:-auto}" = auto ]; then
            skip "this kernel runs no 32-bit program, and the virtual machine did not start"
        fi
        skip "the virtual machine did not start"
    fi
    return "$status"
}

[ "$(id -u)" -eq 0 ] || die "needs root (debootstrap, chroot, namespaces)"
mkdir -p "$dir"
case "${1:-}" in
    test)
        shift
        cmd_test "$@"
        ;;
    root)
        "$project/scripts/install-packages.sh" debootstrap e2fsprogs || exit 1
        via=$(way)
        if [ "$via" = vm ]; then
            "$project/scripts/install-packages.sh" qemu-system-x86 || exit 1
        fi
        make_root_locked "$via"
        ;;
    clean) rm -rf "$dir" ;;
    *)
        sed -n '2,/^set -uo/p' "$0" | sed -e '$d' -e 's/^# \{0,1\}//'
        exit 2
        ;;
esac
