#!/usr/bin/env python3
"""Soak of the real updater: repeated runs under Wine with random kills and
random faults, checking after each run that every file the script touches
holds, under its installed name, the whole old or the whole new file.

Usage (inside scripts/with-wine-env.sh, as `make soak` does):
    scripts/soak.py BUILD_DIR RUNS SEED

Each run makes a fresh installed copy (on C:, or on a small tmpfs drive S:)
and an update for it, then starts Lumiupd.exe -auto through the dialog robot,
which gives the Abort/Retry/Ignore prompts random answers. A run may meet:
  kills:  SIGKILL of the updater's Linux pid at a random moment, right after
          a chosen trace line, or inside a copy (a temporary name holding a
          chosen number of bytes), or `wineserver -k` of the build's prefix;
  faults: a packaged update folder (its manifest written into the updater)
          raced, once the updater has checked it, by tests/fixtures/swapper.cpp
          rewriting and renaming its files and the folder (figure "swapped":
          what got through while the run went on; such runs are not killed),
          or, with a plug-in and programs that load and start by name, planted
          with unlisted DLLs and programs under the names they look for,
          before the run or once the folder is verified (figure
          "unlisted_run": markers the planted code wrote; never killed either),
          a read-only installed file, an installed file held open without
          delete sharing (LumiHold.exe), sharing reading only or sharing
          reading and writing (its copy is then written in place), a source
          removed from the update
          folder during the run, a second writer that fills S: during the run,
          a tight S: with only the room the space check asks for.
After a killed run the same update (sometimes another one) is run again over
the same folder; afterwards no temporary name may be left.
ATOMIC=1 makes every script all or nothing ("atomic=1"), ATOMIC=0 none,
otherwise half of them are: such a run must leave the installed copy wholly
old after a failure, wholly new after a success, and either after a kill and
the run that follows (figure "mixed"); its prompts get Abort or Retry only,
and the run after a kill is the same update or one that fails at once, so
that what the recovery alone left is judged.
POWERCUT=1 cuts the power instead (scripts/soakcut.py, figures "cuts",
"broken", "mixed", "undurable").
The last line holds the figures; the exit code is 1 when anything was lost,
partial, left over or forgotten from the settings, got swapped, or when
planted code ran. A copy written in place (its file held sharing writing) is
the one case a kill may leave partial: those runs and such files are counted
apart ("inplace_runs", "inplace_partial"), never in "partial".
"""
import hashlib
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import threading
import time

BUILD = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build")
RUNS = int(sys.argv[2]) if len(sys.argv) > 2 and sys.argv[2] else 60  # two to four minutes
SEED = int(sys.argv[3]) if len(sys.argv) > 3 and sys.argv[3] else int(time.time()) % 100000
VERBOSE = os.environ.get("SOAK_VERBOSE") == "1"
POWERCUT = os.environ.get("POWERCUT") == "1"

PREFIX = os.environ.get("WINEPREFIX", os.path.join(BUILD, "wineprefix"))
DRIVE_C = os.path.join(PREFIX, "drive_c")
SMALL_LETTER = "s"  # no test uses S:
SMALL_SIZE = "16m"
SMALL_DIR = os.path.join(BUILD, "smalldisk-" + SMALL_LETTER)
SMALLDISK = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "checks", "smalldisk.sh")
ROOT_C = os.path.join(DRIVE_C, "lumisoak")
DRIVES = [(SMALL_DIR, "S:"), (DRIVE_C, "C:")]
TRACE = None  # %TEMP%\Lumiupd.log, found at the start
LEFTOVER = re.compile(r"~lu", re.IGNORECASE)  # "~lu<pid>.tmp", and older "<name>.~lu<pid>-<n>"
ANSWERS = ["abort", "retry", "ignore"]
ID = "SOAK"
MARKERS = os.path.join(DRIVE_C, "lumitest", "markers")  # where planted DLLs say they ran
# The names a plug-in, a program and a .bat look for by name in a planter run.
PLANTED_DLLS = ["ntmarta.dll", "profapi.dll", "version.dll", "lumihelper.dll", "lumicompanion.dll"]

# The trace lines a kill may follow (each with the bytes the trace writes).
KILL_LINES = {
    "copy": [b"\t\t\tdst = ", b"\t\t\t\tDelete   dst\r\n", b"\t\t\t\tDelete Fail - ",
             b"\t\t\t\tCopy\tsrc -> dst\r\n", b"\t[SetFileTimeByFilename]>>\r\n", b"\t\t[Copy]<<\r\n"],
    "remove": [b"\t\t[Delete]>>\r\n", b"\t\t[Delete]<<\r\n"],
    "log": [b"\t\t[Log]>>\r\n", b"\t\t[Log]<<\r\n"],
    "create": [b"\t\t[Create]<<\r\n"],
}

started = []  # the Wine programs this soak started (holders, robots)


def log(text):
    if VERBOSE:
        print(text, flush=True)


def digest(path):
    try:
        with open(path, "rb") as f:
            return hashlib.sha1(f.read()).hexdigest()
    except (FileNotFoundError, IsADirectoryError, NotADirectoryError):
        return None


