#!/usr/bin/env python3
"""The include-layer check on crafted trees: a cycle fails (directly or through a third
folder, or between top-level folders only), one-way includes and includes of missing folders
pass.
Usage: check_include_layers_test.py PATH_TO_check_include_layers.py"""
import os
import subprocess
import sys
import tempfile

SCRIPT = sys.argv[1]

# (name, {file: includes}, expected exit status, text the output must hold)
CASES = [
    ("two folders include each other",
     {"fits/a/x.cpp": ["fits/b/y.h"], "fits/b/y.h": ["fits/a/x.h"], "fits/a/x.h": []},
     1, "include cycle: fits/a -> fits/b -> fits/a"),
    ("cycle through a third folder",
     {"fits/a/x.h": ["fits/b/y.h"], "fits/b/y.h": ["orlix/z.h"], "orlix/z.h": ["fits/a/x.h"]},
     1, "include cycle"),
    ("one direction only",
     {"fits/a/x.cpp": ["fits/b/y.h", "fits/a/x.h"], "fits/a/x.h": [], "fits/b/y.h": []},
     0, "no include cycle"),
    ("top-level folders include each other through different subfolders",
     {"fits/app/main.cpp": ["orlix/app.h"], "orlix/app.h": ["fits/automation/a.h"],
      "fits/automation/a.h": []},
     1, "top-level include cycle: fits -> orlix -> fits"),
    ("programs on top of both",
     {"programs/FITS/main.cpp": ["orlix/app.h", "fits/ui/w.h"],
      "orlix/app.h": ["fits/automation/a.h"], "fits/ui/w.h": ["fits/automation/a.h"],
      "fits/automation/a.h": []},
     0, "no include cycle"),
    ("plain names and missing folders are not edges",
     {"fits/a/x.cpp": ["y.h", "gone/y.h"], "fits/b/y.c": ["fits/a/x.h"], "fits/a/x.h": []},
     0, "no include cycle"),
]


def build(root, files):
    for path, includes in files.items():
        full = os.path.join(root, path)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "w", encoding="utf-8") as f:
            f.write("#pragma once\n")
            for inc in includes:
                f.write(f'#include "{inc}"\n')


def main():
    failed = 0
    for name, files, status, text in CASES:
        with tempfile.TemporaryDirectory() as root:
            build(root, files)
            run = subprocess.run([sys.executable, SCRIPT, root], capture_output=True, text=True)
        if run.returncode != status or text not in run.stdout:
            failed += 1
            print(f"FAIL {name}: exit {run.returncode}, output:\n{run.stdout}{run.stderr}")
    print(f"{len(CASES) - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
