#!/bin/busybox sh
# The init of kernel-test.sh's guest: the command line against the virtual programmer through a
# real kernel. One "KT PASS|FAIL|SKIP <check>" line per check, then "KT SUMMARY N passed, M failed".
/bin/busybox --install -s /bin
export PATH=/usr/bin:/bin HOME=/root
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mount -t tmpfs tmpfs /tmp
mount -t tmpfs tmpfs /run
chmod 1777 /tmp
echo "KT NOTE guest up: Linux $(uname -r), $(nproc) CPUs"

passed=0
failed=0
pass() { passed=$((passed + 1)); echo "KT PASS $*"; }
fail() { failed=$((failed + 1)); echo "KT FAIL $*"; }
skip() { echo "KT SKIP $*"; }
note() { echo "KT NOTE $*"; }
# check NAME DETAIL CONDITION...: the condition decides.
check() {
  name=$1; detail=$2; shift 2
  if "$@"; then pass "$name"; else fail "$name: $detail"; fi
}
finish() {
  dmesg | grep -i -E 'uhid|hid-generic|hidraw|queue is full' | sed 's/^/KT NOTE kernel: /' | tail -n 20
  echo "KT SUMMARY $passed passed, $failed failed"
  sync
  poweroff -f
}

while read -r m; do
  insmod "/modules/$m" || note "insmod $m failed"
done </modules/order
[ -c /dev/uhid ] || { fail "uhid: no /dev/uhid after loading the modules"; finish; }

# vp_start TAG ARGS...: starts a virtual programmer, waits for its node (NODE_<TAG>, PID_<TAG>).
vp_start() {
  tag=$1; shift
  quillet-virtual-programmer "$@" >/tmp/$tag.out 2>/tmp/$tag.err &
  eval "PID_$tag=$!"
  i=0
  while [ $i -lt 100 ]; do
    node=$(sed -n 's/^ready //p' /tmp/$tag.out)
    if [ -n "$node" ]; then eval "NODE_$tag=$node"; return 0; fi
    sleep 0.1; i=$((i + 1))
  done
  eval "NODE_$tag="
  cat /tmp/$tag.err
  return 1
}
# vp_wait TAG: waits up to 10 s for it to end by itself; its summary line is in /tmp/TAG.out.
vp_wait() {
  eval "pid=\$PID_$1"
  i=0
  while kill -0 "$pid" 2>/dev/null && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
  ! kill -0 "$pid" 2>/dev/null
}
vp_stop() {
  eval "kill -TERM \$PID_$1" 2>/dev/null
  vp_wait "$1"
}
# The close line of -v's log: never twice. A read ends when the reader has seen the device go and
# posted its close, so exactly once there; a write whose report is refused by the vanished device
# may end while the reader is still closing, and that late line is not printed.
closes() { grep -c -E 'HID 设备已关闭|HID device closed' "$1"; }  # the close line in either language
wait_for() {  # wait_for FILE PATTERN SECONDS
  i=0
  while [ $i -lt $(($3 * 10)) ]; do
    grep -q -- "$2" "$1" 2>/dev/null && return 0
    sleep 0.1; i=$((i + 1))
  done
  return 1
}

# found_again TAG WHAT: the programmer created again after WHAT is listed as before.
found_again() {
  if vp_start "$1" --flash-size 32k --serial VP0001; then
    eval "node=\$NODE_$1"
    out=$(timeout 20 quillet-cli list 2>&1); rc=$?
    check "created again after the $2: found again" "exit $rc: $out" \
      [ $rc = 0 -a "$out" = "$node  Quillet Virtual Programmer  serial VP0001  accessible" ]
  else
    fail "created again after the $2: not created"
  fi
}

chip=NRF24LU1_32K

# A device with the programmer's vendor ID but another product ID, made first so that it is the
# first hidraw node the scan meets.
if vp_start other --product 0x0040 --serial OTHER1 --name "Other HID device"; then
  pass "second uhid device (04d8:0040) created at $NODE_other"
else
  fail "second uhid device: not created"
fi

if vp_start vp --flash-size 32k --serial VP0001; then
  pass "virtual programmer created at $NODE_vp"
else
  fail "virtual programmer: not created"; finish
fi

# list: the programmer with its name and serial, accessible; the other device not at all.
out=$(timeout 20 quillet-cli list 2>/tmp/list.err); rc=$?
check "list finds the programmer with name and serial" "exit $rc, output: $out $(cat /tmp/list.err)" \
  [ $rc = 0 -a "$out" = "$NODE_vp  Quillet Virtual Programmer  serial VP0001  accessible" ]

