#!/usr/bin/env python3
"""Recompresses PNG files in place (the sandbox writes them uncompressed)."""
import struct
import sys
import zlib


def chunks(data):
    pos = 8
    while pos < len(data):
        length, = struct.unpack(">I", data[pos:pos + 4])
        kind = data[pos + 4:pos + 8]
        yield kind, data[pos + 8:pos + 8 + length]
        pos += 12 + length


def chunk(kind, body):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF)


def main():
    for path in sys.argv[1:]:
        with open(path, "rb") as f:
            data = f.read()
        if data[:8] != b"\x89PNG\r\n\x1a\n":
            continue
        header, idat, rest = None, b"", []
        for kind, body in chunks(data):
            if kind == b"IHDR":
                header = body
            elif kind == b"IDAT":
                idat += body
            elif kind != b"IEND":
                rest.append((kind, body))
        raw = zlib.decompress(idat)
        out = data[:8] + chunk(b"IHDR", header)
        for kind, body in rest:
            out += chunk(kind, body)
        out += chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")
        with open(path, "wb") as f:
            f.write(out)


if __name__ == "__main__":
    main()
