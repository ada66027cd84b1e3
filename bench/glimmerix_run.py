"""One run of the built program for the measuring scripts in bench/.

Everything here expects the private services of scripts/with-test-services (an Xvfb display with a
tray host, a PulseAudio whose default input is a null sink's monitor). A run gets a fresh folder
holding a copy of the program and its parallel-port plug-in, a setting.dat that picks the fake USB
controller and a Manual preset, and a fake hidraw tree (GLIMMERIX_HID_ROOT) whose node is a plain
file collecting every report the program writes.
"""

import math
import re
import os
import shutil
import struct
import subprocess
import tempfile
import time

VID, PID = 0x1209, 0xC0DE
BRIGHT, STEP = 9, 100
STATUS_RECT = (105, 228, 50, 16)  # the USBON/USBOFF text in the main window: x, y, w, h
ON_COLOUR, OFF_COLOUR = "#0FFF00", "#FF0000"


class HidTree:
    """A fake controller, laid out as the kernel lays out hidraw0 of a USB HID device."""

    def __init__(self, root):
        self.root = root
        self.usb = os.path.join(root, "sys/devices/pci0000:00/usb1/1-0")
        self.hid_name = "0003:%04X:%04X.0000" % (VID, PID)
        self.node = os.path.join(root, "dev/hidraw0")
        self.link = os.path.join(root, "sys/class/hidraw/hidraw0")
        os.makedirs(os.path.join(root, "sys/class/hidraw"), exist_ok=True)
        os.makedirs(os.path.join(root, "dev"), exist_ok=True)

    def plug(self):
        hid = os.path.join(self.usb, "1-0:1.0", self.hid_name)
        raw = os.path.join(hid, "hidraw/hidraw0")
        os.makedirs(raw, exist_ok=True)
        with open(os.path.join(self.usb, "bcdDevice"), "w") as f:
            f.write("0100\n")
        with open(os.path.join(hid, "uevent"), "w") as f:
            f.write("DRIVER=hid-generic\nHID_ID=0003:%08X:%08X\nHID_NAME=x\n" % (VID, PID))
        os.symlink("../../../" + self.hid_name, os.path.join(raw, "device"))
        open(self.node, "wb").close()
        os.symlink(os.path.relpath(raw, os.path.join(self.root, "sys/class/hidraw")), self.link)

    def unplug(self):
        if os.path.lexists(self.link):
            os.remove(self.link)
        shutil.rmtree(self.usb, ignore_errors=True)
        if os.path.exists(self.node):
            os.remove(self.node)

    def received(self):
        try:
            with open(self.node, "rb") as f:
                return f.read()
        except FileNotFoundError:
            return b""


def malformed_reports(data):
    """What is wrong with a node's bytes: every report is 2 bytes, report number 0 then a command
    (0x00-0xBF port groups, 0xC0+Bright, 0xD0/0xE0+Step halves). Empty when all is well."""
    problems = []
    if len(data) % 2:
        problems.append("odd length %d" % len(data))
    for i in range(0, len(data) - 1, 2):
        if data[i] != 0 or data[i + 1] >= 0xF0:
            problems.append("report %d: %02x %02x" % (i // 2, data[i], data[i + 1]))
            break
    return problems


def output_group_d(command):
    """Whether a report's command sets output group D (PD0..PD5)."""
    return 0x80 <= command <= 0xBF


def turns_on_channel_11_output(command):
    """Whether a report's command turns on PD0, the output the bench's settings give channel 11."""
    return output_group_d(command) and bool(command & 1)


def lit_since(data, offset):
    """Whether a report from byte offset on (an even offset) turns on channel 11's output."""
    return any(data[i] == 0 and turns_on_channel_11_output(data[i + 1])
               for i in range(offset, len(data) - 1, 2))


class Program:
    def __init__(self, stage, effect=1, level=35, bars=20, out1=11):
        self.folder = tempfile.mkdtemp(prefix="glimmerix-bench-")
        self.hid = HidTree(os.path.join(self.folder, "hid"))
        for f in ("glimmerix", "libinpout32.so"):
            shutil.copy2(os.path.join(stage, f), self.folder)
        self.write("Bench.patt", ["Effect = %d" % effect, "Bright = %d" % BRIGHT,
                                  "Step = %d" % STEP, "Level = %d" % level, "ARU = 1"])
        lines = ["X_form = 100", "Y_form = 120", "PID = %d" % PID, "VID = %d" % VID,
                 "Preset = Bench"]
        lines += ["fr%d = %d" % (n, bars) for n in range(1, 19)]
        lines += ["KEY_LED = 0", "OUT1 = %d" % out1] + ["OUT%d = 0" % n for n in range(2, 19)]
        lines += ["LPT_LED = 0"]
        self.write("setting.dat", lines)
        self.proc = None
        self.started_at = None

    def write(self, name, lines):
        with open(os.path.join(self.folder, name), "wb") as f:
            f.write("".join(l + "\r\n" for l in lines).encode())

    def start(self, wrapper=()):
        env = dict(os.environ, GLIMMERIX_HID_ROOT=self.hid.root)
        self.log = open(os.path.join(self.folder, "program.log"), "ab")
        self.started_at = time.monotonic()
        self.proc = subprocess.Popen(list(wrapper) + ["./glimmerix"], cwd=self.folder, env=env,
                                     stdout=self.log, stderr=subprocess.STDOUT)
        return self.proc

    def stop(self, timeout=15):
        if self.proc and self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(timeout)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        return self.proc.returncode if self.proc else None

    def cleanup(self):
        self.stop()
        shutil.rmtree(self.folder, ignore_errors=True)

    def pid(self):
        return self.proc.pid


def x_windows_with_class(name="glimmerix"):
    out = subprocess.run(["xdotool", "search", "--class", name], capture_output=True, text=True)
    return [int(w) for w in out.stdout.split()]


def tray_icon():
    """The program's window that carries _XEMBED_INFO and sits in the tray, or None. Under a window
    manager every managed window sits in a frame too; the manager marks those with WM_STATE."""
    for w in x_windows_with_class():
        out = subprocess.run(["xprop", "-id", str(w), "_XEMBED_INFO", "WM_STATE"],
                             capture_output=True, text=True).stdout
        if "_XEMBED_INFO(" in out and "WM_STATE(" not in out:
            tree = subprocess.run(["xwininfo", "-id", str(w), "-tree"], capture_output=True,
                                  text=True).stdout
            if "Parent window id: 0x" in tree and "(the root window)" not in tree.split(
                    "Parent window id:")[1].splitlines()[0]:
                return w
    return None


def wait_for(pred, timeout, step=0.02):
    end = time.monotonic() + timeout
    while True:
        v = pred()
        if v:
            return v
        if time.monotonic() > end:
            return None
        time.sleep(step)


def show_main_window():
    icon = wait_for(tray_icon, 10)
    if not icon:
        return None
    subprocess.run(["xdotool", "mousemove", "--window", str(icon), "11", "15", "click", "1"])
    out = subprocess.run(["xdotool", "search", "--sync", "--onlyvisible", "--name", "^Glimmerix$"],
                         capture_output=True, text=True, timeout=10).stdout.split()
    return int(out[0]) if out else None


def status_colour(window):
    """ON_COLOUR or OFF_COLOUR, whichever the status text of the shown window is drawn in (its
    anti-aliased pixels counted as mostly green or mostly red); None when neither is there."""
    x, y, w, h = STATUS_RECT
    txt = subprocess.run(["import", "-window", str(window), "-crop", "%dx%d+%d+%d" % (w, h, x, y),
                          "+repage", "-depth", "8", "txt:-"], capture_output=True, text=True).stdout
    on = off = 0
    for m in re.finditer(r"#([0-9A-F]{2})([0-9A-F]{2})([0-9A-F]{2})", txt):
        r, gr, _ = (int(c, 16) for c in m.groups())
        on += gr > r + 80
        off += r > gr + 80
    if on == off:
        return None
    return ON_COLOUR if on > off else OFF_COLOUR


def proc_status(pid, field):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith(field + ":"):
                return int(line.split()[1])
    return None


def fd_count(pid):
    return len(os.listdir("/proc/%d/fd" % pid))


def cpu_ticks(pid):
    """utime + stime of the whole process, in clock ticks."""
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])