# detect: the identity reply over the kernel.
out=$(timeout 20 quillet-cli detect --json 2>/tmp/detect.err); rc=$?
check "detect" "exit $rc, output: $out $(cat /tmp/detect.err)" \
  sh -c '[ $0 = 0 ] && echo "$1" | grep -q "\"check_word\" *: *4" && echo "$1" | grep -q "\"chip_connected\" *: *true" &&
         echo "$1" | grep -q "\"serial\" *: *\"VP0001\""' "$rc" "$out"

# A 32 KiB read of the erased chip, a 16 KiB write with read-back, a read of what it holds.
timeout 30 quillet-cli read -c $chip -o /tmp/read1.bin 2>/tmp/read1.err; rc=$?
check "32 KiB read" "exit $rc: $(cat /tmp/read1.err)" sh -c "[ $rc = 0 ] && cmp /tmp/read1.bin /data/ff32k.bin"
timeout 30 quillet-cli write -c $chip /data/image16k.bin --readback 2>/tmp/write1.err; rc=$?
check "16 KiB write --readback" "exit $rc: $(cat /tmp/write1.err)" [ $rc = 0 ]
timeout 30 quillet-cli read -c $chip -o /tmp/read2.bin 2>/tmp/read2.err; rc=$?
check "32 KiB read after the write holds the image" "exit $rc: $(cat /tmp/read2.err)" \
  sh -c "[ $rc = 0 ] && cmp /tmp/read2.bin /data/expect32k.bin"
vp_stop vp
check "every output report was report ID 0 and 64 bytes" "$(cat /tmp/vp.out /tmp/vp.err)" \
  grep -q 'ended (stopped): .*(unexpected 0)' /tmp/vp.out

# Removed in the middle of a read: one close, no hang, exit 4; then created again and found.
if vp_start cut1 --flash-size 32k --serial VP0001 --unplug-after-input 100; then
  timeout 30 quillet-cli read -v -c $chip -o /tmp/cut.bin 2>/tmp/cut1.err; rc=$?
  check "removed during a read: exit 4, one close, no file" \
    "exit $rc, $(closes /tmp/cut1.err) closes: $(tail -n 5 /tmp/cut1.err)" \
    sh -c "[ $rc = 4 ] && [ $(closes /tmp/cut1.err) = 1 ] && grep -q 'unplugged while reading' /tmp/cut1.err && [ ! -e /tmp/cut.bin ]"
  vp_wait cut1
  check "the device went away after 100 input reports" "$(cat /tmp/cut1.out)" grep -q 'ended (unplugged)' /tmp/cut1.out
  vp_stop cut1  # when it did not go by itself, so that the checks after this one see one device
else
  fail "removed during a read: device not created"
fi
found_again back1 read
vp_stop back1

# Removed in the middle of the image stream of a write.
if vp_start cut2 --flash-size 32k --serial VP0001 --unplug-after-output 100; then
  timeout 30 quillet-cli write -v -c $chip /data/image16k.bin 2>/tmp/cut2.err; rc=$?
  check "removed during a write: exit 4, reported unplugged, no second close" \
    "exit $rc, $(closes /tmp/cut2.err) closes: $(tail -n 5 /tmp/cut2.err)" \
    sh -c "[ $rc = 4 ] && [ $(closes /tmp/cut2.err) -le 1 ] && grep -q 'unplugged while writing' /tmp/cut2.err"
  vp_wait cut2
  check "the device went away after 100 output reports" "$(cat /tmp/cut2.out)" grep -q 'ended (unplugged)' /tmp/cut2.out
  vp_stop cut2  # when it did not go by itself, so that the checks after this one see one device
else
  fail "removed during a write: device not created"
fi
found_again vp write  # left running for the checks below

# A user without access to the node (devtmpfs makes it 0600 root; no udev rule runs yet).
out=$(timeout 20 su -s /bin/sh tester -c 'quillet-cli list' 2>/tmp/user-list.err); rc=$?
check "list as a user without access marks the node inaccessible" "exit $rc: $out $(cat /tmp/user-list.err)" \
  sh -c '[ $0 = 0 ] && echo "$1" | grep -q "^$2  .*no access: Permission denied"' "$rc" "$out" "$NODE_vp"
