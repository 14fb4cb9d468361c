#!/usr/bin/env python3
"""A test build given a copy of the generated stand-in as its CPU image (what --extract-image of a
test build writes) must stay a test build: a warning names the variable, the profile is marked a
stand-in (so the programs refuse it without an explicit yes), and the package version says ~test. A
fixture of the AIO image's size beside it is taken as a real image.

usage: standin_copy_test.py CMAKE GENERATOR SOURCE_DIR
"""
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile

failures = []


def check(condition, what, output=""):
    if not condition:
        failures.append(what)
        print(f"FAILED: {what}")
        if output:
            print("---- output ----\n" + output[-3000:] + "\n----------------")


def stand_in_flag(build, profile):
    """The stand-in field of the profile source the build generated, or None."""
    path = os.path.join(build, "profiles", profile, f"profile_{profile}.cpp")
    if not os.path.exists(path):
        return None
    with open(path) as f:
        m = re.search(r"BootIdRule::\w+,\s*(true|false),", f.read())
    return m.group(1) if m else None


def main():
    if len(sys.argv) != 4:
        print(__doc__, file=sys.stderr)
        return 2
    cmake, generator, source = sys.argv[1:]
    work = tempfile.mkdtemp(prefix="fwburn-standin-copy-")
    try:
        cpu = os.path.join(work, "cpu.bin")
        subprocess.run([sys.executable, os.path.join(source, "cmake", "standin_image.py"), cpu,
                        "2076672", "fwburn stand-in cpu"], check=True)
        aio = os.path.join(work, "aio.bin")
        with open(aio, "wb") as f:
            f.write(random.Random(11056).randbytes(11056))
        build = os.path.join(work, "build")
        r = subprocess.run([cmake, "-S", source, "-B", build, "-G", generator,
                            "-DFWBURN_TESTS=OFF", f"-DFWBURN_CPU_IMAGE={cpu}",
                            f"-DFWBURN_AIO_IMAGE={aio}"], capture_output=True, text=True)
        out = " ".join((r.stdout + r.stderr).split())
        check(r.returncode == 0, "a test build configures", out)
        check(f"FWBURN_CPU_IMAGE={cpu} is the generated STAND-IN image, not a firmware: the build "
              "is a test build" in out, "the stand-in copy is named as one", out)
        check("FWBURN_AIO_IMAGE" not in out, "the AIO fixture is taken as it is", out)
        cpack = ""
        if os.path.exists(os.path.join(build, "CPackConfig.cmake")):
            with open(os.path.join(build, "CPackConfig.cmake")) as f:
                cpack = f.read()
        check("~test" in cpack, "the package is named a test build")

        r = subprocess.run([cmake, "--build", build, "--target", "fwburn_profile_cpu",
                            "fwburn_profile_aio"], capture_output=True, text=True)
        check(r.returncode == 0, "the profiles build", r.stdout + r.stderr)
        check(stand_in_flag(build, "cpu") == "true", "the CPU profile is a stand-in")
        check(stand_in_flag(build, "aio") == "false", "the AIO profile is not")
    finally:
        shutil.rmtree(work, ignore_errors=True)

    if failures:
        print(f"{len(failures)} check(s) failed")
        return 1
    print("a stand-in copy stays a stand-in")
    return 0


if __name__ == "__main__":
    sys.exit(main())
