"""The build of the Python package: CMake builds the shared library, and this
writes the wheel (PEP 427) with zipfile, the library inside the package
together with the libraries it needs that are not the C library's own
(libyyjson.so.0). It needs only the standard library, so it runs offline.

    python3 python/build_backend.py [--library FILE] [--out DIR] [--build-dir DIR]

Without --library it configures and builds the project one folder up, in
build-wheel/ (or --build-dir), which needs what the project needs: CMake 3.25,
a C++17 compiler and yyjson 0.12 (scripts/install-deps.sh installs them). The
wheel goes to dist/ (or --out). Its platform tag is manylinux_2_N for the
newest glibc symbol version the libraries use.

It is also the package's PEP 517 backend (pyproject.toml), with no build
requirements, so `pip install ./python` and `pip wheel ./python` work offline
from the project's source tree; `--config-settings library=FILE` packs a
library already built, `--config-settings build-dir=DIR` builds there. There
is no sdist: the package is built from the project's source tree.
"""

import argparse
import base64
import hashlib
import io
import os
import re
import shutil
import subprocess
import sys
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
PACKAGE = "kelvaron_regex"
DIST_NAME = "kelvaron-regex"
LIBRARY_NAME = "libkelvaron-regex.so.0"
# The libraries every Linux has (those manylinux allows a wheel to use):
# never packed into the wheel.
SYSTEM_LIBRARIES = {
    "libc.so.6", "libm.so.6", "libdl.so.2", "librt.so.1", "libpthread.so.0", "libgcc_s.so.1",
    "libstdc++.so.6", "libutil.so.1", "libresolv.so.2", "libnsl.so.1", "linux-vdso.so.1",
    "ld-linux-x86-64.so.2", "ld-linux-aarch64.so.1",
}
ELF_MACHINES = {62: "x86_64", 183: "aarch64"}
SUMMARY = "The kelvaron-regex library for Python: the API of re, the library inside"


def project_version() -> str:
    path = os.path.join(ROOT, "CMakeLists.txt")
    if not os.path.exists(path):
        raise RuntimeError(
            f"{DIST_NAME}: the package is built from the project's source tree (CMakeLists.txt one folder "
            "above python/), with CMake 3.25, a C++17 compiler and yyjson 0.12 (scripts/install-deps.sh)")
    with open(path, encoding="utf-8") as cmake:
        version = re.search(r"project\(kelvaron-regex VERSION (\S+?)[\s)]", cmake.read()).group(1)
    with open(os.path.join(HERE, PACKAGE, "__init__.py"), encoding="utf-8") as init:
        declared = re.search(r'^__version__ = "(.*)"$', init.read(), re.M).group(1)
    if declared != version:
        raise RuntimeError(f"{PACKAGE}.__version__ is {declared}, the project is {version}")
    return version


def build_library(build_dir: str) -> str:
    """Configures and builds the shared library with CMake; its path."""
    if shutil.which("cmake") is None:
        raise RuntimeError("cmake is needed to build the library (scripts/install-deps.sh installs it)")
    configure = ["cmake", "-S", ROOT, "-B", build_dir, "-DCMAKE_BUILD_TYPE=Release", "-DKRX_BUILD_TESTS=OFF"]
    if shutil.which("ninja") and not os.path.exists(os.path.join(build_dir, "CMakeCache.txt")):
        configure += ["-G", "Ninja"]
    build = ["cmake", "--build", build_dir, "--target", "kelvaron-regex"]
    if "CMAKE_BUILD_PARALLEL_LEVEL" not in os.environ:
        build += ["--parallel", "2"]
    for command in (configure, build):
        subprocess.run(command, check=True, stdout=sys.stderr)
    return os.path.join(build_dir, LIBRARY_NAME)


def needed_libraries(library: str) -> list:
    """The paths of the libraries the library needs, but for the system's."""
    lines = subprocess.run(["ldd", library], check=True, capture_output=True, text=True).stdout.splitlines()
    needed = []
    for line in lines:
        name, _, rest = line.strip().partition(" => ")
        if os.path.basename(name.split(" ")[0]) in SYSTEM_LIBRARIES or not rest:
            continue
        if rest.startswith("not found"):
            raise RuntimeError(f"{library} needs {name}, which the loader does not find")
        needed.append((name, rest.split(" (")[0]))
    return needed


def platform_tag(paths) -> str:
    """manylinux_2_N_<machine>, N the newest glibc version named by the files."""
    newest, machine = None, None
    for path in paths:
        with open(path, "rb") as elf:
            data = elf.read()
        if data[:4] != b"\x7fELF":
            raise RuntimeError(f"{path} is no ELF file")
        machine = ELF_MACHINES.get(int.from_bytes(data[18:20], "little"))
        if machine is None:
            raise RuntimeError(f"{path}: a machine this build does not know")
        for minor in re.findall(rb"GLIBC_2\.(\d+)", data):
            newest = max(newest or 0, int(minor))
    return f"manylinux_2_{newest}_{machine}" if newest else f"linux_{machine}"