timeout 20 su -s /bin/sh tester -c 'quillet-cli detect' >/dev/null 2>/tmp/user-detect.err; rc=$?
check "detect as a user without access exits 3 with the permission hint" "exit $rc: $(cat /tmp/user-detect.err)" \
  sh -c "[ $rc = 3 ] && grep -q 'Permission denied' /tmp/user-detect.err && grep -q '70-quillet.rules' /tmp/user-detect.err"

# The device-change monitor, with systemd-udevd relaying the kernel's events.
/lib/systemd/systemd-udevd --daemon >/tmp/udevd.log 2>&1
i=0
while [ ! -S /run/udev/control ] && [ $i -lt 50 ]; do sleep 0.1; i=$((i + 1)); done
if [ -S /run/udev/control ]; then
  quillet-cli write --watch -v -c $chip /data/image16k.bin >/dev/null 2>/tmp/watch.err &
  watch=$!
  if wait_for /tmp/watch.err 'watching' 20; then
    before=$(grep -c DeviceChange /tmp/watch.err)
    vp_stop vp
    removed=no
    i=0
    while [ $i -lt 100 ]; do
      [ "$(grep -c DeviceChange /tmp/watch.err)" -gt "$before" ] && { removed=yes; break; }
      sleep 0.1; i=$((i + 1))
    done
    check "the device-change monitor reports the remove" "$(tail -n 5 /tmp/watch.err)" [ $removed = yes ]
    before=$(grep -c DeviceChange /tmp/watch.err)
    vp_start vp --flash-size 32k --serial VP0001
    # "is back" comes only from a rescan, which only a device-change message starts.
    back=no
    i=0
    while [ $i -lt 100 ]; do
      if grep -q 'the programmer is back' /tmp/watch.err && [ "$(grep -c DeviceChange /tmp/watch.err)" -gt "$before" ]; then
        back=yes; break
      fi
      sleep 0.1; i=$((i + 1))
    done
    check "the device-change monitor reports the add (the watch finds the programmer again)" \
      "$(tail -n 5 /tmp/watch.err)" [ $back = yes ]
  else
    fail "device-change monitor: the watch did not start: $(tail -n 5 /tmp/watch.err)"
  fi
  kill -TERM $watch 2>/dev/null
  wait $watch
else
  skip "device-change monitor: systemd-udevd did not start in the initramfs: $(cat /tmp/udevd.log)"
fi
vp_stop vp

# The model behind dummy_hcd's gadget HID function: a USB device that usbhid drives, whose
# product string and serial come from the USB device, and whose output reports cross the bus
# without the report ID byte.
if [ -s /modules/order-usb ]; then
  while read -r m; do
    insmod "/modules/$m" || note "insmod $m failed"
  done </modules/order-usb
  mount -t configfs configfs /sys/kernel/config 2>/dev/null
  g=/sys/kernel/config/usb_gadget/quillet
  f=$g/functions/hid.usb0
  if mkdir $g && echo 0x04d8 >$g/idVendor && echo 0x003f >$g/idProduct && echo 0x0100 >$g/bcdDevice &&
    mkdir $g/strings/0x409 && echo VPUSB01 >$g/strings/0x409/serialnumber &&
    echo "Quillet" >$g/strings/0x409/manufacturer &&
    echo "nRF24 Programmer (USB gadget)" >$g/strings/0x409/product &&
    mkdir $f && echo 0 >$f/protocol && echo 0 >$f/subclass && echo 64 >$f/report_length &&
    quillet-virtual-programmer --print-descriptor >$f/report_desc &&
    mkdir $g/configs/c.1 && mkdir $g/configs/c.1/strings/0x409 && echo hid >$g/configs/c.1/strings/0x409/configuration &&
    ln -s $f $g/configs/c.1/ && ls /sys/class/udc | head -n 1 >$g/UDC; then
    i=0; while [ ! -c /dev/hidg0 ] && [ $i -lt 50 ]; do sleep 0.1; i=$((i + 1)); done
  fi
  if [ -c /dev/hidg0 ] && vp_start usb --gadget /dev/hidg0 --flash-size 32k --serial VPUSB01; then
    pass "USB gadget: usbhid made $NODE_usb of it"
    out=$(timeout 20 quillet-cli list 2>&1); rc=$?
    check "USB gadget: list shows the USB product string and serial" "exit $rc: $out" \
      [ $rc = 0 -a "$out" = "$NODE_usb  nRF24 Programmer (USB gadget)  serial VPUSB01  accessible" ]
    out=$(timeout 20 quillet-cli detect --json 2>&1); rc=$?
    check "USB gadget: detect" "exit $rc: $out" \
      sh -c '[ $0 = 0 ] && echo "$1" | grep -q "\"check_word\" *: *4"' "$rc" "$out"
    timeout 30 quillet-cli write -c $chip /data/image16k.bin --readback 2>/tmp/usb-write.err; rc=$?
    check "USB gadget: 16 KiB write --readback" "exit $rc: $(cat /tmp/usb-write.err)" [ $rc = 0 ]
    timeout 30 quillet-cli read -c $chip -o /tmp/usb-read.bin 2>/tmp/usb-read.err; rc=$?
    check "USB gadget: 32 KiB read holds the image" "exit $rc: $(cat /tmp/usb-read.err)" \
      sh -c "[ $rc = 0 ] && cmp /tmp/usb-read.bin /data/expect32k.bin"
    vp_stop usb
    check "USB gadget: every output report crossed the bus as 64 bytes" "$(cat /tmp/usb.out /tmp/usb.err)" \
      grep -q 'ended (stopped): .*(unexpected 0)' /tmp/usb.out
  else
    skip "USB gadget: no /dev/hidg0 or no hidraw node for it: $(cat /tmp/usb.err 2>/dev/null)"
  fi
  echo "" >$g/UDC 2>/dev/null
