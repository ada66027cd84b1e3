#!/usr/bin/env python3
"""Renders the program's icon (glimmerix.svg) into a Windows .ico file for the executable's
resources, with the Python standard library only.

The icon is plain SVG Tiny shapes, and this draws exactly what it uses: rectangles (rounded
corners, a stroke) and circles, filled with a colour or a vertical linear gradient (stop colours
and opacities), composited in document order, 4 x 4 samples per pixel.

Usage: svg_to_ico.py input.svg output.ico [size ...]   (default sizes 16 32 48 256)
"""
import struct
import sys
import xml.etree.ElementTree as ET

SVG = "{http://www.w3.org/2000/svg}"
SAMPLES = 4


def colour(text):
    text = text.strip().lstrip("#")
    if len(text) == 3:
        text = "".join(c * 2 for c in text)
    return tuple(int(text[i:i + 2], 16) / 255.0 for i in (0, 2, 4))


def gradients(root):
    found = {}
    for g in root.iter(SVG + "linearGradient"):
        y1, y2 = float(g.get("y1", 0)), float(g.get("y2", 1))
        stops = [(float(s.get("offset", 0)), colour(s.get("stop-color", "#000")),
                  float(s.get("stop-opacity", 1))) for s in g.iter(SVG + "stop")]
        found[g.get("id")] = (y1, y2, stops)
    return found


def paint(spec, grads):
    """A function (y) -> (r, g, b, a) for a fill or stroke attribute; None for none."""
    if spec is None or spec == "none":
        return None
    if spec.startswith("url(#"):
        y1, y2, stops = grads[spec[5:-1]]

        def at(y):
            t = min(max((y - y1) / (y2 - y1), 0.0), 1.0)
            for (o0, c0, a0), (o1, c1, a1) in zip(stops, stops[1:]):
                if t <= o1:
                    f = 0.0 if o1 == o0 else (t - o0) / (o1 - o0)
                    return tuple(c0[i] + (c1[i] - c0[i]) * f for i in range(3)) + (a0 + (a1 - a0) * f,)
            o, c, a = stops[-1]
            return c + (a,)
        return at
    rgb = colour(spec)
    return lambda y: rgb + (1.0,)


def inside_round_rect(px, py, x, y, w, h, r):
    if px < x or px > x + w or py < y or py > y + h:
        return False
    r = min(r, w / 2, h / 2)
    cx = min(max(px, x + r), x + w - r)
    cy = min(max(py, y + r), y + h - r)
    return (px - cx) ** 2 + (py - cy) ** 2 <= r * r


def shapes(root):
    """(inside(px, py), paint) pairs in document order."""
    grads = gradients(root)
    out = []
    for e in root.iter():
        if e.tag == SVG + "rect":
            x, y = float(e.get("x", 0)), float(e.get("y", 0))
            w, h = float(e.get("width")), float(e.get("height"))
            r = float(e.get("rx", e.get("ry", 0)))
            fill, stroke = paint(e.get("fill", "#000"), grads), paint(e.get("stroke"), grads)
            sw = float(e.get("stroke-width", 1)) / 2
            if fill:
                out.append((lambda px, py, x=x, y=y, w=w, h=h, r=r:
                            inside_round_rect(px, py, x, y, w, h, r), fill))
            if stroke:
                out.append((lambda px, py, x=x, y=y, w=w, h=h, r=r, sw=sw:
                            inside_round_rect(px, py, x - sw, y - sw, w + 2 * sw, h + 2 * sw, r + sw)
                            and not inside_round_rect(px, py, x + sw, y + sw, w - 2 * sw,
                                                      h - 2 * sw, max(r - sw, 0)), stroke))
        elif e.tag == SVG + "circle":
            cx, cy, r = float(e.get("cx")), float(e.get("cy")), float(e.get("r"))
            fill = paint(e.get("fill", "#000"), grads)
            if fill:
                out.append((lambda px, py, cx=cx, cy=cy, r=r:
                            (px - cx) ** 2 + (py - cy) ** 2 <= r * r, fill))
    return out


def render(root, size):
    """BGRA rows, bottom row first (as an icon's bitmap stores them)."""
    view = [float(v) for v in root.get("viewBox").split()]
    scale = view[2] / size
    drawn = shapes(root)
    rows = []
    for row in range(size - 1, -1, -1):
        line = bytearray()
        for col in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]  # premultiplied
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    px = view[0] + (col + (sx + 0.5) / SAMPLES) * scale
                    py = view[1] + (row + (sy + 0.5) / SAMPLES) * scale
                    r = g = b = a = 0.0
                    for inside, fill in drawn:
                        if inside(px, py):
                            fr, fg, fb, fa = fill(py)
                            r, g, b = fr * fa + r * (1 - fa), fg * fa + g * (1 - fa), fb * fa + b * (1 - fa)
                            a = fa + a * (1 - fa)
                    acc[0] += r
                    acc[1] += g
                    acc[2] += b
                    acc[3] += a
            n = SAMPLES * SAMPLES
            alpha = acc[3] / n
            un = (lambda v: 0 if alpha == 0 else min(255, round(v / n / alpha * 255)))
            line += bytes((un(acc[2]), un(acc[1]), un(acc[0]), round(alpha * 255)))
        rows.append(bytes(line))
    return rows


def icon_image(rows, size):
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    mask_row = ((size + 31) // 32) * 4
    return header + b"".join(rows) + bytes(mask_row * size)


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    root = ET.parse(sys.argv[1]).getroot()
    sizes = [int(s) for s in sys.argv[3:]] or [16, 32, 48, 256]
    images = [icon_image(render(root, s), s) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, image in zip(sizes, images):
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    with open(sys.argv[2], "wb") as f:
        f.write(out + b"".join(images))


if __name__ == "__main__":
    main()
