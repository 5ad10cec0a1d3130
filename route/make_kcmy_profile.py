#!/usr/bin/env python3
"""Writes the ICC output profile the rasterizers separate colour pages with.

Without a profile of ours, Ghostscript separates RGB through its default
press profile: black text arrives as a rich black (K 226 with C, M and Y
near 180) and greys as composite CMY.  On these printers that lays three or
four inks where one black dot belongs, and black text comes out dark grey.
This profile describes the printer as the inks have always been driven: the
page's sRGB values, inverted to cyan, magenta and yellow; the grey common to
the three moves to the black ink when the colour is neutral, and less of it
as the colour grows more colourful.  So a neutral of any source prints with
black ink alone and black is K 255 (the filter's own black generation then
decides how much of a light grey goes to composite colour), while colours
print in cyan, magenta and yellow as the former route printed them.

The PPDs name the profile for their colour and photo models
(inkbandsICCProfile); pdftoinkbands finds it in CUPS's profiles directory and
gives it to Ghostscript as the output profile and as the page's DeviceCMYK,
so colours given in inks reach the printer unchanged.

Usage: make_kcmy_profile.py OUTPUT.icc
"""

import struct
import sys

# Linear sRGB to CIE XYZ, adapted to the D50 of the profile connection space.
# Its rows sum to the white point, so equal R, G and B are exactly neutral.
SRGB_TO_XYZ = ((0.4360747, 0.3850649, 0.1430804),
               (0.2225045, 0.7168786, 0.0606169),
               (0.0139322, 0.0971045, 0.7141733))
WHITE = tuple(sum(row) for row in SRGB_TO_XYZ)

# How far apart the inverted sRGB values may lie for a colour to take black.
GREY_SPREAD = 0.25

# Grid points of the tables: Lab to ink (3 inputs), ink to Lab (4 inputs).
INK_GRID = 33
LAB_GRID = 11


# The inverse of a 3 x 3 matrix.
def inverse(m):
    (a, b, c), (d, e, f), (g, h, i) = m
    det = a * (e * i - f * h) - b * (d * i - f * g) + c * (d * h - e * g)
    return ((( e * i - f * h) / det, -(b * i - c * h) / det, ( b * f - c * e) / det),
            (-(d * i - f * g) / det, ( a * i - c * g) / det, -(a * f - c * d) / det),
            (( d * h - e * g) / det, -(a * h - b * g) / det, ( a * e - b * d) / det))


XYZ_TO_SRGB = inverse(SRGB_TO_XYZ)


# sRGB's transfer curve, from light to the encoded value and back.
def encode(v):
    return 12.92 * v if v <= 0.0031308 else 1.055 * v ** (1 / 2.4) - 0.055


def decode(v):
    return v / 12.92 if v <= 0.04045 else ((v + 0.055) / 1.055) ** 2.4


# CIELAB to the sRGB values of that colour, clipped to what the inks reach.
def lab_to_rgb(L, a, b):
    fy = (L + 16) / 116
    f = (fy + a / 500, fy, fy - b / 200)
    t = [v ** 3 if v > 6 / 29 else 3 * (6 / 29) ** 2 * (v - 4 / 29) for v in f]
    xyz = [t[i] * WHITE[i] for i in range(3)]
    return [encode(min(1.0, max(0.0, sum(row[j] * xyz[j] for j in range(3)))))
            for row in XYZ_TO_SRGB]


# The sRGB values of the inks to CIELAB.
def rgb_to_lab(rgb):
    lin = [decode(v) for v in rgb]
    xyz = [sum(row[j] * lin[j] for j in range(3)) / WHITE[i]
           for i, row in enumerate(SRGB_TO_XYZ)]
    f = [v ** (1 / 3) if v > (6 / 29) ** 3 else v / (3 * (6 / 29) ** 2) + 4 / 29 for v in xyz]
    return 116 * f[1] - 16, 500 * (f[0] - f[1]), 200 * (f[1] - f[2])


