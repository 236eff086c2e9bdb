#!/usr/bin/python3
"""Converts the sample SPE files and generated SPE 3.0 files with every combination of
--metadata, --bzero and --regions, and checks each FITS file from outside: fitsverify finds
no warning and no error, astropy reads back the exact samples, its WCS gives every column's
wavelength within 1e-6 nm of the calibration, and DATE-OBS is the file's time in ISO form.

The expected wavelengths are computed here from the SPE bytes, independently of the
converter: the 2.x polynomial at the 0-based chip pixel of each stored column."""
import datetime
import itertools
import os
import shutil
import struct
import subprocess
import sys
import tempfile

import numpy as np
from astropy import units as u
from astropy.io import fits
from astropy.wcs import WCS

from check_report import report

CONVERT, SAMPLES = sys.argv[1], sys.argv[2]
failures = []


def check(condition, message):
    if not condition:
        failures.append(message)


# ---- SPE 3.0 files written here ------------------------------------------------------------

def spe3(path, regions, frames, xml_cal="", created=None, temperature=None, dtype="<u2",
         meta=(), room=32):
    """regions: list of (width, height); returns the frames as lists of region arrays.
    meta: the per-frame metadata items, (MetaBlock element, struct format, value of each
    frame), stored in this order in the `room` bytes after each frame (more are cut off)."""
    rng = np.random.default_rng(len(path))
    sample = np.dtype(dtype).itemsize
    size = sum(w * h for w, h in regions) * sample
    stride = size + room  # per-frame metadata after each frame
    data, arrays = bytearray(), []
    for f in range(frames):
        frame = [rng.integers(0, 65536, (h, w)).astype(dtype) for w, h in regions]
        arrays.append(frame)
        for a in frame:
            data += a.tobytes()
        block = b"".join(struct.pack("<" + fmt, values[f]) for _, fmt, values in meta)
        data += (block + bytes(room))[:room]
    xdim, ydim = regions[0][0], sum(h for _, h in regions)
    head = bytearray(4100)
    for fmt, off, val in [("<H", 42, xdim), ("<H", 656, ydim), ("<h", 108, 3),
                          ("<i", 1446, frames), ("<f", 1992, 3.0),
                          ("<Q", 678, 4100 + len(data)), ("<I", 2996, 0x01234567)]:
        struct.pack_into(fmt, head, off, val)
    blocks = "".join(f'<DataBlock type="Region" width="{w}" height="{h}" size="{w*h*sample}" '
                     f'stride="{w*h*sample}"/>' for w, h in regions)
    info = f'<GeneralInformation><FileInformation created="{created}"/></GeneralInformation>' \
        if created else ""
    temp = (f"<DataHistories><Camera><Sensor><Temperature><SensorTemperatureReading>{temperature}"
            "</SensorTemperatureReading></Temperature></Sensor></Camera></DataHistories>"
            if temperature is not None else "")
    meta_xml = ("<MetaFormat><MetaBlock>" + "".join(x for x, _, _ in meta) +
                "</MetaBlock></MetaFormat>" if meta else "")
    xml = ('<?xml version="1.0" encoding="utf-8"?>'
           '<SpeFormat version="3.0" xmlns="http://example.org/spe/format">'
           f'<DataFormat><DataBlock type="Frame" count="{frames}" pixelFormat="MonochromeUnsigned16" '
           f'size="{size}" stride="{stride}">{blocks}</DataBlock></DataFormat>'
           f'{meta_xml}{info}{temp}<Calibrations>{xml_cal}</Calibrations></SpeFormat>')
    with open(path, "wb") as f:
        f.write(bytes(head) + bytes(data) + xml.encode())
    return arrays


def mapping(list_nm=None, poly=None, sensors=()):
    inner = ""
    if list_nm is not None:
        inner += "<Wavelength>" + ",".join(repr(float(v)) for v in list_nm) + "</Wavelength>"
    if poly is not None:
        inner += "<Polynomial>" + ",".join(repr(float(v)) for v in poly) + "</Polynomial>"
    text = f"<WavelengthMapping>{inner}</WavelengthMapping>" if inner else ""
    for x, w, xb in sensors:
        text += f'<SensorMapping x="{x}" y="0" width="{w}" height="1" xBinning="{xb}" yBinning="1"/>'
    return text


STAMP = ('<TimeStamp event="{}" type="Int64" bitDepth="64" resolution="1000000" '
         'absoluteTime="2024-03-05T11:00:00+01:00"/>')
