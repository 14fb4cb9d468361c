#!/usr/bin/env python3
"""Configures one release preset into temporary build directories.

Without the firmware images the configuration must stop and name each missing cache variable;
with an image of another size than the profile's, or with a copy of the generated stand-in, it
must stop and name the variable; with fixture images of the delivered sizes it must succeed, as a
Release build without tests, test profiles or stand-ins. The build checks the image again: one
that became of another size, or a stand-in, after the configuration is refused then. With
release-native, also a plain build given that stand-in copy: it must stay a test build. An image
named in the environment that the configuration does not take stops a release configuration and
is warned of in a plain one.

usage: release_configure_test.py CMAKE SOURCE_DIR PRESET
"""
import hashlib
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile

SIZES = {"FWBURN_CPU_IMAGE": 2076672, "FWBURN_AIO_IMAGE": 11056}
failures = []


def check(condition, what, output=""):
    if not condition:
        failures.append(what)
        print(f"FAILED: {what}")
        if output:
            print("---- configure output ----\n" + output + "\n--------------------------")


def fixture(directory, name, size, seed):
    path = os.path.join(directory, name)
    rng = random.Random(seed)
    with open(path, "wb") as f:
        f.write(rng.randbytes(size))
    return path


def configure(cmake, source, preset, build, images):
    command = [cmake, "-S", source, "--preset", preset, "-B", build]
    command += [f"-D{name}={path}" for name, path in images.items()]
    try:
        r = subprocess.run(command, capture_output=True, text=True, timeout=300)
    except subprocess.TimeoutExpired:
        return -1, "no end within 300 s"
    # CMake wraps long messages at spaces; join them again for the checks.
    return r.returncode, " ".join((r.stdout + r.stderr).split())


def build_profile(cmake, build):
    r = subprocess.run([cmake, "--build", build, "--target", "fwburn_profile_cpu"],
                       capture_output=True, text=True)
    return r.returncode, " ".join((r.stdout + r.stderr).split())


def profile_field(build, profile, pattern):
    """What the pattern's group matches in the profile source the build generated, or None."""
    path = os.path.join(build, "profiles", profile, f"profile_{profile}.cpp")
    if not os.path.exists(path):
        return None
    with open(path) as f:
        m = re.search(pattern, f.read())
    return m.group(1) if m else None


def stand_in_flag(build, profile):
    return profile_field(build, profile, r"BootIdRule::\w+,\s*(true|false),")


