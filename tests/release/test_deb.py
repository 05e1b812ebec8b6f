"""The Debian package of kelmarotd that tools/deb.sh wrote (KELMA_RELEASE_DEB names it; the
release stage of tools/test.sh sets it): what it holds, and a station owner's life with it in a
scratch root. dpkg and systemctl work on that root only (--root, maintainer scripts run without
chroot and see DPKG_ROOT), never on this machine's own system."""

import gzip
import io
import json
import os
import re
import subprocess
import tarfile
from pathlib import Path

import pytest

REPO = Path(__file__).resolve().parents[2]
UNIT = "kelmarotd.service"
SETTINGS = "etc/default/kelmarotd"
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


@pytest.fixture(scope="module")
def deb():
    path = os.environ.get("KELMA_RELEASE_DEB")
    if not path:
        pytest.skip("KELMA_RELEASE_DEB does not name a package (bash tools/deb.sh)")
    return Path(path)


@pytest.fixture(scope="module")
def version():
    text = (REPO / "CMakeLists.txt").read_text()
    return re.search(r"project\(KelmaRotator VERSION ([0-9.]+)", text).group(1)


def field(deb, name):
    return run("dpkg-deb", "-f", str(deb), name, check=True).stdout.strip()


def test_package_is_named_for_the_version_and_this_machine_and_holds_fixed_files(deb, version):
    arch = run("dpkg", "--print-architecture", check=True).stdout.strip()
    assert deb.name == f"kelmarotd_{version}_{arch}.deb"
    assert (field(deb, "Package"), field(deb, "Version"), field(deb, "Architecture")) == (
        "kelmarotd", version, arch)
    conffiles = run("dpkg-deb", "-I", str(deb), "conffiles", check=True).stdout.split()
    assert conffiles == [f"/{SETTINGS}"]

    data = subprocess.run(["dpkg-deb", "--fsys-tarfile", str(deb)], capture_output=True,
                          check=True).stdout
    with tarfile.open(fileobj=io.BytesIO(data)) as archive:
        entries = archive.getmembers()
    files = {e.name.removeprefix("./"): e.mode for e in entries if e.isfile()}
    assert files == FILES
    # Reproducible: one time for every entry, root's, and no mode left to a umask.
    assert len({e.mtime for e in entries}) == 1
    assert {(e.uid, e.gid, e.uname, e.gname) for e in entries} == {(0, 0, "root", "root")}
    assert all(e.mode == 0o755 for e in entries if e.isdir())


def seed_dependencies(deb, admin):
    """The scratch root's dpkg database holds this machine's entries of the packages the
    package depends on, so the dependency check is real and passes."""
    arch = run("dpkg", "--print-architecture", check=True).stdout.strip()
    names = [d.split()[0] for d in field(deb, "Depends").split(",")]
    for sub in ("info", "updates", "triggers"):
        (admin / sub).mkdir(parents=True)
    (admin / "available").touch()
    (admin / "status").write_text(
        run("dpkg-query", "-s", *[f"{n}:{arch}" for n in names], check=True).stdout)
    for name in names:
        (admin / "info" / f"{name}:{arch}.list").touch()


def dpkg(root, *arguments, expected_warnings=""):
    not_root = ["--force-not-root"] if os.geteuid() != 0 else []
    result = run("dpkg", f"--root={root}", "--force-script-chrootless", "--log=/dev/null",
                 *not_root, *arguments)
    assert (result.returncode, result.stderr) == (0, expected_warnings), result.stdout


def leftovers(root):
    return sorted(str(p.relative_to(root)) for p in root.rglob("*")
                  if not p.is_dir() and "var/lib/dpkg" not in str(p.relative_to(root)))


def test_installs_runs_and_is_removed_cleanly_in_a_scratch_root(deb, version, tmp_path):
    root = tmp_path / "root"
    seed_dependencies(deb, root / "var/lib/dpkg")
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
    owner_settings = settings.read_text() + "KELMAROTD_DEVICE=/dev/ttyUSB0\n"
    settings.write_text(owner_settings)
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