# A colour's inks: cyan, magenta and yellow from sRGB; the common part of
# a neutral goes to black, and less of it the more colourful the colour, so
# that a pale sky or a skin tone is not sprinkled with black dots.
def inks_for(L, a, b):
    cmy = [1 - v for v in lab_to_rgb(L, a, b)]
    grey = min(cmy)
    k = grey * max(0.0, 1 - (max(cmy) - grey) / GREY_SPREAD)
    return [v - k for v in cmy] + [k]


# What the inks print: black covers, cyan, magenta and yellow take away red,
# green and blue.
def colour_of(c, m, y, k):
    return rgb_to_lab([max(0.0, 1 - v - k) for v in (c, m, y)])


# 16-bit value of a 0..1 amount, and CIELAB in the 16-bit encoding of lut16 tables.
def u16(v):
    return max(0, min(65535, int(round(v * 65535))))


def lab16(L, a, b):
    encoded = (L * 652.8, (a + 128) * 256, (b + 128) * 256)
    return [max(0, min(65535, int(round(v)))) for v in encoded]


# A lut16 table: identity matrix and curves, then the grid of outputs.
def lut16(inputs, outputs, grid, node):
    out = struct.pack(">4sIBBBB", b"mft2", 0, inputs, outputs, grid, 0)
    out += struct.pack(">9i", *[65536 if i % 4 == 0 else 0 for i in range(9)])
    out += struct.pack(">HH", 2, 2)
    out += struct.pack(">%dH" % (2 * inputs), *[0, 65535] * inputs)
    values = []
    for index in range(grid ** inputs):
        point = [(index // grid ** (inputs - 1 - i)) % grid / (grid - 1) for i in range(inputs)]
        values += node(point)
    out += struct.pack(">%dH" % len(values), *values)
    return out + struct.pack(">%dH" % (2 * outputs), *[0, 65535] * outputs)


# Lab grid point (L 0..0xFF00 is 0..100, a and b 0x8000 is 0) to the inks.
def ink_node(point):
    L, a, b = point[0] * 65535 / 652.8, point[1] * 65535 / 256 - 128, point[2] * 65535 / 256 - 128
    return [u16(v) for v in inks_for(L, a, b)]


# Ink grid point to the colour printed.
def lab_node(point):
    return lab16(*colour_of(*point))


# A tag of ASCII text, and the profile's description.
def text_tag(text):
    return struct.pack(">4sI", b"text", 0) + text.encode() + b"\0"


def desc_tag(text):
    ascii = text.encode() + b"\0"
    return (struct.pack(">4sII", b"desc", 0, len(ascii)) + ascii +
            struct.pack(">IIHB", 0, 0, 0, 0) + bytes(67))


def fixed(v):
    return int(round(v * 65536))


# The whole profile: header, tag table, tags on 4-byte boundaries.
def profile():
    tags = [(b"desc", desc_tag("inkbands KCMY, neutrals in black ink")),
            (b"cprt", text_tag("No copyright, use freely")),
            (b"wtpt", struct.pack(">4sI3i", b"XYZ ", 0, *[fixed(v) for v in WHITE])),
            (b"A2B0", lut16(4, 3, LAB_GRID, lab_node)),
            (b"B2A0", lut16(3, 4, INK_GRID, ink_node))]
    offset = 128 + 4 + 12 * len(tags)
    table, data = struct.pack(">I", len(tags)), b""
    for name, body in tags:
        table += struct.pack(">4sII", name, offset + len(data), len(body))
        data += body + bytes(-len(body) % 4)
    size = offset + len(data)
    header = struct.pack(">I4sI4s4s4s6H4sI4sII8sI3i4s16s28s", size, b"", 0x02100000, b"prtr",
                         b"CMYK", b"Lab ", 2026, 1, 1, 0, 0, 0, b"acsp", 0, b"", 0, 0, b"",
                         0, fixed(WHITE[0]), fixed(WHITE[1]), fixed(WHITE[2]), b"", b"", b"")
    return header + table + data


# Writes the profile.
def main(argv):
    if len(argv) != 2:
        sys.exit(__doc__.split("\n\n")[-1])
    with open(argv[1], "wb") as f:
        f.write(profile())
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