FRAME_META = [
    (STAMP.format("ExposureStarted"), "q", [1500000, 2500000, 3500000]),
    ('<Unknown type="Int32" bitDepth="32"/>', "i", [7, 7, 7]),
    (STAMP.format("ExposureEnded"), "q", [2000000, 3000000, 4000250]),
    ('<FrameTrackingNumber type="Int64" bitDepth="64"/>', "q", [11, 12, 14]),
    ('<GateTracking component="Delay" type="Double" bitDepth="64" unit="Nanosecond"/>', "d",
     [10.5, 20.5, 30.5]),
    ('<GateTracking component="Width" type="Double" bitDepth="64"/>', "d", [1.0, 1.0, 1.25]),
]
# What the FRAMES table of v3_stamps.spe holds: column, unit, values (seconds since DATE-OBS).
FRAME_TABLE = {"EXPSTART": ("s", [0.0, 1.0, 2.0]), "EXPEND": ("s", [0.5, 1.5, 2.50025]),
               "FRAMENUM": (None, [11, 12, 14]), "GATEDLY": ("ns", [10.5, 20.5, 30.5]),
               "GATEWID": (None, [1.0, 1.0, 1.25])}


def build_v3(folder):
    """Writes the 3.0 cases; returns {name: (frames, expected nm per region or None, date)}."""
    cases = {}
    sensor = 500 + 0.5 * np.arange(100) + 0.001 * np.arange(100) ** 2
    arr = spe3(os.path.join(folder, "v3_list.spe"), [(40, 3)], 2,
               mapping(sensor[:40], sensors=[(0, 40, 1)]),
               "2024-03-05T23:30:00.1234567-06:00", -60.5)
    cases["v3_list.spe"] = (arr, [sensor[:40]], "2024-03-06T05:30:00.123")
    arr = spe3(os.path.join(folder, "v3_list_roi.spe"), [(20, 2)], 1,
               mapping(sensor, sensors=[(30, 40, 2)]), "2023-12-31T23:59:59Z")
    cases["v3_list_roi.spe"] = (arr, [sensor[30:70].reshape(20, 2).mean(axis=1)],
                                "2023-12-31T23:59:59")
    poly = [400.0, 0.25, 1e-4]
    x = 10 + np.arange(50)
    arr = spe3(os.path.join(folder, "v3_poly.spe"), [(50, 1)], 3,
               mapping(poly=poly, sensors=[(10, 50, 1)]))
    cases["v3_poly.spe"] = (arr, [poly[0] + poly[1] * x + poly[2] * x * x], None)
    arr = spe3(os.path.join(folder, "v3_regions.spe"), [(30, 2), (20, 3)], 2,
               mapping(sensor, sensors=[(0, 30, 1), (40, 20, 1)]), "2022-06-01T12:00:00+02:00")
    cases["v3_regions.spe"] = (arr, [sensor[0:30], sensor[40:60]], "2022-06-01T10:00:00")
    arr = spe3(os.path.join(folder, "v3_nocal.spe"), [(16, 4)], 1)
    cases["v3_nocal.spe"] = (arr, [None], None)
    # The observation began with the first exposure, not when the file was saved; each frame's
    # facts come out row by row, an item of an unknown kind keeps its place.
    arr = spe3(os.path.join(folder, "v3_stamps.spe"), [(16, 2)], 3, created="2024-03-05T10:00:09Z",
               meta=FRAME_META, room=48)
    cases["v3_stamps.spe"] = (arr, [None], "2024-03-05T10:00:01.500")
    # A block that does not fit the stride: the images stay, the table is left out.
    arr = spe3(os.path.join(folder, "v3_toobig.spe"), [(8, 1)], 2, created="2024-03-05T10:00:09Z",
               meta=FRAME_META + [('<Extra type="Int64" bitDepth="64"/>', "q", [0, 0])])
    cases["v3_toobig.spe"] = (arr, [None], "2024-03-05T10:00:09")
    return cases


# ---- Expectations for the 2.x samples ------------------------------------------------------

MONTHS = "Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec".split()