else
  skip "USB gadget: the kernel package has no dummy_hcd or gadget HID function"
fi

# ---- The production station over three virtual programmers -----------------------------------
# Boards are seated and removed through each one's control FIFO; every board taken off is saved
# as /tmp/boards/TAG-K.bin, so each passed board's flash can be checked against its number.
ctl() { tag=$1; shift; echo "$*" >/tmp/$tag.ctl; }
lines() { grep -c -- "$2" "$1" 2>/dev/null; }
wait_lines() {  # wait_lines FILE PATTERN COUNT SECONDS
  i=0
  while [ $i -lt $(($4 * 10)) ]; do
    [ "$(lines "$1" "$2")" -ge "$3" ] && return 0
    sleep 0.1; i=$((i + 1))
  done
  return 1
}
seat() { for t in "$@"; do ctl $t seat; done; }
remove() {  # remove TAG...: each board taken off and saved, and the station's having seen it
  for t in "$@"; do
    n=$(ls /tmp/boards | grep -c "^$t-")
    ctl $t remove /tmp/boards/$t-$n.bin
    wait_lines /tmp/$t.out '^removed board' $((n + 1)) 10 || note "$t: the board was not taken off"
  done
  for t in "$@"; do
    k=$(sed -n 's/^removed board \([0-9]*\).*/\1/p' /tmp/$t.out | tail -n 1)
    wait_lines /tmp/$t.out "^asked twice since board $k was removed" 1 10 || note "$t: board $k's removal not seen"
  done
}
station_start() {  # station_start OUT: its plain lines in /tmp/OUT.err
  quillet-cli station -c NRF24LU1_16K /tmp/image8k.bin --journal /tmp/station.jsonl --serial-at 0x3FFC \
    --serial-start 1000 --programmers ST1,ST2,ST3 >/tmp/$1.out 2>/tmp/$1.err &
  STATION=$!
}
# board_image N FILE: what a 16 KiB chip holds after the 8 KiB image with serial number N (4 bytes,
# little-endian, at the last address).
board_image() {
  { cat /tmp/image8k.bin; head -c 8188 /data/ff32k.bin; } >$2
  n=$1
  for k in 1 2 3 4; do printf "\\$(printf %o $((n & 255)))" >>$2; n=$((n >> 8)); done
}
station_t0=$(cut -d" " -f1 /proc/uptime)
failed_before=$failed
mkdir -p /tmp/boards
head -c 8192 /data/image16k.bin >/tmp/image8k.bin  # half a 16 KiB chip: each board takes less time
ok=yes
for t in ST1 ST2 ST3; do
  vp_start $t --serial $t --no-chip --control /tmp/$t.ctl || ok=no