def plain_build_keeps_stand_in(cmake, source, build, stand_in, aio, short):
    """What --extract-image of a test build writes, given to a plain build: still a test build
    (a warning names it, the programs refuse it without a yes, the package says ~test)."""
    r = subprocess.run([cmake, "-S", source, "-B", build, "-G", "Ninja", "-DFWBURN_TESTS=OFF",
                        f"-DFWBURN_CPU_IMAGE={stand_in}", f"-DFWBURN_AIO_IMAGE={aio}"],
                       capture_output=True, text=True)
    out = " ".join((r.stdout + r.stderr).split())
    check(r.returncode == 0, "plain build with a stand-in copy: it configures", out)
    check(f"FWBURN_CPU_IMAGE={stand_in} is the generated STAND-IN image, not a firmware: the "
          "build is a test build" in out, "plain build: the stand-in copy is named as one", out)
    check("FWBURN_AIO_IMAGE" not in out, "plain build: the AIO fixture is taken as it is", out)
    cpack = os.path.join(build, "CPackConfig.cmake")
    check(os.path.exists(cpack) and "~test" in open(cpack).read(),
          "plain build: the package is named a test build")
    r = subprocess.run([cmake, "--build", build, "--target", "fwburn_profile_cpu",
                        "fwburn_profile_aio"], capture_output=True, text=True)
    check(r.returncode == 0, "plain build: the profiles build", r.stdout + r.stderr)
    check(stand_in_flag(build, "cpu") == "true", "plain build: the CPU profile is a stand-in")
    check(stand_in_flag(build, "aio") == "false", "plain build: the AIO profile is not")

    # Configured with a real image that becomes the stand-in before the build: the package is
    # already named a release, so the build must not embed it as a firmware.
    cpu = os.path.join(os.path.dirname(stand_in), "plain-cpu.bin")
    fixture(os.path.dirname(cpu), "plain-cpu.bin", SIZES["FWBURN_CPU_IMAGE"], 5)
    r = subprocess.run([cmake, "-S", source, "-B", build, f"-DFWBURN_CPU_IMAGE={cpu}"],
                       capture_output=True, text=True)
    check(r.returncode == 0, "plain build with a real image: it configures", r.stdout + r.stderr)
    refused_once_replaced(cmake, build, cpu, short, stand_in, "plain build")

    # Given an image of another size (the other model's, a cut one) a plain build only warns:
    # its package must not be named a release.
    r = subprocess.run([cmake, "-S", source, "-B", build, f"-DFWBURN_CPU_IMAGE={short}"],
                       capture_output=True, text=True)
    check(r.returncode == 0, "plain build with a short image: it configures", r.stdout + r.stderr)
    with open(os.path.join(build, "CPackConfig.cmake")) as f:
        check("~test" in f.read(), "plain build with a short image: the package says ~test")

    # An image named only in the environment: a plain build warns and goes on.
    r = subprocess.run([cmake, "-S", source, "-B", build], capture_output=True, text=True,
                       env=dict(os.environ, FWBURN_AIO_IMAGE=short))
    out = " ".join((r.stdout + r.stderr).split())
    check(r.returncode == 0 and f"the environment names FWBURN_AIO_IMAGE={short}, but this "
          f"configuration takes {aio}" in out, "plain build: an image in the environment only is "
          "warned of", out)


def refused_once_replaced(cmake, build, cpu, short, stand_in, kind):
    """The CPU image replaced since the configuration, by one of another size or by the stand-in:
    the build stops and names it."""
    for replacement, said, what in ((short, "is 2076671 bytes now", "another size"),
                                    (stand_in, "is now the generated STAND-IN image", "a stand-in")):
        shutil.copyfile(replacement, cpu)
        rc, out = build_profile(cmake, build)
        check(rc != 0 and f"FWBURN_CPU_IMAGE={cpu} {said}" in out,
              f"{kind}: {what} since the configuration stops the build", out)


def embedded_digest(build, profile):
    return profile_field(build, profile, r'"([0-9a-f]{64})"')


