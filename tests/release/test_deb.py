"""The Debian packages of kelmarotd that tools/deb.sh wrote (KELMA_RELEASE_DEB names them,
separated by ':'; the release stage of tools/test.sh sets it): what each holds; its program, run
natively or under qemu-user, serving a client on the simulated controller; and, for this machine's
package, a station owner's life with it in a scratch root. dpkg and systemctl work on that root only
(--root, maintainer scripts run without chroot and see DPKG_ROOT), never on this machine's own
system."""

import gzip
import io
import json
import os
import re
import shlex
import shutil
import struct
import subprocess
import sys
import tarfile
from pathlib import Path

import pytest

REPO = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(REPO / "tests" / "kelmarotd"))
from kelmarotd_e2e import drive_with_rotctl, serve_on_a_pty  # noqa: E402

PACKAGES = [Path(p) for p in os.environ.get("KELMA_RELEASE_DEB", "").split(os.pathsep) if p]
NATIVE = subprocess.run(["dpkg", "--print-architecture"], capture_output=True, text=True,
                        check=True).stdout.strip()
PROGRAM = "usr/bin/kelmarotd"
PROGRAMS = (PROGRAM, "usr/bin/kelmatrack")  # built for each architecture
SIM_PORT = 1


# Each architecture's program: its ELF class (1: 32-bit, 2: 64-bit) and machine (EM_X86_64,
# EM_AARCH64, EM_ARM), and qemu-user with Debian's cross libraries to run it on another machine.
ARCHS = {
    "amd64": (2, 62, ["qemu-x86_64", "-L", "/usr/x86_64-linux-gnu"]),
    "arm64": (2, 183, ["qemu-aarch64", "-L", "/usr/aarch64-linux-gnu"]),
    "armhf": (1, 40, ["qemu-arm", "-L", "/usr/arm-linux-gnueabihf"]),
}
# ARM's EABI version 5 and its hard-float calling convention (e_flags), what armhf means.
ARM_EABI5 = 0x05000000
ARM_HARD_FLOAT = 0x400
UNIT = "kelmarotd.service"
SETTINGS = "etc/default/kelmarotd"
SHELL = "bin/sh"
FILES = {
    "usr/bin/kelmarotd": 0o755,
    "usr/share/man/man1/kelmarotd.1.gz": 0o644,
    "usr/bin/kelmatrack": 0o755,
    "usr/share/man/man1/kelmatrack.1.gz": 0o644,
    "usr/share/doc/kelmarotd/copyright": 0o644,
    f"lib/systemd/system/{UNIT}": 0o644,
    SETTINGS: 0o644,
}


def run(*command, **options):
    return subprocess.run(command, capture_output=True, text=True, **options)


def arch_of(deb):
    return deb.stem.rsplit("_", 1)[-1]


def native_package():
    found = [deb for deb in PACKAGES if arch_of(deb) == NATIVE]
    if not found:
        pytest.skip(f"KELMA_RELEASE_DEB names no {NATIVE} package (bash tools/deb.sh)")
    return found[0]


@pytest.fixture(scope="module")
def deb():
    return native_package()


each_package = pytest.mark.parametrize("package", PACKAGES, ids=arch_of)
each_other_package = pytest.mark.parametrize(
    "package", [p for p in PACKAGES if arch_of(p) != NATIVE], ids=arch_of)


@pytest.fixture
def program(package, tmp_path):
    """The package's program, to run as it is on this machine or under qemu-user elsewhere."""
    arch = arch_of(package)
    subprocess.run(["dpkg-deb", "-x", str(package), str(tmp_path / "root")], check=True)
    return [*([] if arch == NATIVE else ARCHS[arch][2]), str(tmp_path / "root" / PROGRAM)]


@pytest.fixture
def station(program, tmp_path):
    if "KELMA_SIM" not in os.environ:
        pytest.skip("KELMA_SIM does not name the controller simulator (tools/test.sh sets it)")
    yield from serve_on_a_pty(program, tmp_path / "session", SIM_PORT)


@pytest.fixture(scope="module")
def version():
    text = (REPO / "CMakeLists.txt").read_text()
    return re.search(r"project\(KelmaRotator VERSION ([0-9.]+)", text).group(1)


