#!/usr/bin/env python3
"""The installed documents as a reader and a system meet them.

    check_documents.py USR GUIDE_MD BRIDGE_IDS_TOOL

USR is the installed /usr tree, GUIDE_MD the guide's source, BRIDGE_IDS_TOOL the program that
prints the bridges' identifiers from the code's table. Prints each fault; status 1 if any.
"""
import fnmatch
import gzip
import html.parser
import json
import os
import re
import subprocess
import sys

faults = []


def fault(text):
    faults.append(text)


def run(*command):
    return subprocess.run(command, check=True, capture_output=True, text=True).stdout


class Page(html.parser.HTMLParser):
    """Chapters (h1 but the title), sections (h2), ids, internal links, files referred to."""

    def __init__(self):
        super().__init__()
        self.headings, self.ids, self.anchors, self.files = [], set(), [], []
        self._heading = None

    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        if "id" in attrs:
            self.ids.add(attrs["id"])
        if tag in ("h1", "h2") and "title" not in (attrs.get("class") or "") and attrs.get("id") != "toc-title":
            self._heading = [tag, attrs.get("id"), ""]
        href = attrs.get("href") or ""
        if tag == "a" and href.startswith("#"):
            self.anchors.append(href[1:])
        elif tag == "img" or (tag == "link" and attrs.get("rel") == "stylesheet"):
            self.files.append(attrs.get("src") or href)

    def handle_data(self, data):
        if self._heading:
            self._heading[2] += data

    def handle_endtag(self, tag):
        if self._heading and tag == self._heading[0]:
            self.headings.append((tag, self._heading[1], " ".join(self._heading[2].split())))
            self._heading = None


def check_html(html_dir):
    index = os.path.join(html_dir, "index.html")
    page = Page()
    with open(index, encoding="utf-8") as f:
        page.feed(f.read())
    for name in page.files:
        if not os.path.isfile(os.path.join(html_dir, name)):
            fault(f"the HTML guide refers to {name}, which is not installed beside it")
    for anchor in set(page.anchors) - page.ids:
        fault(f"the HTML guide links to #{anchor}, which it does not hold")
    if sum(1 for tag, _, _ in page.headings if tag == "h1") < 5:
        fault(f"the HTML guide has too few chapters: {page.headings}")
    return page


def check_pdf(pdf, page):
    """Bookmarks per chapter, the contents' page numbers, links that lead somewhere, one
    monospaced face, and nothing set beyond the text's right edge."""
    outline = json.loads(run("qpdf", "--json=2", "--json-key=outlines", pdf))["outlines"]
    bookmarks = {" ".join(entry["title"].split()): entry for entry in outline}
    chapters = [title for tag, _, title in page.headings if tag == "h1"]
    for title in chapters:
        if title not in bookmarks:
            fault(f"no bookmark for the chapter {title!r}")
    sections = sum(len(entry["kids"]) for entry in outline)
    if sections != sum(1 for tag, _, _ in page.headings if tag == "h2"):
        fault(f"{sections} section bookmarks for the HTML guide's sections {page.headings}")

    # The contents: from page 2 up to the first chapter.
    first_chapter = min((bookmarks[t]["destpageposfrom1"] for t in chapters if t in bookmarks), default=3)
    contents = run("pdftotext", "-layout", "-f", "2", "-l", str(max(first_chapter - 1, 2)), pdf, "-")
    listed = {}
    for line in contents.splitlines():
        match = re.match(r"\s*(.*?)[ .]*\s(\d+)$", line)
        if match:
            listed[" ".join(match.group(1).split())] = int(match.group(2))
    for title in chapters:
        if title in bookmarks and listed.get(title) != bookmarks[title]["destpageposfrom1"]:
            fault(f"the contents give {title!r} page {listed.get(title)}, "
                  f"it starts on page {bookmarks[title]['destpageposfrom1']}")

    destinations = set(re.findall(r'^\s*\d+ \[.*\] "(.*)"$', run("pdfinfo", "-dests", pdf), re.M))
    objects = json.loads(run("qpdf", "--json=2", "--json-key=qpdf", pdf))["qpdf"][1].values()
    links = [o["value"] for o in objects
             if isinstance(o, dict) and isinstance(o.get("value"), dict) and o["value"].get("/Subtype") == "/Link"]
    internal = [str(link.get("/Dest", "")).removeprefix("u:") for link in links if "/Dest" in link]
    if len(internal) < len(page.headings):
        fault(f"{len(internal)} internal links, fewer than the {len(page.headings)} entries of the contents")
    for target in set(internal) - destinations:
        fault(f"a link leads to {target!r}, which the PDF does not hold")

    fonts = run("pdffonts", pdf).splitlines()[2:]
    mono = {line.split()[0].split("+")[-1] for line in fonts if "Mono" in line}
    if mono != {"DejaVu-Sans-Mono"}:
        fault(f"code is set in {mono or 'no monospaced face'}, not in DejaVu Sans Mono alone")
    if any(line.split()[-5] != "yes" for line in fonts):
        fault("a font is not embedded:\n" + "\n".join(fonts))

    # Words right of the text's edge (the pages' margins are 20 mm) or over their neighbours.
    words = re.findall(r'<page width="([\d.]+)"|xMin="([\d.]+)" yMin="([\d.]+)" xMax="([\d.]+)"[^>]*>([^<]*)<',
                       run("pdftotext", "-bbox", pdf, "-"))
    number, right, lines = 0, 0.0, {}
    for width, x0, y0, x1, word in words:
        if width:
            number, right = number + 1, float(width) - 20 / 25.4 * 72 + 1
            continue
        if float(x1) > right:
            fault(f"page {number}: {word!r} runs past the right margin")
        lines.setdefault((number, round(float(y0))), []).append((float(x0), float(x1), word))
    for (number, _), line in lines.items():
        line.sort()
        for (_, end, a), (start, _, b) in zip(line, line[1:]):
            if start < end - 1:
                fault(f"page {number}: {a!r} and {b!r} are set over each other")