def sha256_of(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def awkward_paths(cmake, source, build, right):
    """Image paths with what a shell, the assembler or CMake would read as their own: the image is
    embedded as it is, or the configuration says what to change."""
    folder = os.path.join(os.path.dirname(build), "we'ird $(exit 9) `false` \"dir\" ünï")
    os.makedirs(folder)
    cpu = os.path.join(folder, "cpu.bin")
    shutil.copyfile(right["FWBURN_CPU_IMAGE"], cpu)
    rc, out = configure(cmake, source, "release-native", build,
                        {"FWBURN_CPU_IMAGE": cpu, "FWBURN_AIO_IMAGE": right["FWBURN_AIO_IMAGE"]})
    check(rc == 0, "an awkward image path: the configuration succeeds", out)
    rc, out = build_profile(cmake, build)
    check(rc == 0 and embedded_digest(build, "cpu") == sha256_of(cpu),
          "an awkward image path: its image is embedded", out)
    rc, out = configure(cmake, source, "release-native", build + "-list",
                        {"FWBURN_CPU_IMAGE": os.path.join(folder, "a;b.bin"),
                         "FWBURN_AIO_IMAGE": right["FWBURN_AIO_IMAGE"]})
    check(rc != 0 and "holds a ';'" in out, "a ';' in the image path: named as the fault", out)


def environment_and_cache(cmake, source, build, work, cpu):
    """Images named in the environment, as scripts/package takes them, reach a configuration only
    through -D: one that names another image than the cache holds stops it; the same file, by a
    path relative to where CMake starts, does not."""
    other = fixture(work, "cpu-env.bin", SIZES["FWBURN_CPU_IMAGE"], 6)
    for named, stops in ((other, True), (os.path.relpath(cpu, work), False)):
        r = subprocess.run([cmake, "-S", source, "-B", build], cwd=work, capture_output=True,
                           text=True, env=dict(os.environ, FWBURN_CPU_IMAGE=named))
        out = " ".join((r.stdout + r.stderr).split())
        said = f"the environment names FWBURN_CPU_IMAGE={named}, but this configuration takes {cpu}"
        check((r.returncode != 0, said in out) == (stops, stops),
              f"FWBURN_CPU_IMAGE={named} in the environment: {'stops' if stops else 'goes on'}",
              out)


def errors(output):
    return len(re.findall(r"CMake Error", output))


def main():
    if len(sys.argv) != 4:
        print(__doc__, file=sys.stderr)
        return 2
    cmake, source, preset = sys.argv[1:]
    # Images this shell names in its environment are not the test's: the checks below set them.
    for name in [n for n in os.environ if re.fullmatch(r"FWBURN_\w+_IMAGE", n)]:
        del os.environ[name]
    work = tempfile.mkdtemp(prefix=f"fwburn-{preset}-")
    try:
        right = {
            "FWBURN_CPU_IMAGE": fixture(work, "cpu.bin", SIZES["FWBURN_CPU_IMAGE"], 1),
            "FWBURN_AIO_IMAGE": fixture(work, "aio.bin", SIZES["FWBURN_AIO_IMAGE"], 2),
        }
        short_cpu = fixture(work, "cpu-short.bin", SIZES["FWBURN_CPU_IMAGE"] - 1, 3)

        rc, out = configure(cmake, source, preset, os.path.join(work, "none"), {})
        check(rc != 0, "no images: the configuration stops", out)
        for name in SIZES:
            check(f"set {name} to the file of" in out, f"no images: {name} is named", out)
        check(errors(out) == 2, "no images: one error per missing image", out)

        rc, out = configure(cmake, source, preset, os.path.join(work, "cpu-only"),
                            {"FWBURN_CPU_IMAGE": right["FWBURN_CPU_IMAGE"]})
        check(rc != 0, "CPU image only: the configuration stops", out)
        check("set FWBURN_AIO_IMAGE to the file of" in out, "CPU image only: the AIO one is named",
              out)
        check("set FWBURN_CPU_IMAGE" not in out, "CPU image only: the CPU one is not asked for", out)

        rc, out = configure(cmake, source, preset, os.path.join(work, "short"),
                            {"FWBURN_CPU_IMAGE": short_cpu,
                             "FWBURN_AIO_IMAGE": right["FWBURN_AIO_IMAGE"]})
        check(rc != 0, "image of another size: the configuration stops", out)
        check(f"FWBURN_CPU_IMAGE={short_cpu} is 2076671 bytes" in out and "is 2076672 bytes" in out,
              "image of another size: the variable and both sizes are named", out)

        # Where a file is expected: a device node without end and a FIFO nobody writes to.
        fifo = os.path.join(work, "image.fifo")
        os.mkfifo(fifo)
        for what, path in (("a device node", "/dev/zero"), ("a FIFO", fifo)):
            rc, out = configure(cmake, source, preset, os.path.join(work, "no-file"),
                                {"FWBURN_CPU_IMAGE": path,
                                 "FWBURN_AIO_IMAGE": right["FWBURN_AIO_IMAGE"]})
            check(rc > 0 and f"FWBURN_CPU_IMAGE={path} is no file" in out,
                  f"{what} as the image: the configuration stops at once", out)

        # A stand-in copied out of a test build has the right size, and is still no firmware.
        stand_in = os.path.join(work, "standin-cpu.bin")
        subprocess.run([sys.executable, os.path.join(source, "cmake", "standin_image.py"), stand_in,
                        str(SIZES["FWBURN_CPU_IMAGE"]), "fwburn stand-in cpu"], check=True)
        rc, out = configure(cmake, source, preset, os.path.join(work, "stand-in"),
                            {"FWBURN_CPU_IMAGE": stand_in,
                             "FWBURN_AIO_IMAGE": right["FWBURN_AIO_IMAGE"]})
        check(rc != 0, "a stand-in given as the image: the configuration stops", out)
        check(f"FWBURN_CPU_IMAGE={stand_in} is the generated STAND-IN image" in out,
              "a stand-in given as the image: the variable is named", out)
        if preset == "release-native":
            awkward_paths(cmake, source, os.path.join(work, "paths"), right)
            plain_build_keeps_stand_in(cmake, source, os.path.join(work, "plain"), stand_in,
                                       right["FWBURN_AIO_IMAGE"], short_cpu)

        build = os.path.join(work, "real")
        rc, out = configure(cmake, source, preset, build, right)
        check(rc == 0, "fixture images of the delivered sizes: the configuration succeeds", out)
        check("STAND-IN" not in out, "fixture images: no stand-in is mentioned", out)
        for name, path in right.items():
            check(f"image {path} ({SIZES[name]} bytes" in out, f"{name}: the fixture is taken", out)
        cache = ""
        if os.path.exists(os.path.join(build, "CMakeCache.txt")):
            with open(os.path.join(build, "CMakeCache.txt")) as f:
                cache = f.read()
        for entry in ("CMAKE_BUILD_TYPE:STRING=Release", "FWBURN_REQUIRE_REAL_IMAGES:BOOL=ON",
                      "FWBURN_TESTS:BOOL=OFF"):
            check(entry in cache, f"cache holds {entry}")
        ninja = ""
        if os.path.exists(os.path.join(build, "build.ninja")):
            with open(os.path.join(build, "build.ninja")) as f:
                ninja = f.read()
        check("fwburn_profile_cpu" in ninja and "fwburn_profile_aio" in ninja,
              "the delivered profiles are built")
        for test_profile in ("rv7g", "tq38"):
            check(f"fwburn_profile_{test_profile}" not in ninja,
                  f"the test profile {test_profile} is not built")

        environment_and_cache(cmake, source, build, work, right["FWBURN_CPU_IMAGE"])

        # The file changes after the configuration: what the build would embed is checked again.
        cpu = right["FWBURN_CPU_IMAGE"]
        rc, out = build_profile(cmake, build)
        check(rc == 0, "the fixture image builds", out)
        # A new image whose time stamp is older than the last build's (cp -p, an unpacked
        # archive, a link pointed elsewhere): the build must embed it all the same.
        newer = fixture(work, "cpu-next.bin", SIZES["FWBURN_CPU_IMAGE"], 4)
        os.utime(newer, (0, 0))
        os.replace(newer, cpu)
        rc, out = build_profile(cmake, build)
        check(rc == 0 and embedded_digest(build, "cpu") == sha256_of(cpu),
              "an image older than the last build: the build embeds it", out)
        refused_once_replaced(cmake, build, cpu, short_cpu, stand_in, preset)
        os.remove(cpu)
        os.symlink("/dev/zero", cpu)
        rc, out = build_profile(cmake, build)
        check(rc != 0 and f"FWBURN_CPU_IMAGE={cpu} is no file" in out,
              "a link to a device node since the configuration: the build stops", out)
    finally:
        shutil.rmtree(work, ignore_errors=True)

    if failures:
        print(f"{len(failures)} check(s) failed for preset {preset}")
        return 1
    print(f"preset {preset}: every check passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