done
if [ $ok = yes ]; then
  station_start station1
  wait_lines /tmp/station1.err ': programmer ready at' 3 20
  check "station: three programmers, three slots" "$(cat /tmp/station1.err)" \
    sh -c "[ $(lines /tmp/station1.err ': programmer ready at') = 3 ]"
  # A board on each, flashed at once; ST2's cable is pulled in the middle of its write (the image
  # taken, the verify not yet answered): that board fails on its slot, the other two pass.
  ctl ST2 hang
  seat ST1 ST2 ST3
  wait_lines /tmp/ST2.out '^write stream ended on board 1' 1 20
  ctl ST2 unplug
  wait_lines /tmp/station1.err ': pass (' 2 30
  wait_lines /tmp/station1.err '^ST2: board .*: fail' 1 20
  check "station: of three boards flashed at once, the one whose programmer is unplugged mid-write fails alone" \
    "$(tail -n 6 /tmp/station1.err)" \
    sh -c "[ $(lines /tmp/station1.err ': pass (') = 2 ] && grep -q '^ST2: board [0-9]*, serial [0-9]*: fail in write' /tmp/station1.err &&
           grep -q '^ST2: programmer gone' /tmp/station1.err"
  remove ST1 ST3
  vp_wait ST2
  if [ -S /run/udev/control ]; then
    vp_start ST2b --serial ST2 --no-chip --control /tmp/ST2b.ctl
    wait_lines /tmp/station1.err '^ST2: programmer ready at' 2 20
    check "station: the replugged programmer takes its slot back" "$(tail -n 3 /tmp/station1.err)" \
      sh -c "[ $(lines /tmp/station1.err '^ST2: programmer ready at') = 2 ]"
  else
    skip "station: replug (no udevd to tell the station)"
  fi
  # The station killed while ST3 writes a board; started again, it records that board
  # interrupted, and flashes it again (still seated) with a new number.
  ctl ST3 hang
  seat ST3
  wait_lines /tmp/ST3.out '^write stream ended on board 2' 1 20
  kill -KILL $STATION
  wait $STATION 2>/dev/null
  check "station: killed mid-write, its board reserved without a result" "$(tail -n 2 /tmp/station.jsonl)" \
    sh -c "tail -n 1 /tmp/station.jsonl | grep -q '\"event\":\"reserve\"' && tail -n 1 /tmp/station.jsonl | grep -q '\"serial\":\"ST3\"'"
  ctl ST3 answer
  seat ST1
  station_start station2
  wait_lines /tmp/station2.err ': pass (' 2 30
  check "station: started again, the interrupted board is recorded and flashed with a new number" \
    "$(cat /tmp/station2.err)" \
    sh -c "grep -q '1 board(s) had no result' /tmp/station2.err && [ $(lines /tmp/station2.err ': pass (') = 2 ]"
  remove ST1 ST3
  kill -TERM $STATION  # a background job ignores SIGINT; the station takes both as Ctrl-C
  wait $STATION; rc=$?
  check "station: stopped by SIGTERM, it ends with status 0" "exit $rc: $(tail -n 3 /tmp/station2.err)" [ $rc = 0 ]
  out=$(quillet-cli station-report /tmp/station.jsonl 2>&1); rc=$?
  check "station-report: no number issued twice, one board interrupted, one failed" "exit $rc: $out" \
    sh -c '[ $0 = 0 ] && echo "$1" | grep -q "4 passed, 1 failed, 1 interrupted"' "$rc" "$out"
  # Every passed board's flash holds the image with its own number.
  bad=
  passes=0
  for p in $(cat /tmp/station1.err /tmp/station2.err |
             sed -n 's/^\(ST[0-9]\): board [0-9]*, serial \([0-9]*\): pass (.*/\1:\2/p'); do
    passes=$((passes + 1))
    board_image ${p#*:} /tmp/expect-board.bin
    found=no
    for f in /tmp/boards/${p%%:*}-*.bin; do cmp -s "$f" /tmp/expect-board.bin && found=yes; done
    [ $found = yes ] || bad="$bad $p"
  done
  check "station: each of the $passes passed boards holds the image with its number" "not found:$bad" \
    [ -z "$bad" -a $passes = 4 ]
else
  fail "station: the three virtual programmers were not created"
fi
for t in ST1 ST2 ST2b ST3; do vp_stop $t; done
note "station stage took $(awk -v t0=$station_t0 '{ printf "%.1f", $1 - t0 }' /proc/uptime) s"
if [ $failed != $failed_before ]; then
  for f in /tmp/station1.err /tmp/station2.err /tmp/ST1.out /tmp/ST2.out /tmp/ST2b.out /tmp/ST3.out; do
    [ -e $f ] && sed "s|^|KT NOTE $f: |" $f
  done
fi

vp_stop other
check "the second device was listed by the kernel but never opened" "$(cat /tmp/other.out)" \
  grep -q 'ended (stopped): opened 0,' /tmp/other.out

finish
