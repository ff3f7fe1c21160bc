"""Power cuts for the soak (POWERCUT=1): the installed copy on drive P:, a
FUSE filesystem (scripts/powercutfs.py) that keeps only what was made
durable. Each run cuts the power at a random changing request of the
updater (or right after it ended), kills it, remounts the drive from what
survived and checks every file by hash; then the same update (or one that
fails at once) runs over it, the power is cut again right after it ended,
and everything is checked again.

Figures: "cuts" (and "atomic_cuts"), "broken" (a file neither its old nor
its new bytes, a settings file that lost a key, a history that is not its
old text plus whole lines), "mixed" (an all-or-nothing update neither
wholly old nor wholly new after the later run), "undurable" (a run that had
ended, whose changes a cut then took back in part).
"""
import os
import subprocess
import time

import soak

LETTER = "p"  # no test uses P:
MODELS = ["ordered", "ordered", "zeros", "zeros", "torn"]


class CutDrive:
    """One mount of the filesystem that loses power, as drive P:."""

    def __init__(self, base):
        self.base = base
        self.mnt = os.path.join(base, "mnt")
        self.ctl = os.path.join(base, "ctl")
        self.link = os.path.join(soak.PREFIX, "dosdevices", LETTER + ":")
        self.proc = None
        self.connection = None

    def mount(self, store, model, cut_after, seed, cut_from=None):
        soak.remove_tree(self.ctl)
        os.makedirs(self.ctl)
        os.makedirs(self.mnt, exist_ok=True)
        args = ["/usr/bin/python3", os.path.join(os.path.dirname(os.path.abspath(__file__)), "powercutfs.py"),
                store, self.mnt, self.ctl, "--model", model, "--cut-after", str(cut_after), "--seed", str(seed)]
        if cut_from:
            args += ["--cut-from", cut_from]
        if os.environ.get("POWERCUT_LOG"):
            args += ["--log", os.environ["POWERCUT_LOG"]]
        self.proc = subprocess.Popen(args, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                     stderr=open(os.path.join(self.base, "fs.err"), "ab"))
        for _ in range(500):
            if os.path.exists(os.path.join(self.ctl, "ready")) or self.proc.poll() is not None:
                break
            time.sleep(0.01)
        if not os.path.ismount(self.mnt):
            raise SystemExit("soak: the power-cut drive did not mount (see %s/fs.err)" % self.base)
        self.connection = os.minor(os.stat(self.mnt).st_dev)
        if os.path.lexists(self.link):
            os.remove(self.link)
        os.symlink(self.mnt, self.link)

    def is_cut(self):
        return os.path.exists(os.path.join(self.ctl, "cut.done"))

    def cut(self):
        """Cuts the power now (unless a request did); the folder of what survived."""
        if not self.is_cut():
            open(os.path.join(self.ctl, "cut"), "w").close()
        for _ in range(2000):
            if self.is_cut():
                break
            time.sleep(0.005)
        with open(os.path.join(self.ctl, "cut.done")) as f:
            return os.path.join(self.ctl, "after"), f.read().strip()

    def clear(self):
        """Whatever an interrupted soak left mounted or linked."""
        if os.path.lexists(self.link):
            os.remove(self.link)
        if os.path.ismount(self.mnt):
            subprocess.run(["umount", "-l", self.mnt], stderr=subprocess.DEVNULL)
        soak.remove_tree(self.base)

    def unmount(self):
        if os.path.lexists(self.link):
            os.remove(self.link)
        subprocess.run(["umount", "-l", self.mnt], stderr=subprocess.DEVNULL)
        try:
            self.proc.wait(10)
        except subprocess.TimeoutExpired:
            # A Wine process still holds a file there: drop the connection.
            with open("/sys/fs/fuse/connections/%d/abort" % self.connection, "w") as f:
                f.write("1")
            self.proc.wait(10)


def changes_of(figures_text):
    for item in figures_text.split():
        if item.startswith("changes="):
            return int(item[len("changes="):])
    return 0


def state_at_exit(app):
    """What the run left as the system saw it when it ended."""
    return soak.snapshot(app)


def count_undurable(live, after_app, figures, what):
    after = soak.snapshot(after_app)
    if live is not None and after != live:
        figures["undurable"] += 1
        names = sorted(n for n in set(after[0]) | set(live[0]) if after[0].get(n) != live[0].get(n))
        print("soak: UNDURABLE %s (%s)" % (" ".join(names + ["folders"] * (after[1] != live[1])), what), flush=True)


def count_broken(app, before, commands, new, figures, what, in_place=()):
    """Files neither old nor new; those written in place (in_place) only
    counted apart, until the next run has finished them."""
    local = dict(lost=0, partial=0, settings_lost=0, inplace_partial=0)
    soak.check(app, before, commands, new, local, what, in_place)
    figures["broken"] += local["lost"] + local["partial"] + local["settings_lost"]


class CutState:
    """Per-run knowledge: how many changing requests a command takes, so that
    the cut falls anywhere in a run and now and then after its end."""

    def __init__(self):
        self.per_command = 8.0

    def learn(self, changes, commands):
        if changes and commands:
            self.per_command = 0.7 * self.per_command + 0.3 * (changes / len(commands))


