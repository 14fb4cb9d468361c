#!/usr/bin/env python3
"""The main-CPU profile built with a real image: a test build configured with FWBURN_CPU_IMAGE
naming a fixture file of the delivered size (2,076,672 bytes, made here), whose profile image test
must then find a real image (no stand-in), the fixture's bytes and digest, and an update that runs
without the stand-in refusal.

The test build lives in BUILD_DIR and is reused: a second run builds only what changed.

usage: real_image_build.py CMAKE GENERATOR SOURCE_DIR BUILD_DIR
"""
import hashlib
import os
import random
import subprocess
import sys

SIZE = 2076672


def run(command, env=None):
    r = subprocess.run(command, capture_output=True, text=True, env=env)
    return r.returncode, r.stdout + r.stderr


def fail(what, output=""):
    print(f"FAILED: {what}")
    if output:
        print("---- output ----\n" + output + "\n----------------")
    return 1


def main():
    if len(sys.argv) != 5:
        print(__doc__, file=sys.stderr)
        return 2
    cmake, generator, source, build = sys.argv[1:]
    os.makedirs(build, exist_ok=True)
    fixture = os.path.join(build, "ZL500_fixture.bin")
    data = random.Random(2076672).randbytes(SIZE)
    if not os.path.exists(fixture) or open(fixture, "rb").read() != data:
        with open(fixture, "wb") as f:
            f.write(data)
    digest = hashlib.sha256(data).hexdigest()

    tree = os.path.join(build, "tree")
    rc, out = run([cmake, "-S", source, "-B", tree, "-G", generator,
                   "-DCMAKE_BUILD_TYPE=Debug", "-DFWBURN_WERROR=ON",
                   f"-DFWBURN_CPU_IMAGE={fixture}"])
    if rc != 0:
        return fail("configure with FWBURN_CPU_IMAGE", out)
    joined = " ".join(out.split())
    if f"Profile cpu: image {fixture} ({SIZE} bytes, SHA-256 {digest})" not in joined:
        return fail("the configuration takes the fixture, with its digest", out)
    if "Profile cpu: STAND-IN" in joined:
        return fail("the configuration still makes a stand-in", out)

    rc, out = run([cmake, "--build", tree, "--target", "fwburn_profile_image_tests", "-j", "2"])
    if rc != 0:
        return fail("build of the profile image tests", out)

    env = dict(os.environ, FWBURN_EXPECT_STAND_IN="0")
    rc, out = run([os.path.join(tree, "tests", "fwburn_profile_image_tests")], env)
    print(out)
    if rc != 0 or "[  PASSED  ] 3 tests." not in out or "SKIPPED" in out:
        return fail("the profile image tests with the fixture image")
    print("the real-image build passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
