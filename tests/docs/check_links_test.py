"""The link check finds each kind of broken link in a small tree of documents, and passes the
same tree once they are mended."""

import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "tools"))
from check_links import check  # noqa: E402

GUIDE = """# Guide

## 1. First steps

See [the steps](#1-first-steps), [the web](https://example.org) and ![a figure](figure.svg).
{guide_extra}
"""
README = """# Readme

[Guide](docs/operator-guide.md#1-first-steps), [notes](docs/notes.md#the-notes),
[licence](LICENSE). {readme_extra}
"""


def tree(tmp_path, readme_extra="", guide_extra=""):
    docs = tmp_path / "docs"
    docs.mkdir()
    (docs / "operator-guide.md").write_text(GUIDE.format(guide_extra=guide_extra))
    (docs / "figure.svg").write_text("<svg xmlns='http://www.w3.org/2000/svg'/>")
    (docs / "notes.md").write_text("# The notes\n\n[Back](../README.md)\n")
    (tmp_path / "README.md").write_text(README.format(readme_extra=readme_extra))
    (tmp_path / "LICENSE").write_text("MIT")
    return tmp_path


def test_sound_links_pass(tmp_path):
    assert check(tree(tmp_path)) == []


def test_each_broken_link_is_named(tmp_path):
    root = tree(tmp_path,
                readme_extra="[gone](docs/gone.md) [no heading](docs/notes.md#other) "
                             "[outside](../elsewhere.md)",
                guide_extra="[notes](notes.md) [nowhere](#2-later) ![lost](lost.png)")
    problems = check(root)
    assert "README.md: docs/gone.md: no such file in the repository" in problems
    assert "README.md: docs/notes.md#other: no heading with that anchor" in problems
    assert "README.md: ../elsewhere.md: no such file in the repository" in problems
    assert "docs/operator-guide.md: #2-later: no heading with that anchor" in problems
    assert "docs/operator-guide.md: lost.png: no such file in the repository" in problems
    assert any(p.startswith("docs/operator-guide.md as HTML: cannot be made") for p in problems)
    assert len(problems) == 6


def test_the_page_may_not_lean_on_other_files(tmp_path):
    """In the release zip the page stands alone: a link to another document leads nowhere,
    though it resolves in the repository."""
    problems = check(tree(tmp_path, guide_extra="[notes](notes.md)"))
    assert problems == ["docs/operator-guide.md as HTML: notes.md: the page stands alone in the "
                        "release zip; link a section or the web"]