def win_path(linux_path):
    """The Windows name of a file on C:, S: or another drive of DRIVES."""
    for top, letter in DRIVES:
        if linux_path.startswith(top):
            return letter + linux_path[len(top):].replace("/", "\\")
    raise ValueError(linux_path)


def remove_tree(path):
    subprocess.run(["chmod", "-R", "u+w", path], stderr=subprocess.DEVNULL)
    subprocess.run(["rm", "-rf", path])


def wine(args, out, cwd=None):
    """Starts a Wine program with its output in a file (never a pipe), in
    the given Linux folder (its Windows current folder) when one is given."""
    with open(out, "wb") as f:
        p = subprocess.Popen(["wine"] + args, stdout=f, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL, cwd=cwd)
    started.append(p)
    return p


def wine_pids(argv0_tail, marker):
    """Linux pids of this prefix's Wine processes whose program ends with
    argv0_tail and whose command line holds marker."""
    pids = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/cmdline" % entry, "rb") as f:
                argv = f.read().split(b"\0")
            with open("/proc/%s/environ" % entry, "rb") as f:
                env = f.read().split(b"\0")
        except OSError:
            continue
        if ("WINEPREFIX=" + PREFIX).encode() not in env:
            continue
        if argv[0].lower().endswith(argv0_tail.lower().encode()) and marker.encode() in b" ".join(argv):
            pids.append(int(entry))
    return pids


def kill_pid(pid):
    try:
        os.kill(pid, signal.SIGKILL)
    except ProcessLookupError:
        pass


def server_kill():
    subprocess.run(["wineserver", "-k"], stderr=subprocess.DEVNULL)
    subprocess.run(["wineserver", "-w"], stderr=subprocess.DEVNULL)


def server_start():
    subprocess.run(["wineserver", "-p"], stderr=subprocess.DEVNULL)


# ---- the installed copy and the update ------------------------------------

# INSTALLED repeats its ids, so that adding one makes the file shorter: a
# write in place then cuts it back as well as changing it.
INI_TEXT = ("[MAIN]\r\nNAME=Lumitel Mirte\r\nINSTALLED=OLD1,OLD2,OLD1,OLD2,OLD1\r\nDATADIR=C:\\LumiData\r\n"
            "SERIAL=1234-5678\r\n\r\n[VIEW]\r\nWIDTH=800\r\nHEIGHT=600\r\nFONT=MS Gothic\r\n\r\n"
            "[RECENT]\r\n" + "".join("FILE%d=C:\\LumiData\\doc%02d.lmt\r\n" % (i, i) for i in range(40)))
LOG_TEXT = "20240101\tOLD1\tfirst\tline\r\n20240202\tOLD2\tsecond\tline\r\n"


def parse_ini(data):
    """{section: {key: value}} of an INI file's bytes, or None when unreadable."""
    if data is None:
        return None
    sections, current = {}, None
    for line in data.decode("latin-1").splitlines():
        line = line.strip()
        if line.startswith("[") and line.endswith("]"):
            current = sections.setdefault(line[1:-1].upper(), {})
        elif "=" in line and current is not None:
            key, value = line.split("=", 1)
            current[key.strip().upper()] = value.strip()
    return sections


def installed_tree(app):
    """{relative name: digest} of every file under app (leftovers excluded)."""
    tree = {}
    for folder, _, files in os.walk(app):
        for name in files:
            path = os.path.join(folder, name)
            rel = os.path.relpath(path, app).replace("/", "\\")
            if not LEFTOVER.search(name):
                tree[rel] = digest(path)
    return tree


def leftovers(app):
    found = []
    for folder, dirs, files in os.walk(app):
        found += [os.path.join(folder, n) for n in files + dirs if LEFTOVER.search(n)]
    return found


def random_bytes(rng, size):
    return rng.randbytes(size)


def make_installed(rng, app, small):
    """A fresh installed copy with a few data files; returns their names."""
    remove_tree(app)
    os.makedirs(os.path.join(app, "data"))
    gate = bytearray(96)
    gate[72:80] = b"9.99\0\0\0\0"
    files = {"RT_IDX.DAT": bytes(gate), "MIRO42.DLL": b"old library " + random_bytes(rng, 2000),
             "MIRO42.INI": INI_TEXT.encode(), "update.log": LOG_TEXT.encode()}
    limit = 1536 * 1024 if small else 6 * 1024 * 1024
    names = ["f%d.dat" % i for i in range(rng.randint(2, 4))] + ["data\\g%d.dat" % i for i in range(rng.randint(1, 2))]
    for name in names:
        files[name] = random_bytes(rng, rng.choice([0, 100, 5000, rng.randint(1, limit)]))
    for name, data in files.items():
        with open(os.path.join(app, name.replace("\\", "/")), "wb") as f:
            f.write(data)
    return names


def put_script(upd, lines):
    """The script and the updater of an update folder."""
    with open(os.path.join(upd, "Lumiupd.INF"), "wb") as f:
        f.write(("\r\n".join(lines) + "\r\n").encode())
    with open(os.environ.get("SOAK_EXE", os.path.join(BUILD, "bin", "Lumiupd.exe")), "rb") as src, open(os.path.join(upd, "Lumiupd.exe"), "wb") as dst:
        dst.write(src.read())


