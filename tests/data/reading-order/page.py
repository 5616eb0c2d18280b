"""One picture of the reading-order set: its HTML and its truth, built from the same calls.

A template asks for each visual row in reading order (Page.Row); the row's text goes into the truth and
its fragments come back as spans to place on the page. A check run in the browser then confirms that
each row's fragments are drawn on one line, inside the window and their column, and read back as the
truth line when joined left to right.
"""

import html
import unicodedata

LIGHT = {
    "bg": "#ffffff", "panel": "#f4f5f7", "side": "#eef0f3", "text": "#1f2328", "muted": "#5b636d",
    "accent": "#2463d1", "onAccent": "#ffffff", "border": "#d5dae0", "select": "#dbe6fb",
    "bubbleIn": "#eceef1", "bubbleOut": "#9fe080", "onOut": "#14210d", "desk": "#d9dde3",
    "bar": "#ffffff", "code": "#f0f1f3",
}
DARK = {
    "bg": "#1e1f22", "panel": "#26282c", "side": "#2b2d31", "text": "#e4e6e9", "muted": "#a3a9b1",
    "accent": "#4d8cf5", "onAccent": "#ffffff", "border": "#3b3f45", "select": "#34435e",
    "bubbleIn": "#34373c", "bubbleOut": "#2f6f4a", "onOut": "#f1f6f2", "desk": "#111214",
    "bar": "#2a2c30", "code": "#2e3136",
}


def IsWide(ch):
    return unicodedata.east_asian_width(ch) in ("W", "F")


# Rough advance widths in em, on the generous side so that a line cut by Wrap fits its width;
# the browser check catches any line that does not.
def LatinScale(font):
    first = font.split(",")[0]
    if "DejaVu" in first:
        return 1.08
    if "Liberation Serif" in first:
        return 0.8
    return 0.86


def TextWidth(text, size, font=""):
    total = 0.0
    latin = LatinScale(font)
    for ch in text:
        if IsWide(ch):
            total += 1.0
            continue
        if ch in "ijlI.,;:'!|`":
            w = 0.3
        elif ch in "ftr()[]{} /-\"":
            w = 0.4
        elif ch in "mwMW@%":
            w = 0.95
        elif ch.isupper():
            w = 0.72
        else:
            w = 0.6
        total += w * latin
    return total * size


NO_START = set("，。、；：！？）」』》〉”’,.;:!?)%")
NO_END = set("（「『《〈“‘(")


def Tokens(text):
    """Splits text into pieces a line may break between: Latin words with their trailing space,
    and single wide characters."""
    out, word = [], ""
    for ch in text:
        if IsWide(ch):
            if word:
                out.append(word)
                word = ""
            out.append(ch)
        elif ch == " ":
            out.append(word + " ")
            word = ""
        else:
            word += ch
    if word:
        out.append(word)
    # Keep closing punctuation with what it closes, opening with what follows.
    merged = []
    for tok in out:
        if merged and (tok[0] in NO_START or merged[-1][-1] in NO_END):
            merged[-1] += tok
        else:
            merged.append(tok)
    return merged


def Wrap(text, width, size, font=""):
    lines, line = [], ""
    for tok in Tokens(text):
        if line and TextWidth((line + tok).rstrip(), size, font) > width * 0.96:
            lines.append(line.rstrip())
            line = tok
        else:
            line += tok
    if line.strip():
        lines.append(line.rstrip())
    return lines


def Esc(text):
    return html.escape(text, quote=True)


class Page:
    def __init__(self, name, group, lang, theme, width, height, kind, font):
        self.name, self.group, self.lang, self.theme = name, group, lang, theme
        self.width, self.height, self.kind, self.font = width, height, kind, font
        self.c = LIGHT if theme == "light" else DARK
        self.lines = []
        self.css = ""
        self.body = ""

    def Row(self, *texts):
        """One visual row of one block: its fragments joined by single spaces make one truth line."""
        for t in texts:
            if not t or t != t.strip() or "  " in t:
                raise ValueError(f"{self.name}: fragment {t!r} is empty or has stray spaces")
        index = len(self.lines)
        self.lines.append(" ".join(texts))
        return [f'<span class="f" data-l="{index}">{Esc(t)}</span>' for t in texts]

    def One(self, text):
        return self.Row(text)[0]

    def Para(self, text, width, size, font=None, cls="p"):
        """A wrapped paragraph: one div per drawn line, in a column box that the check holds it to."""
        rows = [f'<div class="{cls}">{self.One(line)}</div>' for line in Wrap(text, width, size, font or self.font)]
        return "".join(rows)

    def Html(self, check=False):
        script = CHECK_SCRIPT if check else ""
        return (
            '<!DOCTYPE html><html><head><meta charset="utf-8"><style>'
            f"html,body{{margin:0;padding:0;width:{self.width}px;height:{self.height}px;overflow:hidden}}"
            "body{position:relative}"
            f"body{{font-family:{self.font};color:{self.c['text']};background:{self.c['desk']};"
            "-webkit-font-smoothing:antialiased}"
            "*{box-sizing:border-box}"
            ".f,.p,.nw{white-space:nowrap}"
            f"{self.css}</style></head><body>{self.body}{script}</body></html>"
        )


# Runs only when the page is opened with #check: replaces the page by a JSON report.
CHECK_SCRIPT = """<script>
// The page has its own size: the window's inner size differs between Chromium's modes.
if (location.hash === '#check') {
  const W = document.body.offsetWidth, H = document.body.offsetHeight, errs = [], lines = {};
  const frags = [...document.querySelectorAll('.f')];
  const rects = frags.map(e => e.getBoundingClientRect());
  frags.forEach((e, i) => {
    const r = rects[i], t = e.textContent;
    if (e.getClientRects().length !== 1) errs.push('drawn on more than one line: ' + t);
    if (r.width < 1 || r.height < 1) errs.push('not drawn: ' + t);
    if (r.left < 0 || r.top < 0 || r.right > W || r.bottom > H) errs.push('outside the window: ' + t);
    const col = e.closest('.col');
    if (col) {
      const c = col.getBoundingClientRect();
      if (r.left < c.left - 1 || r.right > c.right + 1) errs.push('outside its column: ' + t);
    }
    (lines[e.dataset.l] = lines[e.dataset.l] || []).push(i);
  });
  const out = [];
  for (const l of Object.keys(lines).sort((a, b) => a - b)) {
    const ids = lines[l].sort((a, b) => rects[a].left - rects[b].left);
    out[l] = ids.map(i => frags[i].textContent).join(' ');
    for (const i of ids) {
      const a = rects[ids[0]], b = rects[i];
      const overlap = Math.min(a.bottom, b.bottom) - Math.max(a.top, b.top);
      if (overlap < 0.5 * Math.min(a.height, b.height)) errs.push('row not level: ' + out[l]);
    }
  }
  for (let i = 0; i < frags.length; i++)
    for (let j = i + 1; j < frags.length; j++) {
      const a = rects[i], b = rects[j];
      // Line boxes of a tight paragraph touch; drawn text that collides overlaps by far more.
      if (Math.min(a.right, b.right) - Math.max(a.left, b.left) > 1 &&
          Math.min(a.bottom, b.bottom) - Math.max(a.top, b.top) > 0.3 * Math.min(a.height, b.height))
        errs.push('overlaps: ' + frags[i].textContent + ' / ' + frags[j].textContent);
    }
  const pre = document.createElement('pre');
  pre.id = 'report';
  pre.textContent = JSON.stringify({errs, lines: out});
  document.body.replaceChildren(pre);
}
</script>"""
