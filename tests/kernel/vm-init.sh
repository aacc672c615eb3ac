#!/bin/busybox sh
# /init of the initramfs that tests/kernel/vm.sh makes: loads the modules for the 9p shares,
# mounts the root (read-only under a tmpfs overlay, or written through), gives it /proc, /sys,
# /dev, /run and /tmp, and hands over to vm-stage2.sh inside it. Anything that goes wrong here
# ends the machine at once; vm.sh then prints the console.
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
echo "quaymend-vm: init at $(cut -d' ' -f1 /proc/uptime) s"
t_init=$(cut -d' ' -f1 /proc/uptime)

fail() {
    echo "quaymend-vm: $*"
    poweroff -f
    sleep 5
    exit 1
}

load() { # list file
    local m n
    for m in $(cat "$1"); do
        # The lists share dependencies.
        n=$(echo "${m%.ko}" | tr - _)
        [ -d "/sys/module/$n" ] && continue
        insmod "/lib/modules/$m" || fail "could not load $m"
    done
}

load /lib/modules/base.list
p9="trans=virtio,version=9p2000.L,msize=262144"
mount -t 9p -o "$p9,cache=none" qmhost /host || fail "no share qmhost"
. /host/config
echo "$t_init" >/host/t_init

if [ "$qm_usb" = 1 ]; then
    [ -f /lib/modules/gadget.list ] || fail "this kernel has no USB gadget stack"
    load /lib/modules/gadget.list
fi

[ "$qm_net" = 1 ] && load /lib/modules/net.list

if [ "$qm_rw_root" = 1 ]; then
    mount -t 9p -o "$p9,cache=none" qmroot /newroot || fail "no root share"
else
    # The root does not change while the machine runs, so its pages and names may be cached.
    mount -t 9p -o "ro,$p9,cache=loose" qmroot /lower || fail "no root share"
    mount -t tmpfs -o mode=0755 tmpfs /overlay
    mkdir -p /overlay/upper /overlay/work /overlay/layer
    lower=/lower
    if [ "$qm_layer" = 1 ]; then
        mount -t 9p -o "ro,$p9,cache=loose" qmlayer /overlay/layer || fail "no share of the layer over the root"
        lower=/overlay/layer:/lower
    fi
    mount -t overlay -o "lowerdir=$lower,upperdir=/overlay/upper,workdir=/overlay/work" overlay /newroot ||
        fail "no overlay over the root"
fi

r=/newroot
for d in proc sys dev run tmp; do mkdir -p "$r/$d"; done
mount -t proc proc "$r/proc"
mount -t sysfs sysfs "$r/sys"
mount -t devtmpfs devtmpfs "$r/dev"
mkdir -p "$r/dev/pts" "$r/dev/shm"
mount -t devpts -o gid=5,mode=620,ptmxmode=666 devpts "$r/dev/pts"
mount -t tmpfs -o mode=1777 tmpfs "$r/dev/shm"
mount -t tmpfs -o mode=0755 tmpfs "$r/run"
mount -t tmpfs -o mode=1777 tmpfs "$r/tmp"
if [ "$qm_usb" = 1 ]; then
    grep -q configfs /proc/filesystems && mount -t configfs configfs "$r/sys/kernel/config"
fi
if [ -n "$qm_share" ]; then
    mkdir -p "$r$qm_share"
    mount -t 9p -o "$p9,cache=none" qmshare "$r$qm_share" || fail "no share for $qm_share"
fi
# Nested ones show the same folders as their parent, so the order does not matter.
i=0
while [ "$i" -lt "$qm_shares_ro" ]; do
    eval "d=\$qm_share_ro_$i"
    mkdir -p "$r$d" 2>/dev/null
    mount -t 9p -o "ro,$p9,cache=loose" "qmro$i" "$r$d" || fail "no share for $d"
    i=$((i + 1))
done

mkdir -p "$r/run/quaymend-vm/host"
cp /bin/busybox /stage2 "$r/run/quaymend-vm/"
mount -o move /host "$r/run/quaymend-vm/host"
exec switch_root "$r" /run/quaymend-vm/busybox sh /run/quaymend-vm/stage2
