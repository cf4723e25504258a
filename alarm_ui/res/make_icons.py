#!/usr/bin/env python3
"""Draws the program's icons with ImageMagick and packs them into .ico files.

Each picture is drawn once on a 256-pixel canvas and scaled down, so every
size shows the same shapes. ImageMagick's own .ico writer does not let us pick
the colour depth of each entry, so the entries (256-colour and 32-bit BMP
images with their AND masks) are written here.

Run from anywhere: python3 make_icons.py  (writes the .ico files next to it)
"""

import os
import struct
import subprocess

HERE = os.path.dirname(os.path.abspath(__file__))

ROUND = "stroke-linecap round stroke-linejoin round "

# A filled status disc with a white sign on it: the tray pictures.
def disc(fill, edge, sign):
    return [
        "-fill", fill, "-stroke", edge, "-strokewidth", "14",
        "-draw", "circle 128,128 128,12",
        "-fill", "none", "-stroke", "white", "-strokewidth", "38",
        "-draw", ROUND + sign,
    ]

CHECK = "polyline 66,134 110,180 190,84"
CROSS = "line 80,80 176,176 line 176,80 80,176"
BAR = "line 72,128 184,128"
BANG = "line 128,62 128,142 line 128,186 128,190"
QUERY = "bezier 84,94 88,40 172,40 172,92 bezier 172,92 172,128 128,124 128,160 line 128,200 128,204"

# A server tower with a status light: the list pictures.
def tower(light, sign):
    return [
        "-fill", "#d9dde3", "-stroke", "#44505e", "-strokewidth", "14",
        "-draw", "roundrectangle 28,8 164,248 18,18",
        "-stroke", "#44505e", "-strokewidth", "16",
        "-draw", "line 60,56 132,56 line 60,96 132,96 line 60,136 132,136",
        "-fill", light, "-stroke", "white", "-strokewidth", "14",
        "-draw", "circle 180,180 180,104",
        "-fill", "none", "-stroke", "white", "-strokewidth", "26",
        "-draw", ROUND + sign,
    ]

# The red push-button on its plate: the program's own picture.
APP = [
    "-fill", "#5b6470", "-stroke", "#2b3038", "-strokewidth", "10",
    "-draw", "roundrectangle 14,40 242,232 36,36",
    "-fill", "#8a1010", "-stroke", "none",
    "-draw", "ellipse 128,150 92,62 0,360",
    "-fill", "#e02424", "-stroke", "#7a0c0c", "-strokewidth", "8",
    "-draw", "ellipse 128,124 92,66 0,360",
    "-fill", "#ff8a80", "-stroke", "none",
    "-draw", "ellipse 104,100 34,16 0,360",
]

TOWER_OK = "polyline 146,182 172,208 214,154"
TOWER_BAD = "line 152,152 208,208 line 208,152 152,208"

# The small-icon size at 100, 125, 150 and 200 %: tray and list pictures are
# drawn at each, so none is scaled by the system.
SMALL = (16, 20, 24, 32)

# resource id -> (file name, picture, sizes, colour depths)
ICONS = {
    128: ("alarm.ico", APP, (48, 32, 16), (8, 32)),
    1014: ("server_unreachable.ico", tower("#d32f2f", TOWER_BAD), SMALL, (8, 32)),
    1015: ("server_reachable.ico", tower("#2e9d3a", TOWER_OK), SMALL, (8, 32)),
    201: ("state_all_connected.ico", disc("#2e9d3a", "#17521f", CHECK), SMALL, (8,)),
    202: ("state_some_connected.ico", disc("#f2a900", "#8a5a00", BANG), SMALL, (8,)),
    203: ("state_none_connected.ico", disc("#d32f2f", "#7a1515", CROSS), SMALL, (8,)),
    205: ("state_no_servers.ico", disc("#8c939b", "#4a5058", BAR), SMALL, (8,)),
    32514: ("state_unknown.ico", disc("#2f6fd3", "#163a75", QUERY), SMALL, (8,)),
}


def render(picture, size):
    """Returns the picture as size*size RGBA bytes, top row first."""
    cmd = ["convert", "-size", "256x256", "xc:none"] + picture + ["-resize", f"{size}x{size}", "-depth", "8", "rgba:-"]
    data = subprocess.run(cmd, check=True, capture_output=True).stdout
    assert len(data) == size * size * 4, (size, len(data))
    return data


def quantize(rgb, size):
    """Reduces RGB bytes to at most 256 colours with ImageMagick."""
    cmd = ["convert", "-size", f"{size}x{size}", "-depth", "8", "rgb:-",
           "+dither", "-colors", "256", "-depth", "8", "rgb:-"]
    return subprocess.run(cmd, input=rgb, check=True, capture_output=True).stdout


def and_mask(rgba, size):
    """1 bit per pixel, set where the pixel is transparent; rows bottom-up, 32-bit padded."""
    stride = ((size + 31) // 32) * 4
    out = bytearray()
    for y in reversed(range(size)):
        row = bytearray(stride)
        for x in range(size):
            if rgba[(y * size + x) * 4 + 3] < 128:
                row[x // 8] |= 0x80 >> (x % 8)
        out += row
    return bytes(out)


def header(size, bits, colours):
    return struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bits, 0, 0, 0, 0, colours, 0)


def entry_32(rgba, size):
    pixels = bytearray()
    for y in reversed(range(size)):
        for x in range(size):
            r, g, b, a = rgba[(y * size + x) * 4:(y * size + x) * 4 + 4]
            pixels += bytes((b, g, r, a))
    return header(size, 32, 0) + bytes(pixels) + and_mask(rgba, size)


def entry_8(rgba, size):
    rgb = bytearray()
    for i in range(size * size):
        r, g, b, a = rgba[i * 4:i * 4 + 4]
        rgb += bytes((r, g, b)) if a >= 128 else b"\0\0\0"
    rgb = quantize(bytes(rgb), size)
    palette, index = [], {}
    pixels = bytearray()
    for y in reversed(range(size)):
        row = bytearray()
        for x in range(size):
            colour = rgb[(y * size + x) * 3:(y * size + x) * 3 + 3]
            if colour not in index:
                index[colour] = len(palette)
                palette.append(colour)
            row.append(index[colour])
        row += bytes((-len(row)) % 4)
        pixels += row
    assert len(palette) <= 256, len(palette)
    table = b"".join(bytes((c[2], c[1], c[0], 0)) for c in palette)
    table += bytes(4 * (256 - len(palette)))
    return header(size, 8, 256) + table + bytes(pixels) + and_mask(rgba, size)


def write_ico(path, entries):
    """entries: list of (size, bits, image bytes)."""
    out = struct.pack("<HHH", 0, 1, len(entries))
    offset = 6 + 16 * len(entries)
    for size, bits, image in entries:
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, bits, len(image), offset)
        offset += len(image)
    out += b"".join(image for _, _, image in entries)
    with open(path, "wb") as f:
        f.write(out)


def main():
    for name, picture, sizes, depths in ICONS.values():
        entries = []
        for bits in depths:
            for size in sizes:
                rgba = render(picture, size)
                image = entry_32(rgba, size) if bits == 32 else entry_8(rgba, size)
                entries.append((size, bits, image))
        write_ico(os.path.join(HERE, name), entries)
        print(name)


if __name__ == "__main__":
    main()
