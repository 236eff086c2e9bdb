#!/usr/bin/python3
"""Display FITS File compared value by value with astropy: every sample converted plain and
with --bzero, files astropy writes (unsigned 16-bit, signed bytes, unsigned 32-bit, scaled,
64-bit floats, tile-compressed) and a converted SPE 3.0 file whose wavelength list no
polynomial holds. The display document must hold astropy's physical values (32-bit floats
where the document holds floats) and the wavelengths of the file's axis, and the header box
the cards astropy shows for the image (a compressed image's own, not its storage's).

Usage: display_check.py FITS_CONVERT SAMPLES_DIR DISPLAY_DUMP"""
import os
import shutil
import subprocess
import sys
import tempfile

import numpy as np
from astropy.io import fits

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "convert"))
from check_report import report  # noqa: E402
from science_check import mapping, spe3  # noqa: E402  (reads argv[1:3] as these do)

CONVERT, SAMPLES, DUMP = sys.argv[1], sys.argv[2], sys.argv[3]
failures = []


def dump(path):
    run = subprocess.run([DUMP, path], capture_output=True, text=True)
    if run.returncode != 0:
        return None, run.stderr
    out = {"card": [], "note": [], "type": [], "frame": [], "nm": []}
    for line in run.stdout.splitlines():
        key, _, rest = line.partition(" ")
        if key == "nm":
            out[key] = [float(v) for v in rest.split()]
        else:
            out[key].append(np.array([float(v) for v in rest.split()]) if key == "frame"
                            else rest)
    return out, ""


def compare(name, path, want_type, want_nm=None, note=None):
    """The display of `path` holds astropy's values of its image, as `want_type`."""
    got, error = dump(path)
    if got is None:
        failures.append(f"{name}: display failed: {error}")
        return
    with fits.open(path) as hdul:
        hdu = next(h for h in hdul if h.data is not None and h.is_image)
        data = np.asarray(hdu.data)
    frames = data.reshape(-1, *data.shape[-2:]) if data.ndim > 1 else data.reshape(1, 1, -1)
    floats = want_type == "32-bit float"
    if got["type"] != [want_type]:
        failures.append(f"{name}: document of {got['type']}, not {want_type}")
    if len(got["frame"]) != len(frames):
        failures.append(f"{name}: {len(got['frame'])} frames, astropy {len(frames)}")
        return
    for k, (shown, want) in enumerate(zip(got["frame"], frames)):
        want = want.ravel().astype(np.float32 if floats else np.float64).astype(np.float64)
        same = (shown == want) | (np.isnan(shown) & np.isnan(want))
        if not same.all():
            i = int(np.argmin(same))
            failures.append(f"{name} frame {k + 1}: sample {i + 1} shown {shown[i]}, "
                            f"astropy {want[i]}")
    if want_nm is not None and (len(got["nm"]) != len(want_nm) or
                                not np.allclose(got["nm"], want_nm, atol=1e-6, rtol=0)):
        failures.append(f"{name}: wavelengths {got['nm'][:3]}..., want {list(want_nm[:3])}...")
    # Keywords whose form differs between a primary HDU and an extension; commentary cards.
    skip = {"SIMPLE", "XTENSION", "EXTEND", "PCOUNT", "GCOUNT", "COMMENT", "HISTORY", ""}
    shown = {(c.keyword, c.value) for c in map(fits.Card.fromstring, got["card"])
             if c.keyword not in skip}
    with fits.open(path, do_not_scale_image_data=True) as raw:  # the header as in the file
        header = next(h.header for h in raw if h.is_image and h.header.get("NAXIS", 0) > 0)
    want = {(k, v) for k, v in header.items() if k not in skip}
    if shown != want:
        failures.append(f"{name}: header box differs from astropy's in "
                        f"{sorted(shown ^ want, key=str)[:4]}")
    notes = " ".join(got["note"])
    if (note is None) != (notes == "") or (note and note not in notes):
        failures.append(f"{name}: notes {notes!r}, want {note!r}")


def converted(work, spe, opts):
    out = os.path.join(work, "out" + "".join(opts).replace("--", "_"))
    os.makedirs(out, exist_ok=True)
    run = subprocess.run([CONVERT, "-q", "-o", out, *opts, spe], capture_output=True, text=True)
    if run.returncode != 0:
        failures.append(f"{spe} {opts}: fits-convert: {run.stderr}")
    suffix = ".fit.fz" if "--compress" in opts else ".fit"  # compressed files are named so
    return os.path.join(out, os.path.basename(spe)[:-4] + suffix)


