#!/usr/bin/python3
"""Runs docs/converter.md's specutils recipe, exactly as the document prints it, on a spectrum
with a linear WAVE axis and one with a WAVE-TAB axis (both written with --metadata), and
checks that the Spectrum1D it builds has the file's counts and, for every column, the
wavelength the header or its WCS-TAB table states, within 1e-6 nm."""
import os
import re
import shutil
import subprocess
import sys
import tempfile

import numpy as np
from astropy.io import fits

from check_report import report

CONVERT, SAMPLES, DOC = (os.path.abspath(a) for a in sys.argv[1:4])
MARKER = "Opening a spectrum in specutils"
failures = []


def recipe():
    """The first python block after the marker in the document."""
    text = open(DOC, encoding="utf-8").read()
    at = text.find(MARKER)
    block = re.search(r"```python\n(.*?)```", text[at:], re.S) if at >= 0 else None
    if block is None:
        sys.exit(f"{DOC}: no python block after '{MARKER}'")
    return block.group(1)


def stated_nm(path):
    """Every column's wavelength as the file states it, read without a WCS library."""
    with fits.open(path) as hdul:
        h = hdul[0].header
        if h["CTYPE1"] == "WAVE-TAB":
            assert hdul["WCS-TAB"].header["TUNIT1"] == "nm"
            return np.ravel(hdul["WCS-TAB"].data["WAVELENGTH"][0]), h["CTYPE1"]
        assert h["CUNIT1"] == "nm"
        columns = np.arange(h["NAXIS1"])
        return h["CRVAL1"] + (columns + 1 - h["CRPIX1"]) * h["CDELT1"], h["CTYPE1"]


def main():
    code = recipe()
    work = tempfile.mkdtemp()
    try:
        for sample, kind in (("glue_float32_4711x1_v25.spe", "WAVE"),
                             ("hene_int32_1340x1.spe", "WAVE-TAB")):
            run_dir = os.path.join(work, kind)
            os.mkdir(run_dir)
            run = subprocess.run([CONVERT, "-q", "--metadata", "-o", run_dir,
                                  os.path.join(SAMPLES, sample)], capture_output=True, text=True)
            if run.returncode != 0:
                failures.append(f"{sample}: fits-convert: {run.stderr}")
                continue
            fit = os.path.join(run_dir, "run1.fit")  # the name the recipe opens
            os.rename(os.path.join(run_dir, sample[:-4] + ".fit"), fit)
            want_nm, ctype = stated_nm(fit)
            if ctype != kind:
                failures.append(f"{sample}: CTYPE1 {ctype}, expected {kind}")
            os.chdir(run_dir)
            found = {}
            exec(code, found)
            got = found["nm"].value
            err = np.max(np.abs(got - want_nm)) if got.shape == want_nm.shape else np.inf
            if not err < 1e-6:
                failures.append(f"{sample} ({kind}): wavelengths off by {err} nm")
            counts = fits.getdata(fit)[0, 0].astype(np.float64)
            if not np.array_equal(found["spectrum"].flux.value, counts):
                failures.append(f"{sample} ({kind}): the spectrum's counts differ from the file's")
    finally:
        os.chdir("/")
        shutil.rmtree(work)
    return report(failures)


if __name__ == "__main__":
    sys.exit(main())
