# Runs udiskie as its own command does, with one addition for bench/versus_udiskie.sh: once
# udiskie has handed a device event to its listeners (the tray among them), the time
# (CLOCK_MONOTONIC nanoseconds), the event and the device file go to VARNELO_BENCH_PROBE.
import os
import sys
import time

import udiskie.udisks2
from udiskie.cli import Daemon

_trigger = udiskie.udisks2.Daemon.trigger
_log = open(os.environ["VARNELO_BENCH_PROBE"], "a", buffering=1)


def trigger(self, event, device, *args):
    _trigger(self, event, device, *args)
    if event in ("device_changed", "device_added", "device_removed"):
        _log.write("%d %s %s\n" % (time.monotonic_ns(), event, getattr(device, "device_file", "")))


udiskie.udisks2.Daemon.trigger = trigger
sys.argv[0] = "udiskie"
sys.exit(Daemon.main())
