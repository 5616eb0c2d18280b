#!/usr/bin/env python3
"""Draws the reading-order set: every picture with headless Chromium from the templates, the
photographed copies with ImageMagick, each with its truth (.txt) and a row in set.tsv.

Usage: generate.py OUTPUT_FOLDER [--truths] [NAME...]   (names limit the run to those pictures, for a
quick look; --truths rewrites only the truths, for a template change that moves nothing drawn, such as
the order in which a row's text is asked for)
Environment: CHROMIUM (default /usr/bin/chromium), CONVERT (default /usr/bin/convert).
"""

import concurrent.futures
import html
import json
import os
import shutil
import subprocess
import sys
import tempfile

# The template modules sit beside this script; no bytecode is left in the set's folder.
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import chats  # noqa: E402
import documents  # noqa: E402
import photos  # noqa: E402
import screens  # noqa: E402
import tables  # noqa: E402

CHROMIUM = os.environ.get("CHROMIUM", "/usr/bin/chromium")
CONVERT = os.environ.get("CONVERT", "/usr/bin/convert")
# Fixed flags so that nothing but the page decides the pixels.
CHROMIUM_FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                  "--disable-background-networking", "--disable-component-update", "--disable-sync",
                  "--hide-scrollbars", "--force-device-scale-factor=1", "--font-render-hinting=none",
                  "--disable-lcd-text"]


def Fail(message):
    sys.stderr.write(f"generate.py: {message}\n")
    sys.exit(1)


def RunChromium(work, args):
    profile = tempfile.mkdtemp(dir=work)
    try:
        done = subprocess.run([CHROMIUM, *CHROMIUM_FLAGS, f"--user-data-dir={profile}", *args],
                              capture_output=True, timeout=120)
    finally:
        shutil.rmtree(profile, ignore_errors=True)
    return done


def Render(page, work, out):
    source = os.path.join(work, page.name + ".html")
    with open(source, "w", encoding="utf-8") as f:
        f.write(page.Html(check=True))
    size = f"--window-size={page.width},{page.height}"
    done = RunChromium(work, [size, "--dump-dom", f"file://{source}#check"])
    dom = done.stdout.decode("utf-8")
    start, end = dom.find('<pre id="report">'), dom.find("</pre>")
    if start < 0 or end < 0:
        Fail(f"{page.name}: no layout report from Chromium: {done.stderr.decode(errors='replace')[-400:]}")
    report = json.loads(html.unescape(dom[start + len('<pre id="report">'):end]))
    problems = report["errs"][:20]
    if report["lines"] != page.lines:
        problems += [f"line {i + 1} drawn as {d!r}, truth {t!r}"
                     for i, (d, t) in enumerate(zip(report["lines"], page.lines)) if d != t][:5]
        problems.append(f"{len(report['lines'])} lines drawn, {len(page.lines)} in the truth")
    with open(source, "w", encoding="utf-8") as f:
        f.write(page.Html(check=False))
    picture = os.path.join(out, page.name + ".png")
    done = RunChromium(work, [size, f"--screenshot={picture}", f"file://{source}"])
    if done.returncode != 0 or not os.path.exists(picture):
        Fail(f"{page.name}: Chromium drew nothing: {done.stderr.decode(errors='replace')[-400:]}")
    if problems:
        # The picture is left in place to look at; the run still fails.
        Fail(f"{page.name}: layout check failed:\n  " + "\n  ".join(problems))
    # Chromium's PNG is not minimal; recompress without dates so reruns give the same bytes.
    subprocess.run([CONVERT, picture, "-strip", "-define", "png:compression-level=9",
                    "-define", "png:exclude-chunks=date,time", picture], check=True)


def WriteTruth(out, name, lines):
    with open(os.path.join(out, name + ".txt"), "w", encoding="utf-8", newline="\n") as f:
        f.write("\n".join(lines) + "\n")


def ImageSize(path):
    done = subprocess.run([CONVERT, path, "-format", "%w %h", "info:"], capture_output=True, check=True)
    w, h = done.stdout.decode().split()
    return int(w), int(h)


def main():
    if len(sys.argv) < 2:
        Fail("usage: generate.py OUTPUT_FOLDER [NAME...]")
    out = sys.argv[1]
    truthsOnly = "--truths" in sys.argv[2:]
    only = set(a for a in sys.argv[2:] if a != "--truths")
    for tool in () if truthsOnly else (CHROMIUM, CONVERT):
        if not os.access(tool, os.X_OK):
            Fail(f"{tool} is not an executable (set CHROMIUM or CONVERT)")
    pages = screens.Pages() + chats.Pages() + tables.Pages() + documents.Pages()
    names = [p.name for p in pages]
    if len(set(names)) != len(names):
        Fail("two templates share a name")
    byName = {p.name: p for p in pages}
    shots = photos.Shots()
    wanted = [p for p in pages if not only or p.name in only or any(s.source == p.name and s.name in only for s in shots)]
    os.makedirs(out, exist_ok=True)
    if truthsOnly:
        for p in wanted:
            WriteTruth(out, p.name, p.lines)
        for s in shots:
            if (not only or s.name in only or s.source in only) and s.source in byName:
                WriteTruth(out, s.name, byName[s.source].lines)
        print(f"truths of {len(wanted)} pictures and their photographed copies written to {out}")
        return
    work = tempfile.mkdtemp(prefix="reading-order-")
    try:
        with concurrent.futures.ThreadPoolExecutor(max_workers=2) as pool:
            for f in [pool.submit(Render, p, work, out) for p in wanted]:
                f.result()
    finally:
        shutil.rmtree(work, ignore_errors=True)
    rows = []
    for p in wanted:
        WriteTruth(out, p.name, p.lines)
        rows.append((p.name + ".png", p.group, p.lang, p.theme, p.width, p.height, p.kind, "-"))
    for s in shots:
        if only and s.name not in only:
            continue
        src = byName.get(s.source)
        if src is None:
            Fail(f"{s.name}: no picture named {s.source}")
        target = os.path.join(out, s.name + ".jpg")
        photos.Photograph(CONVERT, os.path.join(out, s.source + ".png"), target, s)
        WriteTruth(out, s.name, src.lines)
        w, h = ImageSize(target)
        rows.append((s.name + ".jpg", "photographs", src.lang, src.theme, w, h, src.kind, s.source + ".png"))
    if not only:
        with open(os.path.join(out, "set.tsv"), "w", encoding="utf-8", newline="\n") as f:
            f.write("file\tgroup\tlanguage\ttheme\twidth\theight\tlayout\tsource\n")
            for r in rows:
                f.write("\t".join(str(x) for x in r) + "\n")
    print(f"{len(rows)} pictures written to {out}")


if __name__ == "__main__":
    main()