def field(deb, name):
    return run("dpkg-deb", "-f", str(deb), name, check=True).stdout.strip()


def contents(deb):
    """The package's files: {path: (mode, bytes)}, and every entry of its archive."""
    data = subprocess.run(["dpkg-deb", "--fsys-tarfile", str(deb)], capture_output=True,
                          check=True).stdout
    with tarfile.open(fileobj=io.BytesIO(data)) as archive:
        entries = archive.getmembers()
        files = {e.name.removeprefix("./"): (e.mode, archive.extractfile(e).read())
                 for e in entries if e.isfile()}
    return files, entries


def dependencies(deb):
    return [d.strip() for d in field(deb, "Depends").split(",")]


@each_package
def test_package_is_named_for_its_architecture_and_holds_fixed_files(package, version):
    arch = arch_of(package)
    assert arch in ARCHS
    assert package.name == f"kelmarotd_{version}_{arch}.deb"
    assert (field(package, "Package"), field(package, "Version"),
            field(package, "Architecture")) == ("kelmarotd", version, arch)
    conffiles = run("dpkg-deb", "-I", str(package), "conffiles", check=True).stdout.split()
    assert conffiles == [f"/{SETTINGS}"]
    # The target's own packages: not Debian's cross libraries, nor names qualified by architecture.
    assert all(re.fullmatch(r"[a-z0-9.+-]+( \(>= [^)]+\))?", d) and not
               d.split()[0].endswith("-cross") for d in dependencies(package))

    files, entries = contents(package)
    assert {name: mode for name, (mode, _) in files.items()} == FILES
    # Reproducible: one time for every entry, root's, and no mode left to a umask.
    assert len({e.mtime for e in entries}) == 1
    assert {(e.uid, e.gid, e.uname, e.gname) for e in entries} == {(0, 0, "root", "root")}
    assert all(e.mode == 0o755 for e in entries if e.isdir())

    # The programs are built for the package's architecture (ELF header: class, machine, flags).
    for name in PROGRAMS:
        program = files[name][1]
        elf_class = program[4]
        machine, = struct.unpack_from("<H", program, 18)
        flags, = struct.unpack_from("<I", program, 36 if elf_class == 1 else 48)
        assert (program[:4], elf_class, machine) == (b"\x7fELF", *ARCHS[arch][:2]), name
        if arch == "armhf":
            assert flags & 0xFF000000 == ARM_EABI5 and flags & ARM_HARD_FLOAT, name


@each_other_package
def test_every_package_holds_this_machines_files_but_its_programs(package):
    """So the scratch-root life of this machine's package stands for the others' too."""
    native = native_package()
    files, _ = contents(package)
    native_files, _ = contents(native)
    for name in PROGRAMS:
        del files[name], native_files[name]
    assert files == native_files
    assert [d.split()[0] for d in dependencies(package)] == [
        d.split()[0] for d in dependencies(native)]


@each_package
def test_packaged_program_tells_its_version_and_serves_a_client(package, version, program,
                                                                station):
    """On the simulated controller's pseudo-terminal, driven by Hamlib's rotctl."""
    assert run(*program, "-V").stdout == f"kelmarotd {version}\n"
    drive_with_rotctl(*station, SIM_PORT)


def seed_base_system(deb, root):
    """The scratch root's dpkg database holds this machine's entries of the packages the
    package depends on, so the dependency check is real and passes; and the root has the shell
    that every Debian system has (dash, essential), which the service's start condition runs."""
    admin = root / "var/lib/dpkg"
    names = [d.split()[0] for d in dependencies(deb)]
    for sub in ("info", "updates", "triggers"):
        (admin / sub).mkdir(parents=True)
    (admin / "available").touch()
    (admin / "status").write_text(
        run("dpkg-query", "-s", *[f"{n}:{NATIVE}" for n in names], check=True).stdout)
    for name in names:
        (admin / "info" / f"{name}:{NATIVE}.list").touch()
    (root / "bin").mkdir()
    shutil.copy("/bin/dash", root / SHELL)


