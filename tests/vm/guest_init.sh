#!/bin/sh
# /init of the test machine: mounts, the USB modules, a gadget that is a controller's USB port,
# then the scenarios. Every line on the console goes to the host; the lines that start with
# "VMTEST " are what the host reads.
export PATH=/bin
mount -t devtmpfs devtmpfs /dev
exec </dev/null >/dev/console 2>&1
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t tmpfs tmpfs /tmp
mount -t tmpfs tmpfs /run
mkdir -p -m 1777 /run/lock  # as on Debian: the one place of every updater's lock files
echo "VMTEST BOOTED $(cut -d' ' -f1 /proc/uptime)"

while read -r module; do
    insmod "/modules/$module.ko" || echo "VMTEST ERROR cannot load $module"
done </modules/order
mount -t configfs configfs /sys/kernel/config
mount -t debugfs debugfs /sys/kernel/debug  # usbmon: what the host's drivers send a device

. /vm/scenarios.sh
run_scenarios "${VMTEST_ONLY:-usb}"
echo "VMTEST DONE"
sync
poweroff -f