def main():
    work = tempfile.mkdtemp()
    os.environ["XDG_DATA_HOME"] = os.path.join(work, "data")
    rng = np.random.default_rng(35)
    try:
        types = {"int32": "signed 32-bit", "float32": "32-bit float"}
        for sample in sorted(f for f in os.listdir(SAMPLES) if f.endswith(".spe")):
            kind = sample.split("_")[1]
            for opts in ([], ["--bzero"], ["--compress"]):
                want = types.get(kind, "unsigned 16-bit" if opts == ["--bzero"]
                                 else "signed 32-bit")
                fit = converted(work, os.path.join(SAMPLES, sample), opts)
                compare(f"{sample} {opts}", fit, want)
        u16 = rng.integers(0, 65536, (3, 7, 9)).astype(np.uint16)
        u32 = rng.integers(0, 1 << 24, (5, 6)).astype(np.uint32)
        scaled = rng.integers(-3000, 3000, (4, 5)).astype(np.float64) * 0.5 + 10
        rows = [  # file, data, document type, note
            ("astropy_uint16.fits", u16, "unsigned 16-bit", None),
            ("astropy_int8.fits", rng.integers(-128, 128, (4, 4)).astype(np.int8),
             "signed 16-bit", None),
            ("astropy_uint32.fits", u32, "32-bit float", "values above 16777216"),
            ("astropy_float64.fits", rng.normal(0, 1e3, (6, 5)), "32-bit float", "BITPIX -64"),
            ("scaled.fits", scaled, "32-bit float", None),
            ("compressed_uint16.fits", u16, "unsigned 16-bit", None),
            ("compressed_float.fits", rng.normal(0, 1, (8, 8)).astype(np.float32),
             "32-bit float", None),
            # Undefined samples (BLANK): NaN, but in unsigned data; (BLANK, BSCALE, BZERO).
            ("blank_int16.fits", (-32768, 1, 0), "32-bit float", None),
            ("blank_scaled_by_2.fits", (-32768, 2, 10), "32-bit float", None),
            ("blank_uint16.fits", (-32768, 1, 32768), "unsigned 16-bit", None),
            ("blank_int32.fits", (-2147483648, 1, 0), "32-bit float", "undefined samples"),
            ("extension_int16.fits", rng.integers(-9, 9, (2, 3, 4)).astype(np.int16),
             "signed 16-bit", None),
            # Infinities are values, not undefined samples.
            ("astropy_inf.fits", np.array([[1, np.inf, -np.inf, np.nan]], np.float32),
             "32-bit float", None),
            ("astropy_inf64.fits", np.array([[np.inf, -np.inf, 1e300, 2.5]]), "32-bit float",
             "BITPIX -64"),
        ]
        for name, data, want, note in rows:
            path = os.path.join(work, name)
            if name.startswith("compressed"):
                fits.HDUList([fits.PrimaryHDU(), fits.CompImageHDU(data)]).writeto(path)
            elif name.startswith("extension"):
                fits.HDUList([fits.PrimaryHDU(), fits.ImageHDU(data)]).writeto(path)
            elif name == "scaled.fits":
                hdu = fits.PrimaryHDU(data)
                hdu.scale("int16", bscale=0.5, bzero=10)
                hdu.writeto(path)
            elif name.startswith("blank"):
                blank, bscale, bzero = data
                raw = rng.integers(-3000, 3000, (4, 5)).astype(
                    np.int32 if blank < -32768 else np.int16)
                raw[1, 2] = blank
                fits.PrimaryHDU(raw).writeto(path)
                with fits.open(path, mode="update", do_not_scale_image_data=True) as hdul:
                    hdul[0].header.update(BLANK=blank, BSCALE=bscale, BZERO=bzero)
            else:
                fits.PrimaryHDU(data).writeto(path)
            compare(name, path, want, note=note)
        # A WAVE axis without CUNIT1 is in metres.
        path = os.path.join(work, "wave_metres.fits")
        hdu = fits.PrimaryHDU(rng.normal(0, 1, (1, 100)).astype(np.float32))
        hdu.header.update(CTYPE1="WAVE", CRPIX1=1.0, CRVAL1=5e-7, CDELT1=1e-10)
        hdu.writeto(path)
        compare("wave_metres.fits", path, "32-bit float", want_nm=500 + 0.1 * np.arange(100))
        # An SPE 3.0 list of wavelengths no polynomial of order 5 holds to 0.1 pm.
        nm = 500 + 0.5 * np.arange(64) + 0.02 * np.sin(np.arange(64))
        spe = os.path.join(work, "v3_wiggle.spe")
        spe3(spe, [(64, 1)], 2, mapping(nm, sensors=[(0, 64, 1)]))
        for opts in (["--metadata"], ["--metadata", "--bzero"], ["--metadata", "--compress"],
                     ["--metadata", "--regions"]):
            fit = converted(work, spe, opts)
            compare(f"v3_wiggle {opts}", fit,
                    "unsigned 16-bit" if "--bzero" in opts else "signed 32-bit", want_nm=nm)
    finally:
        shutil.rmtree(work)
    return report(failures)


if __name__ == "__main__":
    sys.exit(main())
