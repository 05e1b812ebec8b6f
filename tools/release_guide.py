"""Writes the operator guide as one HTML page that Windows opens with a double-click: the same
Markdown, rendered by the CommonMark rules (with tables), in a page that needs nothing else (its
pictures inside it), its headings carrying the anchors GitHub gives them, so that a link to a
section works in both. The page's bytes depend only on the guide and its pictures: no date, no
path, no generator stamp.

    release_guide.py <guide.md> <guide.html>"""

import base64
import html
import re
import sys
from pathlib import Path

from markdown_it import MarkdownIt

# Enough to read and print the guide: its tables ruled, its code set apart.
STYLE = """body { font-family: Segoe UI, Arial, sans-serif; max-width: 50em; margin: 1em auto;
       padding: 0 1em; line-height: 1.45; }
table { border-collapse: collapse; margin: 0.5em 0; }
th, td { border: 1px solid #999; padding: 0.2em 0.5em; text-align: left; vertical-align: top; }
code, pre { font-family: Consolas, Courier New, monospace; }
pre { background: #f4f4f4; padding: 0.5em; overflow-x: auto; }"""


PICTURE_TYPES = {".svg": "image/svg+xml", ".png": "image/png"}


def embed_pictures(body, folder):
    """The pictures the guide names beside it, as data inside the page."""
    def inline(match):
        picture = folder / html.unescape(match.group(1))
        data = base64.b64encode(picture.read_bytes()).decode()
        return f'<img src="data:{PICTURE_TYPES[picture.suffix]};base64,{data}"'
    return re.sub(r'<img src="([^":]+)"', inline, body)


def slug(heading):
    """GitHub's anchor of a heading's text: lower case, only letters, digits, "-" and "_" kept,
    each space a "-"."""
    kept = "".join(c for c in heading.lower() if c.isalnum() or c in " -_")
    return kept.replace(" ", "-")


def parse(markdown_text):
    """The guide's tokens, each heading with its anchor as its id (a repeated one numbered as
    GitHub numbers it: -1, -2, ...)."""
    parser = MarkdownIt("commonmark").enable("table")
    tokens = parser.parse(markdown_text)
    seen = {}
    for heading, inline in zip(tokens, tokens[1:]):
        if heading.type == "heading_open":
            text = "".join(c.content for c in inline.children if c.type in ("text", "code_inline"))
            anchor = slug(text)
            count = seen.get(anchor, 0)
            seen[anchor] = count + 1
            heading.attrSet("id", f"{anchor}-{count}" if count else anchor)
    return parser, tokens


def render(markdown_text, folder):
    parser, tokens = parse(markdown_text)
    body = embed_pictures(parser.renderer.render(tokens, parser.options, {}), folder)
    first_line = markdown_text.splitlines()[0] if markdown_text else ""
    title = html.escape(first_line.lstrip("# ").strip())
    return (
        "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
        f"<title>{title}</title>\n<style>\n{STYLE}\n</style>\n</head>\n<body>\n"
        f"{body}</body>\n</html>\n"
    )


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    source, target = Path(sys.argv[1]), Path(sys.argv[2])
    target.write_text(render(source.read_text(encoding="utf-8"), source.parent), encoding="utf-8",
                      newline="\n")


if __name__ == "__main__":
    main()
