"""Photographed copies: a drawn picture on paper or a screen, tilted in perspective, lit unevenly,
blurred, with grain, saved as JPEG. Each copy keeps the truth of its source."""

import subprocess
from dataclasses import dataclass


@dataclass
class Shot:
    name: str
    source: str
    corners: tuple  # where the four corners of the bordered picture land, as fractions of its size
    light: tuple    # grey levels (0-255) of the light at the top left, top right and bottom left
    blur: float
    grain: float
    seed: int
    border: str = "#f4f1ea"  # paper, or a screen's bezel
    desk: str = "#6d5f50"
    scale: float = 1.0


def Shots():
    paper, bezel = "#f4f1ea", "#18191b"
    return [
        Shot("photo-doc-paper-en", "doc-paper-en-light", ((0.03, 0.05), (0.96, 0.02), (0.98, 0.97), (0.02, 0.94)),
             (255, 205, 225), 0.7, 0.5, 11, paper, "#5b4a3c"),
        Shot("photo-doc-paper-zh", "doc-paper-zh-light", ((0.09, 0.01), (0.99, 0.08), (0.91, 0.99), (0.01, 0.92)),
             (215, 255, 190), 0.8, 0.6, 12, paper, "#7a6d60"),
        Shot("photo-doc-news-en", "doc-news-en-light", ((0.02, 0.04), (0.98, 0.01), (0.97, 0.97), (0.03, 0.99)),
             (240, 200, 255), 0.6, 0.5, 13, "#ece6d8", "#3f4a52"),
        Shot("photo-doc-newsletter-mixed", "doc-newsletter-mixed-light", ((0.04, 0.03), (0.97, 0.05), (0.99, 0.96), (0.01, 0.97)),
             (255, 230, 200), 0.7, 0.6, 14, paper, "#8c7b68"),
        Shot("photo-table-invoice-zh", "table-invoice-zh-light", ((0.06, 0.03), (0.94, 0.01), (0.99, 0.98), (0.01, 0.96)),
             (250, 210, 200), 0.8, 0.5, 15, paper, "#56606b", 0.9),
        Shot("photo-table-trains-mixed", "table-trains-mixed-light", ((0.01, 0.06), (0.97, 0.02), (0.99, 0.95), (0.03, 0.99)),
             (200, 255, 235), 0.9, 0.7, 16, bezel, "#2c2f33"),
        Shot("photo-settings-en", "settings-en-light", ((0.03, 0.02), (0.98, 0.05), (0.96, 0.99), (0.01, 0.95)),
             (255, 215, 240), 0.8, 0.6, 17, bezel, "#3a3a3a"),
        Shot("photo-article-zh", "article-zh-light", ((0.02, 0.03), (0.99, 0.01), (0.97, 0.96), (0.04, 0.99)),
             (235, 255, 210), 0.7, 0.6, 18, bezel, "#4b4540"),
        Shot("photo-chat-phone-zh", "chat-phone-zh-light", ((0.08, 0.03), (0.93, 0.01), (0.97, 0.98), (0.03, 0.96)),
             (255, 220, 230), 0.7, 0.5, 19, bezel, "#9a8f84"),
        Shot("photo-dialog-en-dark", "dialog-en-dark", ((0.02, 0.05), (0.97, 0.02), (0.99, 0.97), (0.01, 0.99)),
             (230, 255, 215), 0.8, 0.7, 20, bezel, "#2e2a27"),
        Shot("photo-settings-zh-dark", "settings-zh-dark", ((0.04, 0.01), (0.99, 0.04), (0.97, 0.96), (0.02, 0.99)),
             (250, 215, 235), 0.8, 0.6, 21, bezel, "#5a5048"),
    ]


def Photograph(convert, source, target, s):
    """Runs ImageMagick once; -seed makes the grain the same on every run."""
    probe = subprocess.run([convert, source, "-format", "%w %h", "info:"], capture_output=True, check=True)
    w, h = (int(x) for x in probe.stdout.decode().split())
    pad = max(24, min(w, h) // 25)
    w, h = w + 2 * pad, h + 2 * pad
    points = []
    for (sx, sy), (fx, fy) in zip(((0, 0), (w, 0), (w, h), (0, h)), s.corners):
        points.append(f"{sx},{sy} {fx * w:.1f},{fy * h:.1f}")
    a, b, c = s.light
    light = f"0,0 rgb({a},{a},{a}) {w},0 rgb({b},{b},{b}) 0,{h} rgb({c},{c},{c})"
    out_w = int(w * s.scale)
    subprocess.run([
        convert, source, "-bordercolor", s.border, "-border", str(pad),
        "-background", s.desk, "-virtual-pixel", "background",
        "-distort", "Perspective", " ".join(points),
        "(", "+clone", "-sparse-color", "Barycentric", light, ")",
        "-compose", "Multiply", "-composite",
        "-blur", f"0x{s.blur}",
        "-seed", str(s.seed), "-attenuate", str(s.grain), "+noise", "Gaussian",
        "-resize", f"{out_w}x",
        "-strip", "-sampling-factor", "2x2", "-quality", "85", target,
    ], check=True)
