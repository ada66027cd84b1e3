#!/usr/bin/env python3
"""Figures of the whole program, under the private services of scripts/with-test-services:

  startup   exec to the tray icon in place (glimmerix-startup-probe), RUNS runs, median
  cpu       music playing, fake controller attached: CPU % of one core over 60 s with the window
            hidden, then 60 s shown; peak resident memory (VmHWM); RUNS runs, median. Beside
            each figure, the CPU microseconds a wake-up of a fixed reference load
            (glimmerix-wakeup-reference) took over the same interval
  wakeups   main thread's context switches over 10 s, idle (silence, window hidden), and with
            music playing (window hidden), RUNS runs, median
  threads   CPU % and context switches a second of each of the program's threads over
            CPU_SECONDS (default 30 here), window hidden, then shown
  memory    resident memory by mapping (shared library, heap, ...) with the window shown,
            from /proc/PID/smaps; the 25 largest
  serverdown  resident memory while the sound server is gone: the server is killed with the
            program in the tray, VmRSS sampled every 10 s over SERVER_DOWN_SECONDS (default 60),
            then the server is started again and the sampling goes on until the lights answer
            the music again
  latency   onset of a 1 kHz burst written into the sink to the first report that lights the
            controller output following channel 11; median and p95 over BURSTS onsets

    scripts/with-test-services bench/figures.py BUILD_DIR [startup|cpu|wakeups|threads|memory|latency ...]
Environment: RUNS (default 5; cpu 3), BURSTS (default 60), CPU_SECONDS (default 60),
SERVER_DOWN_SECONDS (default 60). serverdown needs PulseAudio (the default), not PipeWire.
"""

import contextlib
import os
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import glimmerix_run as g  # noqa: E402

TICK = os.sysconf("SC_CLK_TCK")


def startup(build, runs):
    probe = os.path.join(build, "bin", "glimmerix-startup-probe")
    times = []
    for _ in range(runs):
        prog = g.Program(os.path.join(build, "stage"))
        prog.hid.plug()
        env = dict(os.environ, GLIMMERIX_HID_ROOT=prog.hid.root)
        out = subprocess.run([probe, prog.folder], capture_output=True, text=True, env=env)
        lines = out.stdout.split()
        if len(lines) == 2:
            try:
                os.kill(int(lines[1]), 15)
                time.sleep(1)
            except ProcessLookupError:
                pass
        if out.returncode == 0:
            times.append(float(lines[0]))
        prog.cleanup()
        time.sleep(0.5)
    print("startup ms (exec to tray icon): runs %s" % ["%.0f" % t for t in times])
    if times:
        print("startup ms median: %.0f  min %.0f  max %.0f" % (g.median(times), min(times),
                                                               max(times)))


@contextlib.contextmanager
def program_in_tray(build, what, music=True):
    """The program started as g.start_program does; yields it once its tray icon is in place, or
    None (with a message) when it never is. Stops the music and cleans up afterwards."""
    prog, player = g.start_program(build, music)
    try:
        if g.wait_for(g.tray_icon, 10):
            yield prog
        else:
            print("%s: no tray icon" % what)
            yield None
    finally:
        if player:
            player.stop()
        prog.cleanup()


class WakeupReference:
    """bench/wakeup_reference.c running beside the program. On a virtual machine the cost of a
    wake-up changes from minute to minute, several times over, whatever runs; the reference's
    fixed work per wake-up shows what a wake-up cost during each interval measured."""

    def __init__(self, build):
        self.proc = subprocess.Popen([os.path.join(build, "bin", "glimmerix-wakeup-reference")],
                                     stdout=subprocess.PIPE, text=True)
        self.tid = int(self.proc.stdout.readline())

    def sample(self):
        """(CPU ns, times scheduled in) of the reference's worker thread."""
        with open("/proc/%d/task/%d/schedstat" % (self.proc.pid, self.tid)) as f:
            run_ns, _, slices = map(int, f.read().split())
        return run_ns, slices

    def close(self):
        self.proc.kill()
        self.proc.wait()


def cpu_percent(pid, seconds, reference):
    """CPU % of one core of pid over seconds, and the reference's CPU microseconds a wake-up."""
    a, r = g.cpu_ticks(pid), reference.sample()
    t = time.monotonic()
    time.sleep(seconds)
    percent = 100.0 * (g.cpu_ticks(pid) - a) / TICK / (time.monotonic() - t)
    r2 = reference.sample()
    return percent, (r2[0] - r[0]) / 1000.0 / max(1, r2[1] - r[1])


