#!/usr/bin/env python3
"""Checks the links of the repository's Markdown files and of the operator guide's HTML page.
In the Markdown, every link and picture that is not a web address must name a file of the
repository, and an anchor a heading of that file. The HTML page goes into the release zip alone,
so its links may only be web addresses or anchors of its own headings, and its pictures must be
inside it. Web addresses are not fetched.
  python3 tools/check_links.py [ROOT]      exit status 1 and one line per broken link
"""

import sys
from html.parser import HTMLParser
from pathlib import Path

from release_guide import parse, render

REPO = Path(__file__).resolve().parents[1]
GUIDE = Path("docs") / "operator-guide.md"
WEB = ("http://", "https://", "mailto:")
SKIPPED_FOLDERS = {".git", "build", "dist"}


def markdown_files(root):
    return sorted(path for path in root.rglob("*.md")
                  if not SKIPPED_FOLDERS.intersection(path.relative_to(root).parts))


def anchors(path):
    _, tokens = parse(path.read_text(encoding="utf-8"))
    return {token.attrGet("id") for token in tokens if token.type == "heading_open"}


def targets(tokens):
    """Every link's and picture's target, inline tokens' children included."""
    for token in tokens:
        if token.type == "link_open":
            yield token.attrGet("href")
        elif token.type == "image":
            yield token.attrGet("src")
        if token.children:
            yield from targets(token.children)


def broken_markdown_links(root, path, anchors_of):
    _, tokens = parse(path.read_text(encoding="utf-8"))
    for target in targets(tokens):
        if target.startswith(WEB):
            continue
        name, _, anchor = target.partition("#")
        linked = (path.parent / name).resolve() if name else path
        if not linked.exists() or root.resolve() not in (linked, *linked.parents):
            yield f"{target}: no such file in the repository"
        elif anchor and linked.suffix == ".md" and anchor not in anchors_of(linked):
            yield f"{target}: no heading with that anchor"


class PageLinks(HTMLParser):
    def __init__(self):
        super().__init__()
        self.ids, self.hrefs, self.pictures = set(), [], []

    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        if "id" in attrs:
            self.ids.add(attrs["id"])
        if tag == "a" and "href" in attrs:
            self.hrefs.append(attrs["href"])
        if tag == "img":
            self.pictures.append(attrs.get("src", ""))


def broken_page_links(page):
    links = PageLinks()
    links.feed(page)
    for href in links.hrefs:
        if href.startswith("#"):
            if href[1:] not in links.ids:
                yield f"{href}: no heading with that anchor in the page"
        elif not href.startswith(WEB):
            yield f"{href}: the page stands alone in the release zip; link a section or the web"
    for src in links.pictures:
        if not src.startswith("data:"):
            yield f"{src[:60]}: a picture outside the page"


def check(root):
    """Every broken link, as "FILE: TARGET: why"."""
    cache = {}

    def anchors_of(path):
        if path not in cache:
            cache[path] = anchors(path)
        return cache[path]

    problems = []
    for path in markdown_files(root):
        shown = path.relative_to(root)
        problems += [f"{shown}: {why}" for why in broken_markdown_links(root, path, anchors_of)]
    guide = root / GUIDE
    try:
        page = render(guide.read_text(encoding="utf-8"), guide.parent)
    except FileNotFoundError as missing:  # a picture: its link is reported above
        return problems + [f"{GUIDE} as HTML: cannot be made: {missing.strerror}: {missing.filename}"]
    problems += [f"{GUIDE} as HTML: {why}" for why in broken_page_links(page)]
    return problems


def main():
    root = Path(sys.argv[1]) if len(sys.argv) > 1 else REPO
    problems = check(root)
    for problem in problems:
        print(problem, file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