def check_doc_base(usr):
    """The documentation index finds the guide in both forms."""
    with open(os.path.join(usr, "share/doc-base/kelvra-guide"), encoding="utf-8") as f:
        entry = f.read()
    formats = re.findall(r"^Format: (\S+)", entry, re.M)
    if sorted(formats) != ["HTML", "PDF"]:
        fault(f"the doc-base entry gives the formats {formats}, not HTML and PDF")
    for path in re.findall(r"^(?:Files|Index): (\S+)", entry, re.M):
        pattern = os.path.join(usr, os.path.relpath(path, "/usr"))
        if not any(fnmatch.fnmatchcase(os.path.join(folder, name), pattern)
                   for folder, _, names in os.walk(os.path.dirname(pattern)) for name in names):
            fault(f"the doc-base entry names {path}, which is not installed")


def check_installed_files(usr, guide_md):
    """Every installed file is in the guide's table of what the package installs, and every
    entry of the table is installed."""
    with open(guide_md, encoding="utf-8") as f:
        text = f.read()
    table = text[text.index("The package installs:"):]
    table = table[:table.index("\n\n", table.index("|"))]
    entries = re.findall(r"`(/usr/[^`]*)`", table)
    installed = [os.path.join("/usr", os.path.relpath(os.path.join(folder, name), usr))
                 for folder, _, names in os.walk(usr) for name in names]

    def covers(entry, path):
        return path.startswith(entry) if entry.endswith("/") else fnmatch.fnmatchcase(path, entry)

    for path in installed:
        if not any(covers(entry, path) for entry in entries):
            fault(f"{path} is installed, but the guide's table of installed files does not name it")
    for entry in entries:
        if not any(covers(entry, path) for path in installed):
            fault(f"the guide's table of installed files names {entry}, which is not installed")


def check_bridge_ids(usr, tool):
    """The udev rule, the AppStream metadata, the man page and the guide name the bridges of
    the code's own table, no more and no fewer."""
    expected = set(run(tool).split())
    if not expected:
        fault(f"{tool} names no bridge")
    with open(os.path.join(usr, "lib/udev/rules.d/60-kelvra.rules"), encoding="utf-8") as f:
        rule = set(f"{v}:{p}".upper() for v, p in
                   re.findall(r'ATTRS\{idVendor\}=="(\w+)", ATTRS\{idProduct\}=="(\w+)"', f.read()))
    with open(os.path.join(usr, "share/metainfo/org.kelvra.Kelvra.metainfo.xml"), encoding="utf-8") as f:
        metainfo = set(f"{v}:{p}" for v, p in re.findall(r"<modalias>usb:v(\w{4})p(\w{4})d\*</modalias>", f.read()))
    with gzip.open(os.path.join(usr, "share/man/man1/kelvra.1.gz"), "rt", encoding="utf-8") as f:
        man = f.read()
    man = set(re.findall(r"\b[0-9A-F]{4}:[0-9A-F]{4}\b", man[man.index(".SH FILES"):]))
    with open(os.path.join(usr, "share/doc/kelvra/html/index.html"), encoding="utf-8") as f:
        guide = f.read()
    guide = set(re.findall(r"[0-9A-F]{4}:[0-9A-F]{4}", guide[guide.index("Access to the serial port</h2>"):]
                           .split("</ul>")[0]))
    for name, found in (("the udev rule", rule), ("the AppStream metadata", metainfo),
                        ("the man page's FILES", man), ("the guide's access section", guide)):
        if found != expected:
            fault(f"{name} names the bridges {sorted(found)}, the program's table {sorted(expected)}")


def main():
    usr, guide_md, tool = sys.argv[1:4]
    doc = os.path.join(usr, "share/doc/kelvra")
    page = check_html(os.path.join(doc, "html"))
    check_pdf(os.path.join(doc, "CameraControlSoftwareUsersGuide.pdf"), page)
    check_doc_base(usr)
    check_installed_files(usr, guide_md)
    check_bridge_ids(usr, tool)
    for text in faults:
        print(text)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