def cpu(build, runs, seconds):
    hidden, shown, hwm = [], [], []
    reference = WakeupReference(build)
    try:
        for _ in range(runs):
            with program_in_tray(build, "cpu") as prog:
                if not prog:
                    continue
                time.sleep(5)
                hidden.append(cpu_percent(prog.pid(), seconds, reference))
                if not g.show_main_window():
                    print("cpu: the window did not show")
                    continue
                time.sleep(5)
                shown.append(cpu_percent(prog.pid(), seconds, reference))
                hwm.append(g.proc_status(prog.pid(), "VmHWM"))
                if len(prog.hid.received()) < 100:
                    print("cpu: the controller received almost nothing")
    finally:
        reference.close()
    for what, values in (("hidden", hidden), ("shown", shown)):
        print("cpu %% of one core, window %-6s runs %s" %
              (what + ":", ", ".join("%.2f (reference %.0f us)" % v for v in values)))
    hidden, shown = [v[0] for v in hidden], [v[0] for v in shown]
    print("peak resident KiB (VmHWM):        runs %s" % hwm)
    if hidden and shown:
        print("cpu median: hidden %.2f %%, shown %.2f %%; VmHWM median %.1f MB" %
              (g.median(hidden), g.median(shown), g.median(hwm) / 1024))


def switches(pid, tid=None):
    """Voluntary and involuntary context switches of a thread (the main thread by default)."""
    with open("/proc/%d/task/%d/status" % (pid, tid or pid)) as f:
        v = {l.split(":")[0]: int(l.split()[1]) for l in f if "ctxt_switches" in l}
    return v["voluntary_ctxt_switches"], v["nonvoluntary_ctxt_switches"]


def wakeups(build, runs):
    for music in (False, True):
        counts, polls = [], []
        for _ in range(runs):
            with program_in_tray(build, "wakeups", music) as prog:
                if not prog:
                    continue
                time.sleep(3)
                before = sum(switches(prog.pid()))
                time.sleep(10)
                counts.append(sum(switches(prog.pid())) - before)
                # The event loop's own wake-ups: returns from poll() on the main thread.
                trace = subprocess.run(["timeout", "10", "strace", "-e", "trace=poll,ppoll",
                                        "-p", str(prog.pid())], capture_output=True,
                                       text=True).stderr
                polls.append(sum(1 for l in trace.splitlines() if l.startswith(("poll", "ppoll"))))
        what = "music playing" if music else "silence"
        print("main-thread context switches in 10 s, %s, window hidden: runs %s, median %s" %
              (what, counts, g.median(counts)))
        print("main-thread poll() returns in 10 s, %s, window hidden: runs %s, median %s" %
              (what, polls, g.median(polls)))


class NodeWatch(threading.Thread):
    """Reads the controller node every millisecond; remembers when the output following channel
    11 (group D, bit 0) turns on."""

    def __init__(self, node):
        super().__init__(daemon=True)
        self.node = node
        self.on_times = []
        self.stop = False

    def run(self):
        offset, lit = 0, False
        with open(self.node, "rb") as f:
            while not self.stop:
                f.seek(offset)
                data = f.read()
                now = time.monotonic()
                n = len(data) // 2 * 2
                for i in range(0, n, 2):
                    c = data[i + 1]
                    if g.output_group_d(c):
                        if g.turns_on_channel_11_output(c) and not lit:
                            self.on_times.append(now)
                        lit = g.turns_on_channel_11_output(c)
                offset += n
                time.sleep(0.001)


def latency(build, bursts):
    prog, _ = g.start_program(build, music=False)
    try:
        if not g.wait_for(g.tray_icon, 10):
            print("latency: no tray icon")
            return
        time.sleep(2)
        watch = NodeWatch(prog.hid.node)
        watch.start()
        rate = 22050
        samples, starts = g.tone_bursts(0.5, 0.7, bursts, amplitude=0.9, rate=rate)
        player = subprocess.Popen(["pacat", "--playback", "--raw", "--format=float32le",
                                   "--rate=%d" % rate, "--channels=1", "--latency-msec=10"],
                                  stdin=subprocess.PIPE)
        chunk = rate * 5 // 1000  # 5 ms
        t0 = time.monotonic()
        start_times = []
        pos = 0
        next_start = 0
        while pos < len(samples) // 4:
            if next_start < len(starts) and pos >= starts[next_start]:
                start_times.append(time.monotonic())
                next_start += 1
            player.stdin.write(samples[4 * pos:4 * (pos + chunk)])
            player.stdin.flush()
            pos += chunk
            time.sleep(max(0.0, t0 + pos / rate - time.monotonic()))
        player.stdin.close()
        player.wait()
        time.sleep(0.5)
        watch.stop = True
        watch.join()
        delays = []
        for s in start_times:
            after = [t for t in watch.on_times if s <= t < s + 1.0]
            if after:
                delays.append(1000 * (after[0] - s))
        print("onset to lighting report: %d of %d onsets lit their output" %
              (len(delays), len(start_times)))
        if delays:
            print("onset to lighting report ms: median %.0f  p95 %.0f  min %.0f  max %.0f" %
                  (g.median(delays), g.percentile(delays, 0.95), min(delays), max(delays)))
    finally:
        prog.cleanup()


