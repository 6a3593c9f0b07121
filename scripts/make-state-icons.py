#!/usr/bin/python3
"""Draws the state icons from the program icon's pear (scripts/make-icon.py):

    proxy-on.ico   (131) the pear with a green dot: a proxy is in use
    proxy-off.ico  (132) the pear in grey: no proxy
    tray-busy.ico  (141) the pear with an orange dot: the tray frame while verifying

    scripts/make-state-icons.py [output-folder]   (src/win/res by default)
"""
import importlib.util
import sys
from pathlib import Path

HERE = Path(__file__).resolve().parent
spec = importlib.util.spec_from_file_location('make_icon', HERE / 'make-icon.py')
base = importlib.util.module_from_spec(spec)
spec.loader.exec_module(base)

# Every size a window asks for up to 200 % (the floating window draws its
# icon 32 px at 96 dpi, the tray 16 px), each drawn at that size.
SIZES = (16, 20, 24, 32, 40, 48, 64)
base_shade = base.shade


def grey(colour):
    r, g, b, a = colour
    y = 0.30 * r + 0.59 * g + 0.11 * b
    return (y, y, y, a)


def badge(colour, x, y, size, fill):
    """A dot in the lower right corner with a dark ring."""
    d = base.circle(x, y, 0.76, 0.76, 0.20)
    if d < 0.0:
        ring = d > -1.5 / size
        colour = base.over(colour, (0.10, 0.10, 0.10) if ring else fill, 1.0)
    return colour


VARIANTS = {
    'proxy-on.ico': lambda x, y, s: badge(base_shade(x, y, s), x, y, s, (0.20, 0.80, 0.25)),
    'proxy-off.ico': lambda x, y, s: grey(base_shade(x, y, s)),
    'tray-busy.ico': lambda x, y, s: badge(base_shade(x, y, s), x, y, s, (1.00, 0.60, 0.10)),
}


def write(path, shade):
    base.shade = shade
    images = [(size, base.dib(size, base.render(size))) for size in SIZES]
    data = bytearray(base.struct.pack('<HHH', 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for size, blob in images:
        data += base.struct.pack('<BBBBHHII', size, size, 0, 0, 1, 32, len(blob), offset)
        offset += len(blob)
    for _, blob in images:
        data += blob
    path.write_bytes(bytes(data))
    print(f'{path}: {len(images)} images, {len(data)} bytes')


def main():
    out = Path(sys.argv[1]) if len(sys.argv) > 1 else HERE.parent / 'src/win/res'
    out.mkdir(parents=True, exist_ok=True)
    for name, shade in VARIANTS.items():
        write(out / name, shade)


if __name__ == '__main__':
    main()