def music_like_wav(path, seconds=16):
    """A loop of plucked notes, chords and noise hits at about 120 beats a minute: something with
    onsets, changing bands and silences, as music has."""
    work = tempfile.mkdtemp()
    parts = []
    notes = ["A2", "C3", "E3", "G3", "A3", "C4", "E4", "A4"]
    for i in range(int(seconds * 2)):
        p = os.path.join(work, "%03d.wav" % i)
        if i % 4 == 0:
            cmd = ["synth", "0.5", "noise", "fade", "0", "0.5", "0.45", "gain", "-8"]
        elif i % 4 == 2:
            cmd = ["synth", "0.5", "pluck", notes[i % 8], "pluck", notes[(i + 2) % 8], "pluck",
                   notes[(i + 4) % 8], "remix", "-", "gain", "-3"]
        else:
            cmd = ["synth", "0.5", "pluck", notes[(i * 3) % 8], "gain", "-2"]
        subprocess.run(["sox", "-n", "-r", "22050", "-c", "1", "-b", "16", p] + cmd, check=True)
        parts.append(p)
    subprocess.run(["sox"] + parts + [path, "norm", "-1"], check=True)
    shutil.rmtree(work)


class Player:
    """Plays a sound file into the default sink over and over, until stopped or until the sound
    server is gone (a loop left behind by a killed script must not keep a core busy)."""

    def __init__(self, wav):
        self.proc = subprocess.Popen(["bash", "-c", "while paplay '%s'; do :; done" % wav],
                                     start_new_session=True)

    def stop(self):
        os.killpg(self.proc.pid, 15)
        self.proc.wait()


def tone_bursts(seconds_on, seconds_off, count, hz=1000.0, amplitude=0.5, rate=22050):
    """float32 samples: count bursts of a sine, each followed by silence; burst start offsets."""
    out = bytearray()
    starts = []
    for _ in range(count):
        starts.append(len(out) // 4)
        n = int(seconds_on * rate)
        out += struct.pack("<%df" % n,
                           *(amplitude * math.sin(2 * math.pi * hz * i / rate) for i in range(n)))
        out += bytes(4 * int(seconds_off * rate))
    return bytes(out), starts


def median(v):
    s = sorted(v)
    n = len(s)
    return s[n // 2] if n % 2 else (s[n // 2 - 1] + s[n // 2]) / 2


def percentile(v, p):
    s = sorted(v)
    return s[min(len(s) - 1, int(round(p * (len(s) - 1))))]


def start_program(build, music=True):
    """The program staged in BUILD, started with the fake controller plugged in and, when music,
    music-like sound looping into the sink. Returns (program, player or None)."""
    prog = Program(os.path.join(build, "stage"))
    player = None
    if music:
        wav = os.path.join(prog.folder, "music.wav")
        music_like_wav(wav)
        player = Player(wav)
    prog.hid.plug()
    prog.start()
    return prog, player
