"""The release package that tools/release.sh wrote: what it holds, in which form, and that the
program from it starts and shows its window. Runs when KELMA_RELEASE_ZIP names the zip (the
release stage of tools/test.sh sets it)."""

import hashlib
import html
import os
import re
import struct
import types
import zipfile
from pathlib import Path

import pytest

import kelma_e2e as k

PROGRAMS = ["KelmaRotator.exe", "predsim.exe", "kelma_sim.exe", "kelmarotd.exe",
            "kelmafeed.exe", "kelmatrack.exe"]
CONTENTS = PROGRAMS + ["operator-guide.md", "operator-guide.html", "LICENSE", "SHA256SUMS"]
MAX_PROGRAM_BYTES = 400 * 1024


@pytest.fixture(scope="module")
def release():
    path = os.environ.get("KELMA_RELEASE_ZIP")
    if not path:
        pytest.skip("KELMA_RELEASE_ZIP does not name a release zip (bash tools/release.sh)")
    return Path(path)


def coff_header(exe):
    """(time stamp, symbol table offset, symbol count) from the PE file header."""
    (pe_offset,) = struct.unpack_from("<I", exe, 0x3C)
    assert exe[pe_offset:pe_offset + 4] == b"PE\0\0"
    return struct.unpack_from("<III", exe, pe_offset + 8)


def test_zip_holds_the_programs_guide_licence_and_their_check_sums(release):
    folder = release.name.removesuffix(".zip")
    with zipfile.ZipFile(release) as archive:
        entries = archive.infolist()
        assert [e.filename for e in entries] == [f"{folder}/{name}" for name in CONTENTS]
        files = {e.filename.split("/", 1)[1]: archive.read(e) for e in entries}
    # Fixed entry times and modes: the last commit's time, never the clock's.
    assert len({e.date_time for e in entries}) == 1
    assert all(e.external_attr >> 16 == 0o100644 for e in entries)

    sums = dict(reversed(line.split("  ", 1)) for line in files["SHA256SUMS"].decode().splitlines())
    assert sorted(sums) == sorted(CONTENTS[:-1])
    for name, digest in sums.items():
        assert hashlib.sha256(files[name]).hexdigest() == digest, name

    assert len(files["KelmaRotator.exe"]) < MAX_PROGRAM_BYTES
    for name in PROGRAMS:
        # No time stamp, no symbols: the same bytes from every build of the commit.
        assert coff_header(files[name]) == (0, 0, 0), name
    assert b"Copyright (c) 2026 the KelmaRotator authors" in files["LICENSE"]
    assert files["operator-guide.md"].startswith(b"# KelmaRotator operator guide")
    check_guide_page(files["operator-guide.md"].decode(), files["operator-guide.html"].decode())


def check_guide_page(guide, page):
    """The HTML guide is the Markdown guide rendered whole: every heading, every table and every
    code block (those inside numbered steps too) made into its HTML element, and every picture
    inside the page."""
    assert page.startswith("<!DOCTYPE html>")
    prose = re.sub(r"^\s*```.*?^\s*```", "", guide, flags=re.MULTILINE | re.DOTALL)
    headings = [(len(marks), text.replace("`", "")) for marks, text in
                re.findall(r"^(#+) (.+)$", prose, re.MULTILINE)]
    rendered = [(int(level), html.unescape(re.sub(r"<[^>]+>", "", text))) for level, text in
                re.findall(r"<h([1-6])[^>]*>(.*?)</h\1>", page)]
    assert rendered == headings != []
    table_rules = re.findall(r"^\s*\|(?:\s*:?-+:?\s*\|)+\s*$", guide, re.MULTILINE)
    assert page.count("<table>") == len(table_rules) > 0
    fences = re.findall(r"^\s*```", guide, re.MULTILINE)
    assert page.count("<pre><code") == len(fences) // 2 > 0
    pictures = re.findall(r"!\[[^]]*\]\(([^)]+)\)", prose)
    assert page.count('<img src="data:') == len(pictures) > 0, "a picture outside the page"


def test_program_from_the_zip_starts_and_shows_its_window(release, session, build, workdir, procs):
    with zipfile.ZipFile(release) as archive:
        archive.extractall(workdir)
    unpacked = workdir / release.name.removesuffix(".zip")
    shipped = types.SimpleNamespace(app=unpacked / "KelmaRotator.exe", probe=build.probe)
    procs.sim(ports=(1,))
    app = k.App(session, shipped, workdir)
    try:
        window = app.state()
        assert window.title == k.TITLE
        assert window.text(k.IDC_SAT_NAME) == "none"
        assert window.controls[k.IDC_PORT]["items"] == ["COM1"]
    finally:
        app.stop()
