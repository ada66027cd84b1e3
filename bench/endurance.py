#!/usr/bin/env python3
"""Endurance of the real program: music playing, the main window shown, the fake controller
unplugged and plugged in again every few seconds, for a long time.

After every change it checks the indicator (USBON in green / USBOFF in red, read from the
window), and before every unplug the reports the controller received while plugged in: every one
2 bytes, report number 0 and a valid command, and after a replug Bright and Step sent again. It
samples resident memory and open descriptors and prints them with the verdict.

    scripts/with-test-services bench/endurance.py BUILD_DIR [SECONDS] [PERIOD]

Defaults: 1800 s, a change every 3 s. Exit status 1 when any check failed or memory or
descriptors grew.
"""

import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import glimmerix_run as g  # noqa: E402


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build"
    seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 1800
    period = float(sys.argv[3]) if len(sys.argv) > 3 else 3
    prog, player = g.start_program(build)
    failures = []
    samples = []  # (elapsed s, VmRSS KiB, fds, RssAnon KiB)
    try:
        window = g.show_main_window()
        if not window:
            print("FAIL: the main window did not show")
            return 1
        time.sleep(2)
        plugged = True
        changes = 0
        t0 = time.monotonic()
        next_change = t0 + period
        while time.monotonic() - t0 < seconds:
            if prog.proc.poll() is not None:
                failures.append("program ended with %s" % prog.proc.returncode)
                break
            time.sleep(max(0.0, next_change - time.monotonic()))
            next_change += period
            if plugged:
                data = prog.hid.received()
                bad = g.malformed_reports(data)
                if bad:
                    failures.append("change %d: %s" % (changes, bad))
                commands = set(data[1::2])
                wanted = {0xC0 + g.BRIGHT, 0xD0 + (g.STEP & 15), 0xE0 + (g.STEP >> 4)}
                if not wanted <= commands:
                    failures.append("change %d: Bright/Step not re-sent (%d bytes)" %
                                    (changes, len(data)))
                if len(data) < 2 * 3 * int(period / 0.1):
                    failures.append("change %d: only %d bytes while plugged" % (changes, len(data)))
                prog.hid.unplug()
            else:
                prog.hid.plug()
            plugged = not plugged
            changes += 1
            want = g.ON_COLOUR if plugged else g.OFF_COLOUR
            # The presence check runs every 500 ms; give it two.
            seen = g.wait_for(lambda: g.status_colour(window) == want, 1.2, step=0.1)
            if not seen:
                failures.append("change %d: indicator not %s within 1.2 s" %
                                (changes, "USBON" if plugged else "USBOFF"))
            pid = prog.pid()
            samples.append((time.monotonic() - t0, g.proc_status(pid, "VmRSS"), g.fd_count(pid),
                            g.proc_status(pid, "RssAnon")))
            if changes % 100 == 0:
                e, r, f, a = samples[-1]
                print("%7.0f s  changes %5d  VmRSS %6d KiB (anonymous %6d)  fds %3d  failures %d" %
                      (e, changes, r, a, f, len(failures)), flush=True)
        hwm = g.proc_status(prog.pid(), "VmHWM")
        prog.stop()
    finally:
        player.stop()
        log = open(os.path.join(prog.folder, "program.log"), errors="replace").read()
        prog.cleanup()
    # Growth: the last tenth of the samples against the tenth after the first minute.
    settled = [s for s in samples if s[0] >= 60] or samples
    k = max(1, len(settled) // 10)
    rss_early = max(s[1] for s in settled[:k])
    rss_late = max(s[1] for s in settled[-k:])
    fds = sorted({s[2] for s in samples})
    print("duration:           %.0f s, %d changes (plug/unplug every %.1f s)" %
          (samples[-1][0] if samples else 0, changes, period))
    print("VmRSS KiB:          first %d, min %d, max %d, last %d; early max %d, late max %d" %
          (samples[0][1], min(s[1] for s in samples), max(s[1] for s in samples), samples[-1][1],
           rss_early, rss_late))
    print("VmHWM KiB:          %d" % hwm)
    print("RssAnon KiB:        first %d, last %d" % (samples[0][3], samples[-1][3]))
    print("open descriptors:   %s" % fds)
    print("program output:     %d bytes%s" % (len(log), (": " + log[-400:]) if log else ""))
    if rss_late > rss_early + 1024:
        failures.append("resident memory grew by %d KiB" % (rss_late - rss_early))
    if len(fds) > 2:
        failures.append("descriptor count changed: %s" % fds)
    for f in failures[:20]:
        print("FAIL:", f)
    print("failures:           %d" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