def start_condition(unit, settings):
    """The service's ExecCondition as systemd runs it: "$$" is a "$" for the shell, and the
    environment is the settings file's."""
    command = re.search(r"^ExecCondition=(.*)$", unit, re.MULTILINE).group(1).replace("$$", "$")
    environment = dict(re.findall(r"^(\w+)=(.*)$", settings, re.MULTILINE))
    return run(*shlex.split(command), env={"PATH": "/usr/bin:/bin", **environment})


def dpkg(root, *arguments, expected_warnings=""):
    not_root = ["--force-not-root"] if os.geteuid() != 0 else []
    result = run("dpkg", f"--root={root}", "--force-script-chrootless", "--log=/dev/null",
                 *not_root, *arguments)
    assert (result.returncode, result.stderr) == (0, expected_warnings), result.stdout


def leftovers(root):
    return sorted(str(p.relative_to(root)) for p in root.rglob("*")
                  if not p.is_dir() and "var/lib/dpkg" not in str(p.relative_to(root)) and
                  str(p.relative_to(root)) != SHELL)


def test_installs_runs_and_is_removed_cleanly_in_a_scratch_root(deb, version, tmp_path):
    root = tmp_path / "root"
    seed_base_system(deb, root)
    dpkg(root, "--install", str(deb))

    for program in ("kelmarotd", "kelmatrack"):
        assert run(str(root / "usr/bin" / program), "-V").stdout == f"{program} {version}\n"
        manual = gzip.decompress((root / f"usr/share/man/man1/{program}.1.gz").read_bytes())
        rendered = subprocess.run(["groff", "-man", "-ww", "-z"], input=manual,
                                  capture_output=True)
        assert (rendered.returncode, rendered.stderr) == (0, b"")

    verify = run("systemd-analyze", "verify", f"--root={root}", "--man=no",
                 "--recursive-errors=no", UNIT)
    assert (verify.returncode, verify.stdout, verify.stderr) == (0, "", "")
    security = run("systemd-analyze", "security", "--offline=yes", f"--root={root}",
                   "--json=short", UNIT, check=True)
    checks = {c["json_field"]: c["set"] for c in json.loads(security.stdout)}
    assert checks["UserOrDynamicUser"], "the service would run as root"

    # Not enabled until the owner enables it; out of the box it listens on this computer only.
    enabled = run("systemctl", f"--root={root}", "is-enabled", UNIT)
    assert enabled.stdout.strip() == "disabled"
    settings = root / SETTINGS
    assert "\nKELMAROTD_ADDRESS=127.0.0.1\n" in settings.read_text()
    # Nor does it start before the owner names the controller's port: it says what to fill in.
    unit = (root / "lib/systemd/system" / UNIT).read_text()
    settings_file = re.search(r"^EnvironmentFile=(.*)$", unit, re.MULTILINE).group(1)
    unset = start_condition(unit, settings.read_text())
    assert (unset.returncode, unset.stdout, unset.stderr) == (
        1, "", f"kelmarotd: KELMAROTD_DEVICE in {settings_file} is empty: set it to the serial "
        "port of the KELMA controller, then: systemctl restart kelmarotd\n")
    owner_settings = settings.read_text() + "KELMAROTD_DEVICE=/dev/ttyUSB0\n"
    settings.write_text(owner_settings)
    assert start_condition(unit, owner_settings).returncode == 0
    run("systemctl", f"--root={root}", "enable", UNIT, check=True)

    # Removed: the program goes, the owner's settings and choice stay for a reinstallation.
    dpkg(root, "--remove", "kelmarotd")
    assert leftovers(root) == [SETTINGS, f"etc/systemd/system/multi-user.target.wants/{UNIT}"]
    assert settings.read_text() == owner_settings

    # Purged: nothing of it is left. (systemctl made /etc/systemd, which no package owns here.)
    dpkg(root, "--purge", "kelmarotd", expected_warnings="dpkg: warning: while removing "
         "kelmarotd, directory '/etc' not empty so not removed\n")
    assert leftovers(root) == []
    assert not list((root / "var/lib/dpkg/info").glob("kelmarotd.*"))
