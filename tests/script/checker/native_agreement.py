#!/usr/bin/env python3
"""Both checkers on every script of the suite: LumiupdCheck.exe under Wine and
the native lumiupd-check must end with the same code and report the same
findings and result (the summary shows each machine's folders and is left
out). The exe writes code page 932; it is read here the way lumiupd-check
converts its own output: a byte that is no CP932 character becomes \\xNN.

Usage: native_agreement.py BUILD_DIR SOURCE_DIR (inside with-wine-env.sh)
"""
import os
import shutil
import subprocess
import sys

build, source = sys.argv[1], sys.argv[2]
native = os.path.join(build, "bin", "lumiupd-check")
exe = os.path.join(build, "bin", "LumiupdCheck.exe")
wine_run = os.path.join(build, "wine-run.sh")


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def is_lead(c):
    return 0x81 <= c <= 0x9F or 0xE0 <= c <= 0xFC


def is_trail(c):
    return 0x40 <= c <= 0x7E or 0x80 <= c <= 0xFC


def cp932_as_utf8(data):
    out, i = [], 0
    while i < len(data):
        c = data[i]
        if c < 0x80:
            out.append(chr(c))
            i += 1
            continue
        n = 1 if 0xA1 <= c <= 0xDF else 2 if is_lead(c) and i + 1 < len(data) and is_trail(data[i + 1]) else 0
        if n:
            try:
                out.append(data[i:i + n].decode("cp932"))
                i += n
                continue
            except UnicodeDecodeError:
                pass
        k = n or 1
        out.append("".join("\\x%02x" % b for b in data[i:i + k]))
        i += k
    return "".join(out)


def reported(text, path, folder):
    """The output's lines without the summary (but its count of the update
    folder), the script's path as SCRIPT, the update folder as FOLDER/ and
    the files in it, which each system lists in its own order, sorted. Wine
    spells the users folder in lower case, Windows (and the native checker's
    folders) in capitals."""
    lines, files, in_summary = [], [], False
    text = text.replace(path, "SCRIPT").replace("C:\\users\\", "C:\\Users\\")
    if folder:
        text = text.replace(folder, "FOLDER/")
    for line in text.split("\n"):
        if line == "SUMMARY":
            in_summary = True
        elif line.startswith("RESULT: "):
            in_summary = False
        if line.startswith("FOLDER/"):
            name, sep, rest = line.partition(": ")
            files.append(name.replace("\\", "/") + sep + rest)
        elif not in_summary or line.startswith("  update folder:"):
            lines.append(line)
    return lines + sorted(files)


def run_both(path, folder=None):
    win_args, nat_args = [windows_path(path)], [path]
    if folder:
        win_args.append(windows_path(folder))
        nat_args.append(folder)
    win = subprocess.run([wine_run, exe] + win_args, stdout=subprocess.PIPE, timeout=60)
    nat = subprocess.run([native] + nat_args, stdout=subprocess.PIPE, timeout=60)
    win_text = cp932_as_utf8(win.stdout.replace(b"\r\n", b"\n"))
    win_lines = reported(win_text, windows_path(path), folder and windows_path(folder) + "\\")
    nat_lines = reported(nat.stdout.decode("utf-8"), path, folder and folder + "/")
    return win.returncode, nat.returncode, win_lines, nat_lines


def staging_folder():
    """An update folder for docs/examples/every-command.INF with what a real
    one gets wrong: names in other letter case, a folder where a program
    should be, files no command uses, a Japanese name, a foreign updater,
    links to folders."""
    stage = os.path.join(build, "checker_agreement_folder")
    shutil.rmtree(stage, ignore_errors=True)
    files = {"miro42.dll": "library", "data/NEW.DAT": "new", "data/conv.dat": "c", "UPDHELP.DLL": "plug",
             "CONVERT.EXE/inside.bin": "x", "ソフト/表.dat": "table", "b.txt": "b", "A.txt": "aa",
             "Lumiupd.exe": "MZ"}
    for name, text in files.items():
        full = os.path.join(stage, name)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "w") as out:
            out.write(text)
    shutil.copy(os.path.join(source, "docs", "examples", "every-command.INF"), stage)
    # Folder links, which neither checker enters: a loop and a way out.
    away = os.path.join(build, "checker_agreement_away")
    os.makedirs(away, exist_ok=True)
    with open(os.path.join(away, "far.bin"), "w") as out:
        out.write("far")
    os.symlink(stage, os.path.join(stage, "data", "loop"))
    os.symlink(away, os.path.join(stage, "away"))
    return os.path.join(stage, "every-command.INF"), stage


def guide_block(guide, first, last):
    """The guide's indented block from the line first to the line last, without its indent."""
    lines = guide.split("\n")
    start = lines.index("    " + first)
    end = lines.index("    " + last, start)
    return [line[4:] for line in lines[start:end + 1]]


def guide_result_shown():
    """lumiupd-check --result on the guide's example result file prints what
    the guide shows it printing. 1 when it does not."""
    with open(os.path.join(source, "docs", "guide.md"), encoding="utf-8") as f:
        guide = f.read()
    shown = guide_block(guide, "$ build/bin/lumiupd-check --result result.json", "milliseconds: 1840")[1:]
    example = os.path.join(build, "checker_agreement_result.json")
    with open(example, "w", encoding="utf-8") as out:
        out.write("\n".join(guide_block(guide, "{", "}")) + "\n")
    got = subprocess.run([native, "--result", example], stdout=subprocess.PIPE, timeout=60)
    if got.returncode == 0 and got.stdout.decode("utf-8").split("\n") == shown + [""]:
        return 0
    print("DIFFERENT: lumiupd-check --result on the guide's example (exit %d):\n%s"
          % (got.returncode, got.stdout.decode("utf-8", "replace")))
    return 1


def main():
    dump = os.path.join(build, "checker_agreement")
    shutil.rmtree(dump, ignore_errors=True)
    os.makedirs(dump)
    made = subprocess.run([wine_run, os.path.join(build, "bin", "checker_scripts.exe"), windows_path(dump)],
                          stdout=subprocess.PIPE, timeout=120)
    if made.returncode != 0:
        print("checker_scripts.exe failed:", made.returncode)
        return 1
    scripts = sorted(os.path.join(dump, n) for n in os.listdir(dump))
    for folder in ("tests", "docs"):
        for root, _, names in os.walk(os.path.join(source, folder)):
            scripts += sorted(os.path.join(root, n) for n in names if n.upper().endswith(".INF"))
    failures, codes = 0, set()
    runs = [(path, None) for path in scripts] + [staging_folder()]
    for path, folder in runs:
        win_code, nat_code, win_lines, nat_lines = run_both(path, folder)
        codes.add(win_code)
        if win_code != nat_code or win_lines != nat_lines:
            failures += 1
            print("DIFFERENT: %s %s(exe %d, native %d)" % (path, folder or "", win_code, nat_code))
            for a, b in zip(win_lines + [""] * len(nat_lines), nat_lines + [""] * len(win_lines)):
                if a != b:
                    print("  exe:    %s\n  native: %s" % (a, b))
                    break
    print("%d scripts and one update folder, %d with different findings, exit codes seen: %s"
          % (len(scripts), failures, sorted(codes)))
    if len(scripts) < 20 or codes != {0, 1}:
        print("too few scripts or verdicts to compare")
        return 1
    return 1 if failures or guide_result_shown() else 0


sys.exit(main())