def make_update(rng, upd, app, names, small, atomic=False):
    """An update folder for the installed copy; returns its commands as
    (command, name) and the new bytes of each copied name. atomic: the
    script asks for all or nothing."""
    remove_tree(upd)
    os.makedirs(os.path.join(upd, "data"))
    limit = 1536 * 1024 if small else 6 * 1024 * 1024
    commands, new = [], {}
    for name in names + ["MIRO42.DLL"]:
        roll = rng.random()
        if roll < 0.7:
            commands.append(("copy", name))
        elif roll < 0.85 and name != "MIRO42.DLL":
            commands.append(("remove", name))
    for i in range(rng.randint(0, 2)):
        commands.append(("copy", rng.choice(["", "data\\"]) + "n%d_%d.dat" % (i, rng.randint(0, 999))))
    if rng.random() < 0.5:
        commands.append(("create", "newdir"))
    if rng.random() < 0.7:
        commands.append(("log", "soak/run"))
    rng.shuffle(commands)
    for act, name in commands:
        if act == "copy":
            # Mostly large enough that a kill can land inside the copy.
            data = random_bytes(rng, rng.choice([0, 7, rng.randint(1, limit), rng.randint(limit // 4, limit)]))
            if name == "MIRO42.DLL":
                data = b"new library " + data
            new[name] = data
            with open(os.path.join(upd, name.replace("\\", "/")), "wb") as f:
                f.write(data)
    put_script(upd, ["id=" + ID, "target=9"] + (["atomic=1"] if atomic else []) + ["%s=%s" % c for c in commands])
    return commands, {k: hashlib.sha1(v).hexdigest() for k, v in new.items()}


# ---- faults during a run ---------------------------------------------------

class Trace:
    """Counts lines of the trace log of the running updater."""

    def read(self):
        try:
            with open(TRACE, "rb") as f:
                return f.read()
        except OSError:
            return b""

    def count(self, needle):
        return self.read().count(needle)

    def handlers_since_checks(self):
        """How many handler lines ("\t\t[") came after the space check."""
        data = self.read()
        end = data.find(b"\t\t[checkSpace]<<")
        return -1 if end < 0 else data.count(b"\t\t[", end + 1)


class Filler(threading.Thread):
    """A second writer on the small drive: once started it takes all free
    room, then keeps taking whatever room is freed until stopped."""

    def __init__(self):
        super().__init__(daemon=True)
        self.path = os.path.join(SMALL_DIR, "filler.bin")
        self.stop = threading.Event()
        self.go = threading.Event()

    def run(self):
        self.go.wait()
        block = b"\xff" * 4096
        with open(self.path, "ab", buffering=0) as f:
            while not self.stop.is_set():
                try:
                    f.write(block)
                except OSError:
                    time.sleep(0.001)

    def finish(self):
        self.go.set()
        self.stop.set()
        self.join(5)
        try:
            os.remove(self.path)
        except FileNotFoundError:
            pass


def make_tight(rng, upd, app):
    """Leaves the small drive, for this run and the one after a kill, with
    the room that the space check asks for and at most the largest new file
    more. Returns the file that takes the rest."""
    # The check's amount: what new and growing files add, plus the largest
    # file standing in both versions (the smaller of its two sizes).
    need = 0
    twice = 0
    for folder, _, files in os.walk(upd):
        for name in files:
            src = os.path.join(folder, name)
            dst = os.path.join(app, os.path.relpath(src, upd))
            new, old = os.path.getsize(src), (os.path.getsize(dst) if os.path.isfile(dst) else 0)
            need += max(new - old, 0)
            twice = max(twice, min(new, old))
    need += twice
    largest = max([os.path.getsize(os.path.join(f, n)) for f, _, ns in os.walk(upd) for n in ns if n.endswith(".dat")] or [0])
    st = os.statvfs(SMALL_DIR)
    spare = st.f_bavail * st.f_frsize - max(need, 0) - rng.randint(0, largest + 8192)
    path = os.path.join(SMALL_DIR, "tight.bin")
    with open(path, "wb") as f:
        f.write(b"\xee" * max(spare, 0))
    return path


def package(upd):
    """Writes the folder's manifest into its updater, as make package does."""
    out = subprocess.run([os.path.join(BUILD, "bin", "lumiupd-check"), "--write-manifest", upd],
                         stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    if out.returncode != 0:
        raise SystemExit("soak: no manifest for %s:\n%s" % (upd, out.stdout.decode("utf-8", "replace")))


def add_plug_ins(upd):
    """A plug-in that starts reg.exe and loads a helper by name, a program
    that starts reg.exe, one that loads DLLs by name and a .bat calling reg:
    listed, as the package holds them."""
    bin_dir = os.path.join(BUILD, "bin")
    for src, dst in (("lumiplugin.dll", "lumiplugin.dll"), ("recorder.exe", "CONVERT.EXE"), ("dllprobe.exe", "PROBE.EXE")):
        with open(os.path.join(bin_dir, src), "rb") as f, open(os.path.join(upd, dst), "wb") as g:
            g.write(f.read())
    with open(os.path.join(upd, "plug.dat"), "wb") as f:
        f.write(b"plug")
    with open(os.path.join(upd, "conv.bat"), "wb") as f:
        f.write(b"@reg query HKLM\\Software\\Kevrani >NUL 2>&1\r\n@exit 0\r\n")
    # First, before a failing copy can end the commands; LoadHelper fails its
    # own (its helper is not shipped): it comes last.
    first = ["dll=plug.dat,lumiplugin.dll,StartReg", "exe=CONVERT.EXE,start:reg.exe",
             "exe=PROBE.EXE," + " ".join(PLANTED_DLLS), "exe=conv.bat"]
    path = os.path.join(upd, "Lumiupd.INF")
    with open(path, "rb") as f:
        lines = f.read().decode().split("\r\n")[:-1]
    lines = lines[:2] + first + lines[2:] + ["dll=plug.dat,lumiplugin.dll,LoadHelper"]
    with open(path, "wb") as f:
        f.write(("\r\n".join(lines) + "\r\n").encode())


def plant(upd):
    """Another user's files: a reg.exe that writes reg.txt beside itself and
    marker-writing DLLs under the names looked for, at the folder's top and
    in data\\, none of them listed."""
    bin_dir = os.path.join(BUILD, "bin")
    for folder in (upd, os.path.join(upd, "data")):
        for src, names in (("recorder.exe", ["reg.exe"]), ("planted.dll", PLANTED_DLLS)):
            for name in names:
                try:
                    with open(os.path.join(bin_dir, src), "rb") as f, open(os.path.join(folder, name), "wb") as g:
                        g.write(f.read())
                except OSError:
                    pass


def unlisted_ran(upd):
    """What planted code left: its markers and reg.txt records."""
    found = []
    if os.path.isdir(MARKERS):
        found += [os.path.join(MARKERS, n) for n in os.listdir(MARKERS)]
    for root, _, files in os.walk(upd):
        found += [os.path.join(root, n) for n in files if n.lower() == "reg.txt"]
    return found


def start_swapper(upd, tag):
    """Another program of the user racing the run over the update folder,
    once the updater has checked it; it ends with the run."""
    out = os.path.join(ROOT_C, "swap-%s.txt" % tag)
    if os.path.exists(out):
        os.remove(out)
    p = wine([os.path.join(BUILD, "bin", "LumiSwap.exe"), win_path(upd), win_path(TRACE), "120000", win_path(out)],
             os.path.join(ROOT_C, "swap-%s.out" % tag))
    return p, out


def swaps_landed(swapper):
    """What the swapper got through while the run went on."""
    p, out = swapper
    try:
        p.wait(20)
    except subprocess.TimeoutExpired:
        stop_process(p)
    try:
        with open(out) as f:
            return int(f.read().split()[0])
    except (OSError, ValueError, IndexError):
        return 0


def start_holder(app, name, tag, shared):
    ready = os.path.join(ROOT_C, "held-%s.ready" % tag)
    if os.path.exists(ready):
        os.remove(ready)
    p = wine([os.path.join(BUILD, "bin", "LumiHold.exe"), win_path(os.path.join(app, name.replace("\\", "/"))),
              win_path(ready), "120000"] + (["rw"] if shared else []), os.path.join(ROOT_C, "held-%s.out" % tag))
    for _ in range(300):
        if os.path.exists(ready) or p.poll() is not None:
            break
        time.sleep(0.01)
    return p


def stop_process(p):
    if p is None:
        return
    kill_pid(p.pid)
    try:
        p.wait(10)
    except subprocess.TimeoutExpired:
        pass


# ---- one run ---------------------------------------------------------------

def run_updater(rng, upd, app, answers, silent, action=None, cwd=None):
    """Runs the update through the robot (started in cwd, a Linux folder,
    when given); action(trace, updater pids) may act during the run and
    returns whether it killed. Returns (exit line, killed)."""
    if os.path.exists(TRACE):
        os.remove(TRACE)
    out = os.path.join(ROOT_C, "robot.out")
    args = [os.path.join(BUILD, "bin", "LumiupdRobot.exe"), "--timeout", "60"]
    for a in answers:
        args += ["--answer", a]
    args += ["--", win_path(os.path.join(upd, "Lumiupd.exe")), "-auto"] + (["-silent"] if silent else [])
    args += [win_path(app)]
    robot = wine(args, out, cwd)
    marker = win_path(upd)
    killed = False
    if action:
        killed = action(robot, marker)
    try:
        robot.wait(90)
    except subprocess.TimeoutExpired:
        kill_pid(robot.pid)
        robot.wait()
    for pid in wine_pids("Lumiupd.exe", marker):
        kill_pid(pid)
    with open(out, "rb") as f:
        text = f.read().decode("utf-8", "replace")
    codes = re.findall(r"exit code: (-?\d+)(.*)", text)
    return (codes[-1][0] + codes[-1][1].strip() if codes else "none"), killed


def temporary_bytes(app):
    """The size of the largest temporary name under app (-1 when none)."""
    largest = -1
    for path in leftovers(app):
        try:
            largest = max(largest, os.path.getsize(path))
        except OSError:
            pass
    return largest


def make_kill(rng, commands, app, tight):
    """The action that kills the run: (kind, trigger) chosen at random. The
    trigger is a trace line, a moment, or a temporary name holding a number
    of bytes (inside a copy, which the trace cannot point at; on a tight
    drive mostly that, since what a killed copy leaves takes its room)."""
    kind = "server" if rng.random() < 0.2 else "pid"
    needle, occurrence, after, inside = None, 0, 0, None
    roll = rng.uniform(0.5, 0.75) if tight and rng.random() < 0.6 else rng.random()
    if roll < 0.5:
        act = rng.choice([c[0] for c in commands])
        needle = rng.choice(KILL_LINES[act])
        count = sum(1 for c in commands if c[0] == act)
        occurrence = min(rng.randint(1, count), rng.randint(1, count))  # early ones are reached more often
        after = rng.choice([0, 0, 0.001, 0.005, 0.02])
        text = "%s#%d" % (repr(needle)[2:-1], occurrence)
    elif roll < 0.75:
        inside = rng.choice([0, 4096, 64 * 1024, 512 * 1024, 1024 * 1024])
        text = "a temporary name of %d bytes" % inside
    else:
        after = rng.uniform(0.05, 0.25 * len(commands) + 0.6)
        text = "%.2fs" % after

    def reached(trace, t0):
        if needle is not None:
            return trace.count(needle) >= occurrence
        if inside is not None:
            return temporary_bytes(app) >= inside
        return time.time() - t0 >= after

    def act(robot, marker):
        t0 = time.time()
        trace = Trace()
        pids = []
        while time.time() - t0 < 60 and robot.poll() is None:
            if not pids:  # looked up ahead, so that the kill comes at once
                pids = wine_pids("Lumiupd.exe", marker)
            if reached(trace, t0):
                if needle is not None and after:
                    time.sleep(after)
                break
            time.sleep(0.0002)
        else:
            return False
        if kind == "server":
            server_kill()
            server_start()
            return True
        pids = pids or wine_pids("Lumiupd.exe", marker)
        for pid in pids:
            kill_pid(pid)
        if VERBOSE:
            log("  killed %s at %.3fs; trace ends %r" % (pids, time.time() - t0, trace.read()[-120:]))
        return bool(pids)

    return act, "%s after %s" % (kind, text)


def check(app, before, commands, new, figures, what, in_place=()):
    """Counts what the run broke: installed files lost or partial (apart
    when written in place: in_place), settings keys lost, history lines cut."""
    expect = {name: {h} for name, h in before.items()}
    for act, name in commands:
        if act == "copy":
            expect.setdefault(name, {None}).add(new.get(name))
        elif act == "remove":
            expect.setdefault(name, set()).add(None)
    after = installed_tree(app)
    for name, allowed in expect.items():
        if name in ("MIRO42.INI", "update.log"):
            continue
        got = after.get(name)
        if got in allowed:
            continue
        if got is None:
            figures["lost"] += 1
            print("soak: LOST %s (%s)" % (name, what), flush=True)
        elif name in in_place:
            figures["inplace_partial"] += 1
            print("soak: PARTIAL IN PLACE %s (%s)" % (name, what), flush=True)
        else:
            figures["partial"] += 1
            print("soak: PARTIAL %s (%s, %d bytes)" % (name, what, os.path.getsize(os.path.join(app, name.replace("\\", "/")))), flush=True)
    check_settings(app, figures, what)
    check_history(app, commands, figures, what)


def check_settings(app, figures, what):
    old = parse_ini(INI_TEXT.encode())
    path = os.path.join(app, "MIRO42.INI")
    got = parse_ini(open(path, "rb").read()) if os.path.exists(path) else None
    missing = []
    for section, keys in old.items():
        for key, value in keys.items():
            have = (got or {}).get(section, {}).get(key)
            if section == "MAIN" and key == "INSTALLED":
                ids = set((have or "").split(","))
                if not {"OLD1", "OLD2"} <= ids or not ids <= {"OLD1", "OLD2", ID}:
                    missing.append("INSTALLED=%s" % have)
            elif have != value:
                missing.append("%s.%s" % (section, key))
    # Nothing but INSTALLED's value may change, byte for byte.
    if got is not None and not missing:
        data = open(path, "rb").read()
        value = re.compile(rb"(\r\nINSTALLED=)[^\r\n]*(\r\n)")
        if value.sub(rb"\1\2", data, 1) != value.sub(rb"\1\2", INI_TEXT.encode(), 1):
            missing.append("bytes outside INSTALLED")
    if missing:
        figures["settings_lost"] += 1
        size = os.path.getsize(path) if os.path.exists(path) else -1
        print("soak: SETTINGS LOST MIRO42.INI (%s, %d bytes): %s" % (what, size, " ".join(missing[:4])), flush=True)


def check_history(app, commands, figures, what):
    data = open(os.path.join(app, "update.log"), "rb").read() if os.path.exists(os.path.join(app, "update.log")) else b""
    rest = data[len(LOG_TEXT):] if data.startswith(LOG_TEXT.encode()) else None
    line = re.compile(rb"^(\d{8}\t%s\tsoak\trun\r\n)*$" % ID.encode())
    if rest is None or not line.match(rest):
        figures["partial"] += 1
        print("soak: PARTIAL update.log (%s): %r" % (what, data[-80:]), flush=True)


def folders(app):
    """The relative names of every folder under app (leftovers excluded)."""
    return {os.path.relpath(os.path.join(f, d), app).replace("/", "\\")
            for f, ds, _ in os.walk(app) for d in ds if not LEFTOVER.search(d)}


def snapshot(app):
    """What an all-or-nothing run is judged by: every file's digest (the
    settings and the history included) and every folder."""
    return installed_tree(app), folders(app)


def wholly(app, before, commands, new):
    """"old" when the installed copy is exactly as it was, "new" when every
    command of the update is in it (the id registered, one history line or
    more), else "mixed"."""
    files, dirs = snapshot(app)
    if (files, dirs) == before:
        return "old"
    want = dict(before[0])
    want_dirs = set(before[1])
    for act, name in commands:
        if act == "copy":
            want[name] = new[name]
        elif act == "remove":
            want.pop(name, None)
        elif act == "create":
            want_dirs.add(name)
    for name in ("MIRO42.INI", "update.log"):
        want.pop(name, None)
    got = dict(files)
    ini = got.pop("MIRO42.INI", None)
    history = got.pop("update.log", None)
    if got != want or dirs != want_dirs or ini is None or history is None:
        old_files = dict(before[0])
        return "mixed: " + " ".join(sorted(
            "%s(%s)" % (n, "old" if got.get(n) == old_files.get(n) else "gone" if n not in got else "other")
            for n in set(got) | set(want) if got.get(n) != want.get(n)) + ["dirs"] * (dirs != want_dirs))
    settings = parse_ini(open(os.path.join(app, "MIRO42.INI"), "rb").read())
    expect = parse_ini(INI_TEXT.encode())
    # A later run of the same update adds the id again, as the merge does.
    installed = (settings or {}).get("MAIN", {}).get("INSTALLED", "")
    if re.match(r"^OLD1,OLD2(,%s)+$" % ID, installed):
        expect["MAIN"]["INSTALLED"] = installed
    if settings != expect:
        return "mixed: MIRO42.INI INSTALLED=%s" % (settings or {}).get("MAIN", {}).get("INSTALLED")
    data = open(os.path.join(app, "update.log"), "rb").read()
    lines = re.compile(rb"^(\d{8}\t%s\tsoak\trun\r\n)%s$" % (ID.encode(), b"+" if ("log", "soak/run") in commands else b"{0}"))
    if not data.startswith(LOG_TEXT.encode()) or not lines.match(data[len(LOG_TEXT):]):
        return "mixed: update.log %r" % data[len(LOG_TEXT) - 10:]
    return "new"


def judge_atomic(app, before, commands, new, figures, what, code=None):
    """Counts an all-or-nothing run that left neither: after a failure the
    copy must be old, after a success new, after a kill and a later run
    either."""
    state = wholly(app, before, commands, new)
    allowed = {"0": ("new",)}.get(code, ("old",)) if code is not None else ("old", "new")
    if state not in allowed:
        figures["mixed"] += 1
        print("soak: MIXED (%s, exit %s, %s)" % (what, code, state), flush=True)
    return state


def atomic_wanted(rng):
    choice = os.environ.get("ATOMIC", "")
    return choice == "1" or (choice != "0" and rng.random() < 0.5)


def make_failing_update(upd, atomic):
    """An update whose first command fails: the run that follows a kill or
    a cut then shows what the recovery alone left."""
    remove_tree(upd)
    os.makedirs(upd)
    put_script(upd, ["id=OTHER", "target=9"] + (["atomic=1"] if atomic else []) + ["copy=missing.dat"])


def one_run(rng, k, figures):
    small = rng.random() < 0.35
    app = os.path.join(SMALL_DIR if small else ROOT_C, "app")
    upd = os.path.join(ROOT_C, "u%d" % k)
    names = make_installed(rng, app, small)
    atomic = atomic_wanted(rng)
    commands, new = make_update(rng, upd, app, names, small, atomic)
    before = installed_tree(app)
    whole_before = snapshot(app)
    faults = ["atomic"] if atomic else []
    holder = filler = None
    # A packaged folder raced by another program once it is checked: such a
    # run is not killed, since a killed updater lets go of the folder.
    # (All or nothing only: fewer of them, so that more runs are killed.)
    packaged = not small and rng.random() < (0.3 if os.environ.get("ATOMIC") == "1" else 0.6)
    planter = packaged and rng.random() < 0.5
    plant_early = planter and rng.random() < 0.5
    if planter:
        add_plug_ins(upd)
        remove_tree(MARKERS)
    if packaged:
        package(upd)
        faults.append("planter" + (" before the run" if plant_early else "") if planter else "swapper")
    if plant_early:
        plant(upd)
    targets = [n for a, n in commands if a in ("copy", "remove") and n in before]
    if targets and rng.random() < 0.3:
        name = rng.choice(targets)
        os.chmod(os.path.join(app, name.replace("\\", "/")), 0o444)
        faults.append("read-only " + name)
    in_place = set()
    if targets and rng.random() < 0.3:
        name = rng.choice(targets)
        shared = rng.random() < 0.5
        holder = start_holder(app, name, str(k), shared)
        faults.append(("held rw " if shared else "held ") + name)
        if shared and ("copy", name) in commands and not any(f == "read-only " + name for f in faults):
            in_place.add(name)
    copies = [n for a, n in commands if a == "copy"]
    vanish = rng.choice(copies) if copies and rng.random() < 0.3 and not packaged else None
    if vanish:
        faults.append("source removed " + vanish)
    tight = None
    if small and rng.random() < 0.6:
        filler = Filler()
        filler.start()
        faults.append("disk filled")
    elif small:
        tight = make_tight(rng, upd, app)
        faults.append("tight drive")
    kill, kill_text = make_kill(rng, commands, app, tight) if rng.random() < 0.55 and not packaged else (None, "")
    fill_at = rng.randint(1, 6)
    vanish_at = rng.randint(1, 4)
    # Ignore skips a command, and all or nothing has no such middle.
    answers = [rng.choice(ANSWERS[:2] if atomic else ANSWERS) for _ in range(rng.randint(0, 10))]

    def action(robot, marker):
        # The faults that come during the run, then the kill.
        t0, trace = time.time(), Trace()
        while packaged and robot.poll() is None and time.time() - t0 < 30 and not trace.count(b"nResult = "):
            if trace.count(b"\tupdate folder verified - "):
                if not planter:
                    swapper_box[0] = start_swapper(upd, str(k))
                elif not plant_early:
                    plant(upd)
                break
            time.sleep(0.0005)
        while (filler or vanish) and robot.poll() is None and time.time() - t0 < 30:
            seen = trace.handlers_since_checks()
            if filler and not filler.go.is_set() and seen >= fill_at:
                filler.go.set()
            if vanish and not vanish_done[0] and seen >= vanish_at:
                try:
                    os.remove(os.path.join(upd, vanish.replace("\\", "/")))
                except FileNotFoundError:
                    pass
                vanish_done[0] = True
            if (not filler or filler.go.is_set()) and (not vanish or vanish_done[0]):
                break
            time.sleep(0.0005)
        return kill(robot, marker) if kill else False

    vanish_done = [False]
    swapper_box = [None]
    what = "run %d: %s%s" % (k, ", ".join(faults) or "no fault", ", kill " + kill_text if kill else "")
    try:
        # A planter run starts in the update folder, as a double click does.
        code, killed = run_updater(rng, upd, app, answers, rng.random() < 0.5, action, upd if planter else None)
    finally:
        if filler:
            filler.finish()
        stop_process(holder)
        if swapper_box[0]:
            figures["swapper_runs"] += 1
            landed = swaps_landed(swapper_box[0])
            figures["swapped"] += landed
            if landed:
                print("soak: SWAPPED %d times during %s" % (landed, what), flush=True)
    log("%s -> %s" % (what, code))
    if planter:
        figures["planter_runs"] += 1
        ran = unlisted_ran(upd)
        figures["unlisted_run"] += len(ran)
        if ran:
            print("soak: UNLISTED CODE RAN during %s: %s" % (what, " ".join(ran)), flush=True)
    figures["runs"] += 1
    figures["atomic_runs"] += atomic
    figures["fault_runs"] += bool(faults) and faults != ["atomic"]
    figures["inplace_runs"] += bool(in_place)
    if "timed out" in code:
        figures["hangs"] += 1
        print("soak: HANG (%s)" % what, flush=True)
    # Only a kill may leave a copy written in place partial (until the next
    # run finishes the write).
    check(app, before, commands, new, figures, what, in_place if killed else ())
    if atomic and not killed:
        judge_atomic(app, whole_before, commands, new, figures, what, re.match(r"-?\d*", code).group())
    if not killed:
        count_leftovers(app, figures, what)
        remove_tree(upd)
        if tight:
            os.remove(tight)
        return
    figures["kills"] += 1
    figures["atomic_kills"] += atomic
    # The next run over the same folder: the same update, or another one
    # (all or nothing: one that fails at once, so that what the recovery
    # left stays to be judged).
    for root, _, files in os.walk(app):
        for n in files:
            os.chmod(os.path.join(root, n), 0o644)
    if not atomic:
        before = installed_tree(app)
    other = rng.random() < 0.3
    if other and atomic:
        make_failing_update(upd, atomic)
    elif other:
        remove_tree(upd)
        names = [n for n in before if n.endswith(".dat") and n != "RT_IDX.DAT"]
        commands, new = make_update(rng, upd, app, names, small)
    code, _ = run_updater(rng, upd, app, [] if atomic else ["ignore"] * 12, True)
    log("  rerun -> %s" % code)
    check(app, before, commands, new, figures, what + ", rerun")
    if atomic:
        judge_atomic(app, whole_before, commands, new, figures, what + ", rerun")
    count_leftovers(app, figures, what + ", rerun (exit %s)" % code, other and atomic)
    remove_tree(upd)
    if tight:
        os.remove(tight)


def count_leftovers(app, figures, what, top_only=False):
    """Names a run left; top_only: in app itself only (a run clears what a
    cut-short one left only in the folders it writes into)."""
    left = [p for p in leftovers(app) if not top_only or os.path.dirname(p) == app.rstrip("/")]
    if left:
        figures["leftovers"] += len(left)
        print("soak: LEFTOVER %s (%s)" % (" ".join(os.path.relpath(p, app) for p in left), what), flush=True)


def bad_figures(figures):
    return sum(figures[n] for n in ("lost", "partial", "leftovers", "settings_lost", "swapped", "unlisted_run",
                                     "mixed", "hangs"))


def keep_traces(k):
    """The trace logs of a run that broke something (the last run's and the
    one before it, which the updater keeps as Lumiupd.1.log), for reading."""
    kept = os.path.join(BUILD, "soak-kept")
    os.makedirs(kept, exist_ok=True)
    for source, name in ((TRACE, "run%d.log" % k), (TRACE[:-len(".log")] + ".1.log", "run%d.before.log" % k)):
        if os.path.exists(source):
            shutil.copyfile(source, os.path.join(kept, name))
    print("soak: traces of run %d kept in %s" % (k, kept), flush=True)


def find_trace():
    """The Linux path of %TEMP%\\Lumiupd.log of the prefix."""
    out = os.path.join(ROOT_C, "temp.out")
    wine(["cmd", "/c", "echo", "%TEMP%"], out).wait()
    temp = open(out, "rb").read().decode("latin-1").strip().splitlines()[-1].strip()
    return os.path.join(DRIVE_C, temp[3:].replace("\\", "/"), "Lumiupd.log")


def power_cuts(rng, figures, t0):
    import soakcut
    cuts = soakcut.CutState()
    DRIVES.append((os.path.join(BUILD, "powercut", "mnt"), soakcut.LETTER.upper() + ":"))
    for k in range(RUNS):
        soakcut.one_cut_run(rng, k, figures, cuts)
    bad = figures["broken"] + figures["mixed"] + figures["undurable"] + figures["leftovers"]
    print("soak: power cuts: cuts=%(cuts)d atomic_cuts=%(atomic_cuts)d broken=%(broken)d mixed=%(mixed)d "
          "undurable=%(undurable)d leftovers=%(leftovers)d hangs=%(hangs)d" % figures
          + " seed=%d seconds=%d" % (SEED, time.time() - t0), flush=True)
    return 1 if bad else 0


def main():
    global TRACE
    figures = dict(runs=0, kills=0, fault_runs=0, lost=0, partial=0, leftovers=0, settings_lost=0, hangs=0,
                   swapper_runs=0, swapped=0, planter_runs=0, unlisted_run=0, inplace_runs=0, inplace_partial=0,
                   atomic_runs=0, atomic_kills=0, mixed=0, cuts=0, atomic_cuts=0, broken=0, undurable=0)
    rng = random.Random(SEED)

    def stop(signum, frame):
        raise SystemExit(130)

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)
    subprocess.run([SMALLDISK, "mount", BUILD, SMALL_LETTER, SMALL_SIZE], stdout=subprocess.DEVNULL, check=True)
    code = 2
    try:
        if not os.path.ismount(SMALL_DIR):
            print("soak: no small drive (mounting a tmpfs needs root)", file=sys.stderr)
            return 2
        os.makedirs(ROOT_C, exist_ok=True)
        TRACE = find_trace()
        t0 = time.time()
        if POWERCUT:
            return power_cuts(rng, figures, t0)
        for k in range(RUNS):
            bad_before = bad_figures(figures)
            one_run(rng, k, figures)
            if bad_figures(figures) > bad_before:
                keep_traces(k)
        bad = (figures["lost"] + figures["partial"] + figures["leftovers"] + figures["settings_lost"] + figures["swapped"]
               + figures["unlisted_run"] + figures["mixed"])
        code = 1 if bad else 0
        print("soak: runs=%(runs)d kills=%(kills)d fault_runs=%(fault_runs)d lost=%(lost)d partial=%(partial)d "
              "leftovers=%(leftovers)d settings_lost=%(settings_lost)d hangs=%(hangs)d "
              "swapper_runs=%(swapper_runs)d swapped=%(swapped)d planter_runs=%(planter_runs)d "
              "unlisted_run=%(unlisted_run)d inplace_runs=%(inplace_runs)d "
              "inplace_partial=%(inplace_partial)d atomic_runs=%(atomic_runs)d atomic_kills=%(atomic_kills)d "
              "mixed=%(mixed)d" % figures
              + " seed=%d seconds=%d" % (SEED, time.time() - t0), flush=True)
    finally:
        for p in started:
            if p.poll() is None:
                kill_pid(p.pid)
                p.wait()
        remove_tree(os.path.join(SMALL_DIR, "app"))
        subprocess.run([SMALLDISK, "umount", BUILD, SMALL_LETTER], stdout=subprocess.DEVNULL)
        if POWERCUT:
            import soakcut
            soakcut.CutDrive(os.path.join(BUILD, "powercut")).clear()
        remove_tree(ROOT_C)
    return code


if __name__ == "__main__":
    # scripts/soakcut.py imports this module by name: it gets this very one.
    sys.modules.setdefault("soak", sys.modules[__name__])
    sys.exit(main())
