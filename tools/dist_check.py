"""Checks that quibra installs and works from its distribution files alone.

    python3.14 tools/dist_check.py [--python INTERPRETER]

Builds the sdist; unpacks it in a temporary directory and builds a wheel from
it alone; checks both archives' contents and the libraries the extension
needs; installs the wheel into a fresh virtual environment and runs the test
suite against that installed copy, from a directory holding only the tests
(and the README, examples and docs they run), with nothing but the environment's
own bin/ on PATH, so no compiler is reachable. Runs inside tools/devenv
(make dist-check).
"""

import argparse
import os
import pathlib
import re
import shutil
import subprocess
import sys
import tarfile
import tempfile
import time
import tomllib
import zipfile

REPO = pathlib.Path(__file__).resolve().parent.parent

# What the extension may need at run time: the C library and the interpreter.
ALLOWED_NEEDED = re.compile(r"(libc|libm|libpthread|libdl|librt)\.so\.\d+|ld-linux[-\w.]*\.so\.\d+|libpython3\.\d+\.so[.\d]*")
# Files a build leaves behind that must never ship.
LEFTOVER = re.compile(r"(^|/)(build|dist|_skbuild|CMakeFiles|__pycache__|\.git|\.pytest_cache|\.hypothesis)/"
                      r"|\.(so|o|a|pyc|pyd|dll|dylib)$|(^|/)CMakeCache\.txt$")
COMPILERS = ("cc", "c++", "gcc", "g++", "clang", "clang++")


class CheckFailed(Exception):
    pass


def expect(ok, message):
    if not ok:
        raise CheckFailed(message)


def run(cmd, log, **kw):
    """Runs cmd, its output going to log; on failure the log is shown."""
    with open(log, "w") as out:
        proc = subprocess.run(cmd, stdout=out, stderr=subprocess.STDOUT, **kw)
    if proc.returncode:
        sys.stdout.write(pathlib.Path(log).read_text()[-20000:])
        raise CheckFailed(f"{' '.join(map(str, cmd))} exited with {proc.returncode}")


def only(paths, what):
    paths = list(paths)
    expect(len(paths) == 1, f"expected one {what}, found {[getattr(p, 'name', p) for p in paths]}")
    return paths[0]


def check_sdist(sdist):
    with tarfile.open(sdist) as tar:
        names = [m.name.split("/", 1)[1] for m in tar.getmembers() if "/" in m.name and m.isfile()]
    leftovers = [n for n in names if LEFTOVER.search(n)]
    expect(not leftovers, f"sdist holds build leftovers: {leftovers[:10]}")
    # Everything the build reads: project files, the C++ sources, the package.
    needed = {"pyproject.toml", "CMakeLists.txt", "README.md"}
    for sub in ("src", "quibra"):
        for path in (REPO / sub).rglob("*"):
            rel = path.relative_to(REPO).as_posix()
            if path.is_file() and not LEFTOVER.search(rel):
                needed.add(rel)
    missing = sorted(needed - set(names))
    expect(not missing, f"sdist lacks {missing[:10]}")
    return names


def check_wheel(wheel, sdist_names, python):
    ext_suffix = subprocess.check_output(
        [python, "-c", "import sysconfig; print(sysconfig.get_config_var('EXT_SUFFIX'))"], text=True).strip()
    with zipfile.ZipFile(wheel) as zf:
        names = zf.namelist()
        info = only({n.split("/")[0] for n in names if n.split("/")[0].endswith(".dist-info")}, "dist-info")
        wheel_meta = zf.read(f"{info}/WHEEL").decode()
        metadata = zf.read(f"{info}/METADATA").decode()
    tops = {n.split("/")[0] for n in names}
    expect(tops == {"quibra", info}, f"wheel has unexpected top-level entries: {sorted(tops - {'quibra', info})}")
    ext = only((n for n in names if n.endswith((".so", ".pyd", ".dylib"))), "extension module")
    expect(ext == f"quibra/_quibra{ext_suffix}", f"extension is {ext}, expected quibra/_quibra{ext_suffix}")
    leftovers = [n for n in names if n != ext and LEFTOVER.search(n)]
    expect(not leftovers, f"wheel holds build leftovers: {leftovers[:10]}")
    # The package ships exactly what the sdist's package directory holds (stubs and markers included).
    package = {n for n in sdist_names if n.startswith("quibra/")}
    shipped = {n for n in names if n.startswith("quibra/") and n != ext}
    expect(package == shipped, f"wheel package differs from the sources: missing {sorted(package - shipped)}, "
                               f"extra {sorted(shipped - package)}")
    expect("Root-Is-Purelib: false" in wheel_meta, "wheel claims to be pure Python")
    expect("Requires-Python:" in metadata, "wheel metadata lacks Requires-Python")
    return ext


