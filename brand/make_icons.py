#!/usr/bin/env python3
"""Writes the star mark and the two application icons as SVG into this folder.

The star is the twelve-pointed mark with cut-off, rounded tips that both programs draw: 24 points
(tips and valleys), valleys pushed out by 5 %, every tip cut 120 units back along its edges, every
corner rounded with a radius of 22 sampled as 8 quadratic segments, 324 points in all. The SVGs are
checked in; run this again only when the artwork changes.
"""
import math
import pathlib

CENTRE = (387.51, 387.885)
RAW = [
    (387.51, 57.7), (407.52, 304.88), (536.09, 101.94), (442.2, 327.12), (644.86, 222.8),
    (462.22, 365.65), (684.67, 387.89), (462.22, 410.13), (644.86, 552.97), (442.2, 448.65),
    (536.09, 673.83), (407.52, 470.89), (387.51, 718.07), (367.5, 470.89), (238.93, 673.83),
    (332.81, 448.65), (130.16, 552.97), (312.8, 410.13), (90.35, 387.89), (312.8, 365.65),
    (130.16, 222.8), (332.81, 327.12), (238.93, 101.94), (367.5, 304.88),
]
BRAND_GREEN = "#10b981"  # sRGB 0.063, 0.725, 0.506


def widened(points):
    cx, cy = CENTRE
    return [(cx + (x - cx) * 1.05, cy + (y - cy) * 1.05) if i % 2 else (x, y) for i, (x, y) in enumerate(points)]


def towards(p, q, d):
    vx, vy = q[0] - p[0], q[1] - p[1]
    length = max(math.hypot(vx, vy), 1.0)
    return (p[0] + vx / length * d, p[1] + vy / length * d)


def blunt(points, d):
    out = []
    n = len(points)
    for i, p in enumerate(points):
        if i % 2:
            out.append(p)
        else:
            out.append(towards(p, points[(i - 1) % n], d))
            out.append(towards(p, points[(i + 1) % n], d))
    return out


def rounded(points, r, segments):
    out = []
    n = len(points)
    for i, p in enumerate(points):
        a, b = points[(i - 1) % n], points[(i + 1) % n]
        la = max(math.hypot(a[0] - p[0], a[1] - p[1]), 1.0)
        lb = max(math.hypot(b[0] - p[0], b[1] - p[1]), 1.0)
        s = towards(p, a, min(la / 2, r))
        e = towards(p, b, min(lb / 2, r))
        for k in range(segments + 1):
            t = k / segments
            u = 1 - t
            out.append((s[0] * u * u + p[0] * 2 * t * u + e[0] * t * t, s[1] * u * u + p[1] * 2 * t * u + e[1] * t * t))
    return out


def star_points():
    points = rounded(blunt(widened(RAW), 120), 22, 8)
    assert len(points) == 324
    return points


def fitted_path(points, x, y, w, h):
    """The outline scaled without distortion into the rectangle and centred in it."""
    xs = [p[0] for p in points]
    ys = [p[1] for p in points]
    bw, bh = max(xs) - min(xs), max(ys) - min(ys)
    s = min(w / bw, h / bh)
    ox = x + w / 2 - (min(xs) + bw / 2) * s
    oy = y + h / 2 - (min(ys) + bh / 2) * s
    coords = [f"{ox + px * s:.2f} {oy + py * s:.2f}" for px, py in points]
    return "M" + " L".join(coords) + " Z"


def write(name, body, size=256):
    text = (f'<svg xmlns="http://www.w3.org/2000/svg" width="{size}" height="{size}" '
            f'viewBox="0 0 {size} {size}">\n{body}</svg>\n')
    (pathlib.Path(__file__).parent / name).write_text(text)


def main():
    points = star_points()
    # The bare mark, for anything that wants the star alone.
    write("star.svg", f'  <path fill="{BRAND_GREEN}" d="{fitted_path(points, 0, 0, 256, 256)}"/>\n')
    # The agent: the green star on the deep blue-grey of the controller's deck.
    write("com.quendal.dovrel.agent.svg",
          '  <defs><linearGradient id="g" x1="0" y1="0" x2="1" y2="1">'
          '<stop offset="0" stop-color="#1a2133"/><stop offset="1" stop-color="#121726"/></linearGradient></defs>\n'
          '  <rect x="16" y="16" width="224" height="224" rx="50" fill="url(#g)"/>\n'
          f'  <path fill="{BRAND_GREEN}" d="{fitted_path(points, 44, 44, 168, 168)}"/>\n')
    # The controller: a white star on a green ground, as on the sign-in sheet.
    write("com.quendal.dovrel.controller.svg",
          '  <defs><linearGradient id="g" x1="0" y1="0" x2="1" y2="1">'
          f'<stop offset="0" stop-color="#2fd39a"/><stop offset="1" stop-color="#0b8a60"/></linearGradient></defs>\n'
          '  <rect x="16" y="16" width="224" height="224" rx="50" fill="url(#g)"/>\n'
          f'  <path fill="#ffffff" d="{fitted_path(points, 44, 44, 168, 168)}"/>\n')


if __name__ == "__main__":
    main()
