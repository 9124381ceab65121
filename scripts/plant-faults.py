#!/usr/bin/env python3
"""Plants known faults in the module, one at a time, and runs the whole suite on each.

Usage: scripts/plant-faults.py [--work DIR] [--only NAME ...] [--list]

The tree's tracked files (as they are on disk) are copied to DIR/src (default: build-faults/ in
the tree) and built there once; each fault then edits one module source in that copy, runs
scripts/test.sh with CTest's --stop-on-failure, and is put back. A fault is caught when a case
fails with it and the same case passes on the untouched copy (checked once at the end, so that a
case that fails for other reasons is never credited). Prints a table of faults and the case that
caught each; exits non-zero if any fault went uncaught or no longer applies.
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import time

# name, file, text as it stands, text with the fault, what the fault is
FAULTS = [
    ("swapped-registry-values", "settings/settings_store.cpp",
     '    WriteText(key, "Profile", profile);\n    WriteText(key, "Password", password);\n',
     '    WriteText(key, "Profile", password);\n    WriteText(key, "Password", profile);\n',
     "Apply stores the password under \"Profile\" and the profile under \"Password\""),
    ("missing-table-release", "settings/logon_page.cpp",
     "    if (table)\n        table->Release();\n    admin->Release();\n",
     "    admin->Release();\n",
     "the profile table is never released"),
    ("read-bound-off-by-one", "settings/settings_store.cpp",
     "    DWORD size = SettingTextCapacity;\n",
     "    DWORD size = SettingTextCapacity - 1;\n",
     "a stored text of the field's full length no longer reads back"),
    ("lost-call-next-hook", "host/inject.cpp",
     "    return CallNextHookEx(MenuTriggerHook, code, wParam, lParam);\n",
     "    if (code < 0)\n        return CallNextHookEx(MenuTriggerHook, code, wParam, lParam);\n    return 0;\n",
     "the menu-trigger hook passes on only negative codes, swallowing every message"),
    ("router-skips-replaced", "host/router.cpp",
     "    LRESULT result = ansi ? CallWindowProcA(replaced, window, message, wParam, lParam)\n"
     "                          : CallWindowProcW(replaced, window, message, wParam, lParam);\n",
     "    LRESULT result = ansi ? DefWindowProcA(window, message, wParam, lParam)\n"
     "                          : DefWindowProcW(window, message, wParam, lParam);\n",
     "the router answers with DefWindowProc instead of the procedure it replaced"),
    ("hand-cursor-kept", "about/about_dialog.cpp",
     "    if (HandCursor)\n        DestroyCursor(HandCursor);\n",
     "",
     "the About box's hand cursor is never destroyed"),
    ("mapi-left-initialised", "settings/settings_sheet.cpp",
     "void UninitMapi()\n{\n    MAPIUninitialize();\n}\n",
     "void UninitMapi()\n{\n}\n",
     "the sheet leaves MAPI initialised"),
]


def run(command, cwd, log):
    with open(log, "w") as out:
        return subprocess.run(command, cwd=cwd, stdout=out, stderr=subprocess.STDOUT).returncode


def failed_cases(log):
    """The names CTest lists as failed (after 'The following tests FAILED:')."""
    with open(log, errors="replace") as text:
        lines = text.read().splitlines()
    names = []
    listing = False
    for line in lines:
        if "The following tests FAILED:" in line or "The following tests did not run:" in line:
            listing = True
            continue
        match = re.match(r"\s+\d+ - (\S+) \(", line) if listing else None
        if match:
            names.append(match.group(1))
        elif listing and line.strip() and not line.startswith("\t") and not line.startswith(" "):
            listing = False
    return names


def copy_tree(root, destination):
    files = subprocess.run(["git", "ls-files", "-z"], cwd=root, check=True,
                           stdout=subprocess.PIPE).stdout.split(b"\0")
    for name in filter(None, files):
        source = os.path.join(root, os.fsdecode(name))
        if not os.path.lexists(source):
            continue
        target = os.path.join(destination, os.fsdecode(name))
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copy2(source, target, follow_symlinks=False)
    # The package test copies the tracked files of its source tree: make the copy a repository.
    git = ["git", "-c", "user.name=plant-faults", "-c", "user.email=plant-faults@localhost",
           "-c", "commit.gpgsign=false", "-c", "init.defaultBranch=main"]
    subprocess.run(git + ["init", "-q"], cwd=destination, check=True)
    subprocess.run(git + ["add", "-A"], cwd=destination, check=True)
    subprocess.run(git + ["commit", "-q", "-m", "copy"], cwd=destination, check=True)


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--work", default=os.path.join(root, "build-faults"))
    parser.add_argument("--only", nargs="+", default=None, help="fault names to plant")
    parser.add_argument("--list", action="store_true", help="list the faults and exit")
    options = parser.parse_args()

    faults = [f for f in FAULTS if options.only is None or f[0] in options.only]
    if options.list or not faults:
        for name, path, _, _, what in FAULTS:
            print(f"{name:26} {path:30} {what}")
        return 0 if faults else 2

    work = os.path.abspath(options.work)
    source = os.path.join(work, "src")
    build = os.path.join(work, "build")
    shutil.rmtree(source, ignore_errors=True)
    os.makedirs(source)
    copy_tree(root, source)

    # Every fault must still apply to the tree as it stands: a pattern that moved is an error.
    for name, path, original, faulty, _ in faults:
        with open(os.path.join(source, path)) as text:
            count = text.read().count(original)
        if count != 1:
            print(f"plant-faults: {name}: the text to change occurs {count} times in {path}", file=sys.stderr)
            return 2

    results = []
    for name, path, original, faulty, what in faults:
        file = os.path.join(source, path)
        with open(file) as text:
            pristine = text.read()
        with open(file, "w") as text:
            text.write(pristine.replace(original, faulty))
        began = time.time()
        log = os.path.join(work, f"{name}.log")
        print(f"plant-faults: {name}: {what} ...", flush=True)
        status = run(["bash", "scripts/test.sh", build, "--stop-on-failure"], source, log)
        with open(file, "w") as text:
            text.write(pristine)
        caught = failed_cases(log) if status != 0 else []
        results.append((name, what, caught, status, time.time() - began))
        print(f"plant-faults: {name}: {'caught by ' + ', '.join(caught) if caught else 'NOT CAUGHT'}"
              f" ({time.time() - began:.0f} s, log {log})", flush=True)

    # The catching cases must pass on the untouched copy.
    catching = sorted({case for _, _, caught, _, _ in results for case in caught})
    clean_failures = set()
    if catching:
        log = os.path.join(work, "untouched.log")
        pattern = "^(" + "|".join(re.escape(case) for case in catching) + ")$"
        if run(["bash", "scripts/test.sh", build, "-R", pattern], source, log) != 0:
            clean_failures = set(failed_cases(log)) or set(catching)

    print()
    print(f"{'fault':26} {'caught by':60} seconds")
    uncaught = 0
    for name, what, caught, status, seconds in results:
        credited = [case for case in caught if case not in clean_failures]
        if not credited:
            uncaught += 1
        shown = ", ".join(credited) if credited else "NOT CAUGHT" + (f" (exit {status})" if status else "")
        print(f"{name:26} {shown:60} {seconds:.0f}")
    if clean_failures:
        print("failing on the untouched tree too (not credited):", ", ".join(sorted(clean_failures)))
    return 1 if uncaught else 0


if __name__ == "__main__":
    sys.exit(main())