def check_needed(so):
    """The extension needs nothing but the C library and the interpreter."""
    dynamic = subprocess.check_output(["readelf", "--dynamic", "--wide", str(so)], text=True)
    needed = re.findall(r"\(NEEDED\)\s+Shared library: \[([^\]]+)\]", dynamic)
    expect(needed, f"readelf found no NEEDED entries in {so.name}")
    extra = [lib for lib in needed if not ALLOWED_NEEDED.fullmatch(lib)]
    expect(not extra, f"{so.name} needs {extra}")
    # Statically linked C++ runtime: no symbol versions from libstdc++ or libgcc_s.
    versions = subprocess.check_output(["readelf", "--version-info", "--wide", str(so)], text=True)
    foreign = sorted(set(re.findall(r"Name: ((?:GLIBCXX|CXXABI|GCC)_[\w.]+)", versions)))
    expect(not foreign, f"{so.name} needs C++ runtime symbol versions {foreign}")
    ldd = subprocess.run(["ldd", str(so)], capture_output=True, text=True)
    expect("not found" not in ldd.stdout, f"ldd cannot resolve every library:\n{ldd.stdout}")
    return needed


def pytest_ini():
    """The suite's pytest settings, less options that load the repository's own tools."""
    options = tomllib.loads((REPO / "pyproject.toml").read_text())["tool"]["pytest"]["ini_options"]
    lines = ["[pytest]"]
    for key, value in options.items():
        if key == "addopts":
            continue
        if isinstance(value, list):
            lines.append(f"{key} =")
            lines += [f"    {item}" for item in value]
        else:
            lines.append(f"{key} = {value}")
    return "\n".join(lines) + "\n"


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--python", default=os.environ.get("QUIBRA_PYTHON", "python3.14"))
    args = parser.parse_args(argv)
    python = shutil.which(args.python) or args.python
    work = pathlib.Path(tempfile.mkdtemp(prefix="quibra-dist-"))
    started = time.perf_counter()

    def step(text):
        print(f"== {text} ({time.perf_counter() - started:.0f} s)", flush=True)

    try:
        step("sdist")
        run([python, "-m", "build", "--no-isolation", "--sdist", "--outdir", work / "sdist", REPO], work / "sdist.log")
        sdist = only((work / "sdist").glob("*.tar.gz"), "sdist")
        sdist_names = check_sdist(sdist)

        step("wheel from the unpacked sdist alone")
        with tarfile.open(sdist) as tar:
            tar.extractall(work / "unpacked", filter="data")
        source = only((work / "unpacked").iterdir(), "unpacked source directory")
        run([python, "-m", "build", "--no-isolation", "--wheel", "--outdir", work / "wheel", source],
            work / "wheel.log", cwd=work)
        wheel = only((work / "wheel").glob("*.whl"), "wheel")
        ext = check_wheel(wheel, sdist_names, python)

        step("fresh virtual environment, without a compiler or the sources")
        venv = work / "venv"
        run([python, "-m", "venv", "--system-site-packages", "--without-pip", venv], work / "venv.log")
        vpython = venv / "bin" / "python"
        run([vpython, "-m", "installer", wheel], work / "install.log")
        needed = check_needed(only(venv.glob(f"lib/python*/site-packages/{ext}"), "installed extension"))
        print(f"   {wheel.name}: needs {', '.join(needed)}")

        suite = work / "suite"
        suite.mkdir()
        shutil.copytree(REPO / "tests", suite / "tests", ignore=shutil.ignore_patterns("__pycache__"))
        for extra in ("README.md", "examples", "docs"):
            if (REPO / extra).is_dir():
                shutil.copytree(REPO / extra, suite / extra, ignore=shutil.ignore_patterns("__pycache__"))
            elif (REPO / extra).exists():
                shutil.copy(REPO / extra, suite / extra)
        (suite / "pytest.ini").write_text(pytest_ini())
        (work / "home").mkdir()
        env = {"PATH": str(venv / "bin"), "HOME": str(work / "home"), "LANG": "C.UTF-8",
               "PYTHONDONTWRITEBYTECODE": "1"}
        for name in ("QUIBRA_WORKERS", "CI", "TERM"):
            if name in os.environ:
                env[name] = os.environ[name]
        reachable = [c for c in COMPILERS if shutil.which(c, path=env["PATH"])]
        expect(not reachable, f"compilers on the environment's PATH: {reachable}")
        probe = ("import pathlib, sys, quibra, quibra._quibra as m\n"
                 "venv = pathlib.Path(sys.prefix).resolve()\n"
                 "for f in (quibra.__file__, m.__file__):\n"
                 "    assert venv in pathlib.Path(f).resolve().parents, f'{f} is not inside {venv}'\n"
                 f"assert not any(pathlib.Path(p or '.').resolve() == pathlib.Path({str(REPO)!r}) for p in sys.path), sys.path\n"
                 "print('   quibra imported from', m.__file__)\n")
        proc = subprocess.run([vpython, "-c", probe], cwd=suite, env=env)
        expect(proc.returncode == 0, "quibra is not imported from the virtual environment")

        step("test suite against the installed wheel")
        workers = subprocess.run([REPO / "tools" / "workers", vpython], capture_output=True, text=True).stdout.split()
        proc = subprocess.run([vpython, "-m", "pytest", "-q", "-p", "no:cacheprovider", *workers, "tests"], cwd=suite, env=env)
        if proc.returncode == 5:
            raise CheckFailed("pytest collected no tests")
        expect(proc.returncode == 0, f"the test suite failed against the installed wheel (exit {proc.returncode})")
        step("dist-check passed")
        return 0
    except CheckFailed as e:
        print(f"dist-check: FAILED: {e}", file=sys.stderr)
        return 1
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
