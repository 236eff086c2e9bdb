#!/usr/bin/python3
"""The same conversion with astropy, for comparison: numpy reads the raw samples of an SPE
file (4100-byte header, frames of little-endian samples) and astropy writes the FITS file."""
import struct
import sys

import numpy as np
from astropy.io import fits

src, dst = sys.argv[1], sys.argv[2]
with open(src, "rb") as f:
    header = f.read(4100)
xdim, = struct.unpack_from("<H", header, 42)
ydim, = struct.unpack_from("<H", header, 656)
datatype, = struct.unpack_from("<h", header, 108)
frames, = struct.unpack_from("<i", header, 1446)
dtype = {0: "<f4", 1: "<i4", 2: "<i2", 3: "<u2", 6: "u1"}[datatype]
data = np.fromfile(src, dtype=dtype, offset=4100, count=xdim * ydim * frames)
data = data.reshape(frames, ydim, xdim)
if datatype == 3:
    data = data.astype(np.int32)
fits.PrimaryHDU(data).writeto(dst, overwrite=True)