def spe2(path):
    b = open(path, "rb").read()
    g = lambda fmt, off: struct.unpack_from("<" + fmt, b, off)[0]
    xdim, ydim, dt, nframes = g("H", 42), g("H", 656), g("h", 108), g("i", 1446)
    dtype = {0: "<f4", 1: "<i4", 2: "<i2", 3: "<u2", 6: "u1"}[dt]
    n = xdim * ydim
    frames = [[np.frombuffer(b, dtype, n, 4100 + k * n * np.dtype(dtype).itemsize)
               .reshape(ydim, xdim)] for k in range(nframes)]
    cal = 3000
    nm = None
    if b[cal + 98]:
        order, unit = b[cal + 101], b[cal + 100]
        c = [g("d", cal + 263 + 8 * i) for i in range(order + 1)]
        start, gx = g("H", 1512), g("H", 1516)
        if not (start >= 1 and gx >= 1 and (g("H", 1514) - start + 1) // gx == xdim):
            start, gx = 1, 1
        x = (start - 1) + np.arange(xdim) * gx + (gx - 1) / 2
        value = sum(ci * x ** i for i, ci in enumerate(c))
        if unit in (0, 4):
            nm = value
        elif unit == 6:
            nm = 1e7 / (1e7 / g("d", cal + 311) - value)
    date = b[20:29].decode()
    lt, ut = b[172:178].decode("latin-1").strip("\0 "), b[179:185].decode("latin-1").strip("\0 ")
    day = datetime.datetime(int(date[5:9]), MONTHS.index(date[2:5]) + 1, int(date[:2]))
    if len(lt) == 6 and len(ut) == 6:
        local = day + datetime.timedelta(hours=int(lt[:2]), minutes=int(lt[2:4]), seconds=int(lt[4:]))
        utc_t = datetime.timedelta(hours=int(ut[:2]), minutes=int(ut[2:4]), seconds=int(ut[4:]))
        cands = [datetime.datetime.combine(local.date() + datetime.timedelta(days=d),
                                           datetime.time()) + utc_t for d in (-1, 0, 1)]
        iso = min(cands, key=lambda t: abs(t - local)).isoformat()
    elif len(lt) == 6:
        iso = (day + datetime.timedelta(hours=int(lt[:2]), minutes=int(lt[2:4]),
                                        seconds=int(lt[4:]))).isoformat()
    else:
        iso = day.date().isoformat()
    return frames, [nm], iso


# ---- Checking one FITS file ----------------------------------------------------------------

def column_nm(header, hdul, width):
    w = WCS(header, fobj=hdul)
    world = w.sub([1]).all_pix2world(np.arange(width, dtype=float), 0)[0]
    return (world * u.Unit(w.wcs.cunit[0])).to_value(u.nm)


def verify(path):
    out = subprocess.run(["fitsverify", path], capture_output=True, text=True).stdout
    check("Verification found 0 warning(s) and 0 error(s)" in out, f"{path}: fitsverify:\n{out}")


def check_frames(name, hdul, opts):
    """The FRAMES table of v3_stamps.spe with --metadata, row by row; no table elsewhere."""
    names = [h.name for h in hdul]
    want = "--metadata" in opts and name == "v3_stamps.spe"
    check(("FRAMES" in names) == want, f"{name} {opts}: FRAMES present {'FRAMES' in names}")
    if not want:
        return
    table = hdul["FRAMES"]
    check(names[-1] == "FRAMES", f"{name} {opts}: FRAMES is not the last HDU: {names}")
    check(table.columns.names == list(FRAME_TABLE), f"{name}: columns {table.columns.names}")
    for column, (unit, values) in FRAME_TABLE.items():
        if column not in table.columns.names:
            continue
        got = table.data[column]
        check(table.columns[column].unit == unit, f"{name}: {column} unit {table.columns[column].unit}")
        check(np.allclose(got, values, rtol=0, atol=1e-9), f"{name}: {column} {list(got)}")
    check(table.data["FRAMENUM"].dtype.kind == "i", f"{name}: FRAMENUM is not an integer column")
    check(table.header.get("TICKRATE") == 1000000 and
          table.header.get("DATEREF") == hdul[0].header.get("DATE-OBS"),
          f"{name}: TICKRATE/DATEREF {table.header.get('TICKRATE')} {table.header.get('DATEREF')}")
    # The last end stamp to its own microsecond, not rounded to the millisecond.
    check(hdul[0].header.get("DATE-END") == "2024-03-05T10:00:04.00025",
          f"{name}: DATE-END {hdul[0].header.get('DATE-END')}")


def check_fits(name, path, frames, expected_nm, date, opts):
    verify(path)
    with fits.open(path) as hdul:
        primary = hdul[0].header
        images = [h for h in hdul if h.header.get("EXTNAME", "").startswith("REGION")]
        split = len(frames[0]) > 1 and len({a.shape[1] for a in frames[0]}) > 1
        hdus = images if split else [hdul[0]]
        check(len(hdus) == len(frames[0]) or not split, f"{name}: {len(images)} region extensions")
        for k, hdu in enumerate(hdus):
            data = hdu.data
            want = np.stack([f[k] if split else np.vstack(f) for f in frames])
            check(data is not None and data.shape == want.shape and
                  np.array_equal(data.astype(np.float64), want.astype(np.float64)),
                  f"{name} {opts}: samples of HDU {k} differ")
            if want.dtype == np.uint16:
                bitpix = hdu.header["BITPIX"]
                check(bitpix == (16 if "--bzero" in opts else 32), f"{name} {opts}: BITPIX {bitpix}")
            nm = expected_nm[k] if k < len(expected_nm) else None
            has_axis = "CTYPE1" in hdu.header
            check(has_axis == ("--metadata" in opts and nm is not None),
                  f"{name} {opts}: CTYPE1 present {has_axis}")
            if has_axis:
                got = column_nm(hdu.header, hdul, hdu.header["NAXIS1"])
                err = np.max(np.abs(got - nm))
                check(err < 1e-6, f"{name} {opts}: wavelength off by {err} nm")
        check_frames(name, hdul, opts)
        has_date = "DATE-OBS" in primary
        check(has_date == ("--metadata" in opts and date is not None),
              f"{name} {opts}: DATE-OBS present {has_date}")
        if has_date:
            got = datetime.datetime.fromisoformat(primary["DATE-OBS"])
            check(got == datetime.datetime.fromisoformat(date),
                  f"{name} {opts}: DATE-OBS {primary['DATE-OBS']}, expected {date}")


def check_uint32(work):
    """Unsigned 32-bit SPE data: with --bzero BITPIX 32, BZERO 2^31 and the exact values back;
    without it refused naming --bzero, nothing written."""
    values = np.array([[0, 1, 2**31 - 1, 2**31, 2**32 - 1]], dtype="<u4")
    head = bytearray(4100)
    for fmt, off, val in [("<H", 42, 5), ("<H", 656, 1), ("<h", 108, 8), ("<i", 1446, 1),
                          ("<I", 2996, 0x01234567)]:
        struct.pack_into(fmt, head, off, val)
    spe = os.path.join(work, "u32.spe")
    open(spe, "wb").write(bytes(head) + values.tobytes())
    for opts in ([], ["--bzero"], ["--bzero", "--metadata", "--regions"]):
        run = subprocess.run([CONVERT, "-q", "-o", work, *opts, spe], capture_output=True, text=True)
        fit = os.path.join(work, "u32.fit")
        if not opts:
            check(run.returncode == 1 and not os.path.exists(fit) and "data type 8 (unsigned "
                  "32-bit) is not supported without --bzero" in run.stderr, f"u32: {run.stderr}")
            continue
        verify(fit)
        with fits.open(fit) as hdul:
            h, data = hdul[0].header, hdul[0].data
            check((h["BITPIX"], h["BZERO"], h["BSCALE"], data.dtype) == (32, 2**31, 1, np.uint32)
                  and np.array_equal(data[0], values), f"u32 {opts}: {h['BITPIX']} {data!r}")
        os.remove(fit)


def main():
    work = tempfile.mkdtemp()
    try:
        check_uint32(work)
        src = os.path.join(work, "spe")
        os.mkdir(src)
        cases = build_v3(src)
        for f in sorted(os.listdir(SAMPLES)):
            if f.endswith(".spe"):
                shutil.copy(os.path.join(SAMPLES, f), src)
                cases[f] = spe2(os.path.join(src, f))
        # A region of interest from chip pixel 101, binned by 2 (2680 pixels, 1340 columns).
        roi = bytearray(open(os.path.join(SAMPLES, "hene_int32_1340x1.spe"), "rb").read())
        struct.pack_into("<3H", roi, 1512, 101, 2780, 2)
        with open(os.path.join(src, "hene_roi.spe"), "wb") as f:
            f.write(roi)
        cases["hene_roi.spe"] = spe2(os.path.join(src, "hene_roi.spe"))
        for combo in itertools.product(*[[(), (o,)] for o in ("--metadata", "--bzero", "--regions")]):
            opts = [o for c in combo for o in c]
            out = os.path.join(work, "out" + "".join(opts).replace("--", "_"))
            os.mkdir(out)
            for name, (frames, nm, date) in sorted(cases.items()):
                run = subprocess.run([CONVERT, "-q", "-o", out, *opts, os.path.join(src, name)],
                                     capture_output=True, text=True)
                split = len({a.shape[1] for a in frames[0]}) > 1
                if split and "--regions" not in opts:
                    check(run.returncode == 1 and "--regions" in run.stderr,
                          f"{name} {opts}: refusal {run.returncode} {run.stderr!r}")
                    continue
                check(run.returncode == 0, f"{name} {opts}: exit {run.returncode} {run.stderr}")
                check_fits(name, os.path.join(out, name[:-4] + ".fit"), frames, nm, date, opts)
    finally:
        shutil.rmtree(work)
    return report(failures)


if __name__ == "__main__":
    sys.exit(main())
