# Process 1 of the machine tests/kernel/vm.sh runs, inside its root (from vm-init.sh, run by the
# initramfs's busybox): starts udev when asked, runs the command with its output on the virtio
# ports, tells vm.sh its status through the host share and powers off.
b=/run/quaymend-vm/busybox
h=/run/quaymend-vm/host
off() {
    $b sync
    $b poweroff -f
    # Without ACPI power-off a reboot ends QEMU too (-no-reboot).
    $b reboot -f
}
. $h/config

$b hostname quaymend-vm
$b ip link set lo up

# QEMU's user-mode network has fixed addresses.
if [ "$qm_net" = 1 ]; then
    for n in /sys/class/net/*; do
        n=${n##*/}
        [ "$n" = lo ] && continue
        $b ip link set "$n" up
        $b ip addr add 10.0.2.15/24 dev "$n"
        $b ip route add default via 10.0.2.2
        break
    done
    echo "nameserver 10.0.2.3" >/run/quaymend-vm/resolv.conf
    if [ -L /etc/resolv.conf ]; then
        # Often a link into /run, which is empty here.
        target=$($b readlink -f /etc/resolv.conf)
        $b mkdir -p "${target%/*}" && $b cp /run/quaymend-vm/resolv.conf "$target"
    elif [ -f /etc/resolv.conf ]; then
        $b mount -o bind /run/quaymend-vm/resolv.conf /etc/resolv.conf
    else
        $b cp /run/quaymend-vm/resolv.conf /etc/resolv.conf
    fi
fi

out=/dev/console
err=/dev/console
for port in /sys/class/virtio-ports/*; do
    case "$($b cat "$port/name" 2>/dev/null)" in
    quaymend.stdout) out=/dev/${port##*/} ;;
    quaymend.stderr) err=/dev/${port##*/} ;;
    esac
done

if [ "$qm_udev" = 1 ]; then
    udevd=
    for f in /usr/lib/systemd/systemd-udevd /lib/systemd/systemd-udevd; do
        [ -x "$f" ] && { udevd=$f; break; }
    done
    if [ -z "$udevd" ]; then
        echo "quaymend-vm: udev was asked for, but the root has no systemd-udevd" >"$err"
        echo 125 >$h/status
        off
    fi
    $b mkdir -p /run/udev/rules.d
    for f in $h/rules/*; do [ -f "$f" ] && $b cp "$f" /run/udev/rules.d/; done
    export PATH=/usr/sbin:/usr/bin:/sbin:/bin
    $udevd --daemon
    echo "quaymend-vm: udevd at $($b cut -d' ' -f1 /proc/uptime) s"
    udevadm trigger --type=subsystems --action=add
    udevadm trigger --type=devices --action=add
    echo "quaymend-vm: triggered at $($b cut -d' ' -f1 /proc/uptime) s"
    udevadm settle --timeout=60
    echo "quaymend-vm: udev settled at $($b cut -d' ' -f1 /proc/uptime) s"
fi

# The kernel's whole module tree, for modprobe and for udev from now on, where the root shows it
# (the host's own root holds the kernel cache; its overlay lets the mount point be made). Only
# after udev's first pass: it would load drivers for all of the emulated PC (floppy, PS/2 mouse,
# ATA, KVM, ...), which takes a quarter of a minute under TCG and serves no test.
if [ -n "$qm_kmoddir" ] && [ -d "$qm_kmoddir" ]; then
    $b mkdir -p "/lib/modules/$qm_kver" && $b mount -o bind "$qm_kmoddir" "/lib/modules/$qm_kver"
fi

cd "$qm_cwd" 2>/dev/null || cd /
t_cmd=$($b cut -d' ' -f1 /proc/uptime)
echo "quaymend-vm: command at $t_cmd s"
# Through the root's own shell: busybox would run its own applet for a command of the same name.
$b env -i "$@" </dev/null >"$out" 2>"$err"
status=$?
t_end=$($b cut -d' ' -f1 /proc/uptime)
echo "quaymend-vm: status $status at $t_end s"
echo "$($b cat $h/t_init) $t_cmd $t_end" >$h/times
echo "$status" >$h/status
off
