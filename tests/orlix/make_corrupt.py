#!/usr/bin/env python3
"""Writes the corpus of small corrupt SPE files; each must be refused cleanly by the reader.

Run once to regenerate tests/orlix/corrupt/ (the files are committed)."""
import os
import struct
import sys

HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corrupt")


def header(xdim=4, ydim=2, datatype=3, frames=1, version=2.5, footer=0, identity=0x01234567):
    h = bytearray(4100)
    struct.pack_into("<H", h, 42, xdim)
    struct.pack_into("<H", h, 656, ydim)
    struct.pack_into("<h", h, 108, datatype)
    struct.pack_into("<i", h, 1446, frames)
    struct.pack_into("<f", h, 1992, version)
    struct.pack_into("<Q", h, 678, footer)
    struct.pack_into("<I", h, 2996, identity)
    struct.pack_into("<h", h, 4098, 0x5555)
    return h


def xml(count=1, fmt="MonochromeUnsigned16", size=16, stride=16, body=""):
    return ('<?xml version="1.0"?><SpeFormat version="3.0" xmlns="http://example.org/spe">'
            f'<DataFormat><DataBlock type="Frame" count="{count}" pixelFormat="{fmt}" '
            f'size="{size}" stride="{stride}">{body}</DataBlock></DataFormat></SpeFormat>'
            ).encode()


def v3(xml_bytes, frames=1, data=16, **kw):
    h = header(version=3.0, footer=4100 + data, frames=frames, **kw)
    return bytes(h) + bytes(data) + xml_bytes


CASES = {
    "empty.spe": b"",
    "short_header.spe": bytes(header())[:4000],
    "no_identity.spe": bytes(header(identity=0)) + bytes(16),
    "text_file.spe": b"SIMPLE  = T\r\n" * 400,
    "unknown_datatype.spe": bytes(header(datatype=77)) + bytes(16),
    "zero_columns.spe": bytes(header(xdim=0)) + bytes(16),
    "zero_rows.spe": bytes(header(ydim=0)) + bytes(16),
    "zero_frames.spe": bytes(header(frames=0)) + bytes(16),
    "negative_frames.spe": bytes(header(frames=-5)),
    "truncated_frame.spe": bytes(header(frames=250)) + bytes(15),
    "huge_dimensions.spe": bytes(header(xdim=65535, ydim=65535, frames=2147483647)) + bytes(64),
    "v3_footer_outside.spe": bytes(header(version=3.0, footer=1 << 40)) + bytes(16),
    "v3_footer_not_xml.spe": v3(b"this is not xml <<<"),
    "v3_wrong_root.spe": v3(b"<Other/>"),
    "v3_count_mismatch.spe": v3(xml(count=7)),
    "v3_format_mismatch.spe": v3(xml(fmt="MonochromeFloating32")),
    "v3_size_mismatch.spe": v3(xml(size=12)),
    "v3_stride_small.spe": v3(xml(stride=8)),
    "v3_region_too_high.spe": v3(xml(body='<DataBlock type="Region" width="4" height="3" '
                                          'size="24" stride="24"/>')),
    "v3_region_wrong_width.spe": v3(xml(body='<DataBlock type="Region" width="3" height="2" '
                                             'size="12" stride="12"/>')),
    "v3_no_frame_block.spe": v3(b'<SpeFormat><DataFormat/></SpeFormat>'),
    "v3_footer_at_header.spe": bytes(header(version=3.0, footer=4100)) + xml(),
}

if __name__ == "__main__":
    os.makedirs(HERE, exist_ok=True)
    for name, data in CASES.items():
        with open(os.path.join(HERE, name), "wb") as f:
            f.write(data)
    print(f"wrote {len(CASES)} files to {HERE}", file=sys.stderr)