def run_cut(rng, k, drive, store, upd, answers, cut, model, holder_name):
    """One run on the mounted store, cut at cut = (change, counted from the
    first change of a file of this name or None); change 0: after it ended.
    Returns (exit code, the state at its end or None, what survived, figures,
    the temporary names at its end)."""
    drive.mount(store, model, cut[0], rng.randint(0, 1 << 30), cut[1])
    app = os.path.join(drive.mnt, "app")
    holder = soak.start_holder(app, holder_name, "cut%d" % k, True) if holder_name else None

    def action(robot, marker):
        t0 = time.time()
        while robot.poll() is None and time.time() - t0 < 80:
            if drive.is_cut():
                for pid in soak.wine_pids("Lumiupd.exe", marker):
                    soak.kill_pid(pid)
                return True
            time.sleep(0.0005)
        return False

    try:
        code, killed = soak.run_updater(rng, upd, app, answers, True, action)
        live = None if killed or drive.is_cut() else state_at_exit(app)
        left = soak.leftovers(app) if live is not None else []
        after, text = drive.cut()
    finally:
        soak.stop_process(holder)
        drive.unmount()
    return code, live, after, text, left


def one_cut_run(rng, k, figures, cuts):
    base = os.path.join(soak.BUILD, "powercut")
    drive = CutDrive(base)
    gen0 = os.path.join(base, "g0")
    soak.remove_tree(gen0)
    app0 = os.path.join(gen0, "app")
    upd = os.path.join(soak.ROOT_C, "u%d" % k)
    names = soak.make_installed(rng, app0, False)
    atomic = soak.atomic_wanted(rng)
    commands, new = soak.make_update(rng, upd, app0, names, False, atomic)
    before = soak.installed_tree(app0)
    whole_before = soak.snapshot(app0)
    model = rng.choice(MODELS)
    # The application holding its settings file, or a data file the update
    # copies (sharing reading and writing), makes that write go in place.
    copied = [n for a, n in commands if a == "copy" and "\\" not in n and n in before]
    roll = rng.random()
    holder = "MIRO42.INI" if roll < 0.3 else rng.choice(copied) if copied and roll < 0.5 else None
    in_place = {holder} if holder and holder != "MIRO42.INI" else set()
    estimate = max(10, int(cuts.per_command * len(commands)))
    # Anywhere in the run, or (more often than that would) within the writes
    # of the settings file or the history.
    cut = (rng.randint(1, int(estimate * 1.25) + 1), None)
    if rng.random() < 0.4:
        cut = (rng.randint(1, 10), rng.choice(["MIRO42.INI", "update.log"] + list(in_place)))
    answers = [rng.choice(soak.ANSWERS[:2] if atomic else soak.ANSWERS) for _ in range(rng.randint(0, 6))]
    what = "cut run %d: %s, %s model, cut at change %d%s%s" % (
        k, "atomic" if atomic else "plain", model, cut[0], " of " + cut[1] if cut[1] else "",
        ", %s held" % holder if holder else "")
    code, live, after, text, _ = run_cut(rng, k, drive, gen0, upd, answers, cut, model, holder)
    if live is not None and not cut[1]:
        cuts.learn(changes_of(text), commands)
    soak.log("%s -> %s (%s)" % (what, code, text))
    figures["cuts"] += 1
    figures["atomic_cuts"] += atomic
    if "timed out" in code:
        figures["hangs"] += 1
        print("soak: HANG (%s)" % what, flush=True)
    app1 = os.path.join(after, "app")
    # An all-or-nothing update cut in its burst is whole only once the next
    # run has finished it: it is judged after that run.
    # A write in place cut short is finished by the next run too.
    if not atomic:
        count_broken(app1, before, commands, new, figures, what, in_place)
    count_undurable(live, app1, figures, what + ", cut after its end")
    # The next run over what survived: the same update, or one that fails.
    gen1 = os.path.join(base, "g1")
    soak.remove_tree(gen1)
    os.rename(after, gen1)
    failing = rng.random() < 0.3
    if failing:
        soak.make_failing_update(upd, atomic)
    code2, live2, after2, text2, left = run_cut(rng, k, drive, gen1, upd, [] if atomic else ["ignore"] * 12,
                                                (0, None), model, None)
    soak.log("  rerun -> %s (%s)" % (code2, text2))
    app2 = os.path.join(after2, "app")
    what += ", rerun"
    count_broken(app2, before, commands, new, figures, what)
    count_undurable(live2, app2, figures, what + " cut after its end")
    if atomic:
        soak.judge_atomic(app2, whole_before, commands, new, figures, what)
    # What a cut leaves under a temporary name is cleared by the next run
    # that writes into its folder; the same update writes into all of them.
    if left and not failing:
        figures["leftovers"] += len(left)
        print("soak: LEFTOVER %s (%s, exit %s)" % (" ".join(os.path.basename(p) for p in left), what, code2), flush=True)
    soak.remove_tree(upd)
    soak.remove_tree(gen1)
    soak.remove_tree(after2)