def thread_stats(pid):
    """{tid: (name, utime+stime ticks, context switches)} of every thread of pid."""
    stats = {}
    for tid in os.listdir("/proc/%d/task" % pid):
        try:
            with open("/proc/%d/task/%s/stat" % (pid, tid)) as f:
                stat = f.read()
            count = sum(switches(pid, int(tid)))
        except FileNotFoundError:
            continue
        fields = stat[stat.rindex(")") + 2:].split()
        stats[tid] = (stat[stat.index("(") + 1:stat.rindex(")")],
                      int(fields[11]) + int(fields[12]), count)
    return stats


def threads(build, seconds):
    with program_in_tray(build, "threads") as prog:
        if not prog:
            return
        time.sleep(3)
        for shown in (False, True):
            if shown and not g.show_main_window():
                print("threads: the window did not show")
                return
            time.sleep(3)
            before, t = thread_stats(prog.pid()), time.monotonic()
            time.sleep(seconds)
            after, dt = thread_stats(prog.pid()), time.monotonic() - t
            print("threads, window %s:" % ("shown" if shown else "hidden"))
            for tid in sorted(after, key=int):
                if tid in before:
                    name, ticks, count = after[tid]
                    print("  %-8s %-16s cpu %5.2f %%  context switches/s %6.1f" %
                          (tid, name, 100.0 * (ticks - before[tid][1]) / TICK / dt,
                           (count - before[tid][2]) / dt))


def server_down(build, seconds):
    with program_in_tray(build, "serverdown", music=False) as prog:
        if not prog:
            return
        time.sleep(3)
        pid = prog.pid()

        def sample(what):
            print("serverdown %-22s VmRSS %s KiB, RssAnon %s KiB, descriptors %d" %
                  (what, g.proc_status(pid, "VmRSS"), g.proc_status(pid, "RssAnon"),
                   g.fd_count(pid)))

        sample("server up:")
        subprocess.run(["pulseaudio", "--kill"])
        t = time.monotonic()
        while time.monotonic() - t < seconds:
            time.sleep(10)
            sample("%3.0f s without it:" % (time.monotonic() - t))
        subprocess.run([os.environ["GLIMMERIX_TEST_START_SOUND_SERVER"]])
        wav = os.path.join(prog.folder, "music.wav")
        g.music_like_wav(wav)
        player = g.Player(wav)
        try:
            offset = len(prog.hid.received())
            back = g.wait_for(lambda: g.lit_since(prog.hid.received(), offset), 15, 0.05)
            sample("lights back %s:" % ("after %.1f s" % (time.monotonic() - t - seconds)
                                        if back else "NEVER"))
        finally:
            player.stop()


def memory(build):
    with program_in_tray(build, "memory") as prog:
        if not prog or not g.show_main_window():
            print("memory: no window")
            return
        time.sleep(4)
        pid = prog.pid()
        rss, mapping = {}, "[anon]"
        with open("/proc/%d/smaps" % pid) as f:
            for line in f:
                parts = line.split()
                if ":" not in parts[0] or "-" in parts[0]:
                    mapping = os.path.basename(parts[5]) if len(parts) > 5 else "[anon]"
                elif parts[0] == "Rss:":
                    rss[mapping] = rss.get(mapping, 0) + int(parts[1])
        print("memory: VmHWM %s KiB, VmRSS %s KiB, RssAnon %s KiB" %
              (g.proc_status(pid, "VmHWM"), g.proc_status(pid, "VmRSS"),
               g.proc_status(pid, "RssAnon")))
        for name, kib in sorted(rss.items(), key=lambda kv: -kv[1])[:25]:
            print("  %7d KiB  %s" % (kib, name))


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build"
    which = sys.argv[2:] or ["startup", "wakeups", "latency", "cpu"]
    runs = int(os.environ.get("RUNS", "5"))
    for w in which:
        if w == "startup":
            startup(build, runs)
        elif w == "cpu":
            cpu(build, int(os.environ.get("RUNS", "3")), float(os.environ.get("CPU_SECONDS", 60)))
        elif w == "wakeups":
            wakeups(build, runs)
        elif w == "memory":
            memory(build)
        elif w == "threads":
            threads(build, float(os.environ.get("CPU_SECONDS", 30)))
        elif w == "latency":
            latency(build, int(os.environ.get("BURSTS", "60")))
        elif w == "serverdown":
            server_down(build, float(os.environ.get("SERVER_DOWN_SECONDS", 60)))
        sys.stdout.flush()


if __name__ == "__main__":
    main()
