#!/usr/bin/env python3
"""scripts/package --windows with firmware images given: the two images swapped (each of the other
profile's size) must stop the configuration with the variable named, before anything is built and
before any archive is made. Runs on a copy of the source tree, so the build folders of the tree
under test are left alone. Exit 77 (skipped) where the script's tools are not installed.

usage: package_windows_images_test.py SOURCE_DIR
"""
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile

SKIP = 77


def installed(package):
    r = subprocess.run(["dpkg-query", "-W", "-f=${Status}", package], capture_output=True,
                       text=True)
    return r.returncode == 0 and "install ok installed" in r.stdout


def main():
    if len(sys.argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    source = sys.argv[1]
    script = os.path.join(source, "scripts", "package")
    with open(script) as f:
        wanted = re.search(r"PACKAGES=\(([^)]*)\)", f.read()).group(1).split()
    missing = [p for p in wanted if shutil.which("dpkg-query") is None or not installed(p)]
    if missing:
        print(f"skipped: scripts/package would install {' '.join(missing)}")
        return SKIP

    work = tempfile.mkdtemp(prefix="fwburn-package-windows-")
    try:
        tree = os.path.join(work, "src")
        shutil.copytree(source, tree, ignore=shutil.ignore_patterns("build", ".git"))
        images = {}
        for name, size, seed in (("FWBURN_CPU_IMAGE", 11056, 1), ("FWBURN_AIO_IMAGE", 2076672, 2)):
            images[name] = os.path.join(work, name + ".bin")
            with open(images[name], "wb") as f:
                f.write(random.Random(seed).randbytes(size))
        # Named relative to the directory the script is started in.
        relative = {name: os.path.basename(path) for name, path in images.items()}
        r = subprocess.run(["bash", os.path.join(tree, "scripts", "package"), "--windows"],
                           env=dict(os.environ, **relative), cwd=work, capture_output=True,
                           text=True, timeout=1200)
        out = " ".join((r.stdout + r.stderr).split())
        archives = []
        for root, _, files in os.walk(os.path.join(tree, "build")):
            archives += [f for f in files if f.endswith(".zip")]
        failures = []
        if r.returncode == 0:
            failures.append("swapped images: the script ended 0")
        if f"FWBURN_CPU_IMAGE={images['FWBURN_CPU_IMAGE']} is 11056 bytes" not in out:
            failures.append("swapped images: the CPU image's variable and size are not named")
        if archives:
            failures.append(f"swapped images: archives were made: {archives}")
        for f in failures:
            print("FAILED: " + f)
        if failures:
            print("---- output ----\n" + (r.stdout + r.stderr)[-3000:])
            return 1
        print("swapped images: refused before the build")
        return 0
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