def license_of(path: str):
    """The Debian copyright file of the package that owns a library, if any."""
    for candidate in (path, os.path.realpath(path)):
        query = subprocess.run(["dpkg-query", "-S", candidate], capture_output=True, text=True)
        if query.returncode == 0:
            package = query.stdout.split(":")[0]
            copyright_file = f"/usr/share/doc/{package}/copyright"
            if os.path.exists(copyright_file):
                return copyright_file
    return None


def write_wheel(out_dir: str, library: str) -> str:
    """Writes the wheel into out_dir; its file name."""
    version = project_version()
    needed = needed_libraries(library)
    tag = "py3-none-" + platform_tag([library] + [path for _, path in needed])
    dist_info = f"{PACKAGE}-{version}.dist-info"
    files = []  # (name in the wheel, bytes, executable)
    for name in sorted(os.listdir(os.path.join(HERE, PACKAGE))):
        path = os.path.join(HERE, PACKAGE, name)
        if os.path.isfile(path) and (name.endswith(".py") or name == "py.typed"):
            with open(path, "rb") as source:
                files.append((f"{PACKAGE}/{name}", source.read(), False))
    licenses = []
    for name, path in [(LIBRARY_NAME, library)] + needed:
        with open(path, "rb") as binary:
            files.append((f"{PACKAGE}/{name}", binary.read(), True))
        copyright_file = license_of(path) if name != LIBRARY_NAME else None
        if copyright_file:
            with open(copyright_file, "rb") as text:
                licenses.append((f"{dist_info}/licenses/{name}.copyright", text.read(), False))
    with open(os.path.join(HERE, "README.md"), encoding="utf-8") as readme:
        description = readme.read()
    with open(os.path.join(HERE, "..", "LICENSE"), "rb") as text:  # the project's: MIT
        licenses.insert(0, (f"{dist_info}/licenses/LICENSE", text.read(), False))
    metadata = (f"Metadata-Version: 2.1\nName: {DIST_NAME}\nVersion: {version}\nSummary: {SUMMARY}\n"
                f"License: MIT\nClassifier: License :: OSI Approved :: MIT License\n"
                f"Requires-Python: >=3.8\nDescription-Content-Type: text/markdown\n\n{description}")
    wheel = f"Wheel-Version: 1.0\nGenerator: {DIST_NAME} build_backend\nRoot-Is-Purelib: false\nTag: {tag}\n"
    files += licenses + [(f"{dist_info}/METADATA", metadata.encode(), False),
                         (f"{dist_info}/WHEEL", wheel.encode(), False),
                         (f"{dist_info}/top_level.txt", f"{PACKAGE}\n".encode(), False)]
    record = io.StringIO()
    for name, data, _ in files:
        digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
        record.write(f"{name},sha256={digest},{len(data)}\n")
    record.write(f"{dist_info}/RECORD,,\n")
    files.append((f"{dist_info}/RECORD", record.getvalue().encode(), False))

    filename = f"{PACKAGE}-{version}-{tag}.whl"
    os.makedirs(out_dir, exist_ok=True)
    with zipfile.ZipFile(os.path.join(out_dir, filename), "w", zipfile.ZIP_DEFLATED) as archive:
        for name, data, executable in files:
            entry = zipfile.ZipInfo(name, date_time=(1980, 1, 1, 0, 0, 0))  # the same bytes every time
            entry.external_attr = (0o755 if executable else 0o644) << 16
            entry.compress_type = zipfile.ZIP_DEFLATED
            archive.writestr(entry, data)
    return filename


# ---- PEP 517 ------------------------------------------------------------------

def get_requires_for_build_wheel(config_settings=None):
    return []


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    settings = config_settings or {}
    library = settings.get("library") or build_library(settings.get("build-dir") or
                                                       os.path.join(ROOT, "build-wheel"))
    return write_wheel(wheel_directory, os.path.abspath(library))


def main(argv=None) -> int:
    parser = argparse.ArgumentParser(description="Builds the wheel of the kelvaron_regex package.")
    parser.add_argument("--library", help="pack this built library instead of building one")
    parser.add_argument("--out", default=os.path.join(ROOT, "dist"), help="where the wheel goes (dist/)")
    parser.add_argument("--build-dir", default=os.path.join(ROOT, "build-wheel"), help="CMake's build folder")
    args = parser.parse_args(argv)
    library = os.path.abspath(args.library) if args.library else build_library(args.build_dir)
    print(os.path.join(args.out, write_wheel(args.out, library)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
