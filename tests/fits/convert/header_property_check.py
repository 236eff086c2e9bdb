#!/usr/bin/python3
"""Property check of supplied headers: generates headers by mutating valid ones (cards moved,
doubled, dropped, values of the wrong type, characters beyond ASCII, long comments, keywords
in lower case, keywords of 9 to 70 characters, cards of extensions, every number beyond the
mandatory cards written with a D exponent) and converts a sample with each, as a Custom header
(--header) or added to the Standard one (--add-header). Whenever fits-convert reports success,
fitsverify must pass the file, astropy must open it with verify('exception'), and the samples
astropy reads must be the SPE file's samples as the header's BITPIX, NAXISn and BZERO store
them (computed here, independently of the converter), and when the converter warns of
nothing, the values astropy reads after scaling (BZERO + BSCALE x sample) must be the SPE
file's own; a keyword longer than 8 characters
before its "=" is never reported as written (readers would keep 8 of them, the value lost).
A refusal must write nothing and say
why on standard error.

Usage: header_property_check.py FITS-CONVERT SAMPLES-DIR [CASES [SEED|random]]"""
import os
import random
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import warnings

import numpy as np
from astropy.io import fits

CONVERT, SAMPLES = sys.argv[1], sys.argv[2]
CASES = int(sys.argv[3]) if len(sys.argv) > 3 else 300
# A fixed seed repeats the same headers; "random" draws one (printed, to repeat a finding).
SEED = sys.argv[4] if len(sys.argv) > 4 else "2026"
SEED = random.SystemRandom().randrange(10**6) if SEED == "random" else int(SEED)
SAMPLE = os.path.join(SAMPLES, "image_uint16_30x20x2.spe")  # 30 x 20, 2 frames, uint16


def spe_frames(path):
    with open(path, "rb") as f:
        head = f.read(4100)
        xdim, = struct.unpack_from("<H", head, 42)
        ydim, = struct.unpack_from("<H", head, 656)
        frames, = struct.unpack_from("<i", head, 1446)
        data = np.frombuffer(f.read(xdim * ydim * frames * 2), dtype="<u2")
    return data.reshape(frames, ydim, xdim).astype(np.int64)


FRAMES = spe_frames(SAMPLE)


def fixed(keyword, value):
    return f"{keyword:<8}= {value:>20}"


BASE = [fixed("SIMPLE", "T"), fixed("BITPIX", "32"), fixed("NAXIS", "3"), fixed("NAXIS1", "30"),
        fixed("NAXIS2", "20"), fixed("NAXIS3", "2")]
EXTRAS = ["OBSERVER= 'Ann'", "OBJECT  = 'M31' / target", "EXPTIME =                  1.5",
          "DATE-OBS= '2020-01-01T10:11:12'", "EQUINOX =                2000.", "GAIN    = 2",
          "FILTER  = 'red     '", "EXTEND  =                    T", "COMMENT a comment line",
          "HISTORY made here", "BSCALE  =                    1", "BZERO   =                    0"]
WRONG_VALUES = ["16.0", "1e3", "1E3", "30.5", "NAN", "INF", "'abc", "'abc'", "T", "F", "''",
                "(1, 2)", "-5", "0", "99999999999999999999", "1D3", "abc", "", "+3", "8", "16",
                "-32", "1E999", "'2020-13-01'", "32768"]
INSERTED = ["XTENSION= 'IMAGE'", "END", "EPOCH   =                2000.", "PCOUNT  = 0",
            "TFORM1  = 'E'", "BLANK   = -1", "CONTINUE  'x'", "NAXIS4  =                    1",
            "BITPIX  =                   16", "BZERO   =                32768",
            "SIMPLE  =                    T", "        = 5", "HIERARCH ESO DET TEMP = 5.0",
            "DATE    = '10000-01-01'", "OBJECT  = 5", "BUNIT   = 'adu'"]


KEY_CHARS = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-_"
LONG_KEYWORD = re.compile(r"[A-Z0-9_-]{9,} *=")


def mutate(cards, rng):
    cards = list(cards)
    for _ in range(rng.randint(1, 3)):
        i = rng.randrange(len(cards)) if cards else 0
        kind = rng.randrange(12)
        if not cards:
            cards.append(rng.choice(INSERTED))
        elif kind == 0:  # move
            card = cards.pop(i)
            cards.insert(rng.randrange(len(cards) + 1), card)
        elif kind == 1:  # double
            cards.insert(rng.randrange(len(cards) + 1), cards[i])
        elif kind == 2:  # drop
            cards.pop(i)
        elif kind in (3, 4):  # a value of another type
            key = cards[i][:8]
            value = rng.choice(WRONG_VALUES)
            cards[i] = fixed(key.strip(), value) if rng.random() < 0.5 else f"{key}= {value}"
        elif kind == 5:  # beyond ASCII
            card = cards[i]
            at = rng.randrange(len(card) + 1)
            cards[i] = card[:at] + rng.choice(["\u00fc", "\u00e9", "\t", "\u00b0"]) + card[at:]
        elif kind == 6:  # a long comment
            cards[i] = cards[i] + " / " + "c" * rng.randint(40, 90)
        elif kind == 7:  # lower-case keyword
            cards[i] = cards[i][:8].lower() + cards[i][8:]
        elif kind == 8:  # a card of extensions, END, reserved keywords
            cards.insert(rng.randrange(len(cards) + 1), rng.choice(INSERTED))
        elif kind == 9:  # spacing as people type it
            key, _, rest = cards[i].partition("=")
            if rest:
                cards[i] = key.strip() + " =" + rest.strip()
        elif kind == 11:  # a keyword of 9 to 70 characters
            key = "".join(rng.choice(KEY_CHARS) for _ in range(rng.randint(9, 70)))
            cards.insert(rng.randrange(len(cards) + 1), key + rng.choice(["= ", " = "]) +
                         rng.choice(["-60.5", "'Ann'", "T", "3"]))
        else:  # another mandatory value
            cards[i] = fixed(cards[i][:8].strip(), rng.choice(["8", "16", "-32", "2", "1",
                                                                "0", "40", "5"]))
    return cards


SCALING = [fixed("BZERO", "32768"), fixed("BSCALE", "2"), fixed("BZERO", "-100")]
MANDATORY = re.compile(r"(SIMPLE|BITPIX|NAXIS\d*) *$")
NUMBER_VALUE = re.compile(r"^([A-Z0-9_-]{1,8} *= +)([-+]?(?:\d+\.?\d*|\.\d+))(?=$| )")


def d_exponents(cards):
    """Every number of a card beyond the mandatory ones written with a D exponent, as FITS
    allows: 32768 becomes 3.2768D4, 1.5 becomes 1.5D0."""
    out = []
    for card in cards:
        m = NUMBER_VALUE.match(card)
        if not m or MANDATORY.match(card[:8]):
            out.append(card)
            continue
        mantissa, exponent = f"{float(m.group(2)):.6E}".split("E")
        number = f"{mantissa.rstrip('0')}D{int(exponent)}"
        out.append(m.group(1) + number + card[m.end():])
    return out


def expected_samples(header):
    """The samples the header asks for, as BITPIX stores them without scaling."""
    bitpix, naxis = header["BITPIX"], header["NAXIS"]
    if naxis == 0:
        return None
    shape = [header[f"NAXIS{k}"] for k in range(1, naxis + 1)]
    n1 = shape[0]
    n2 = shape[1] if naxis >= 2 else 1
    n3 = int(np.prod(shape[2:])) if naxis >= 3 else 1
    out = np.zeros((n3, n2, n1), dtype=np.int64 if bitpix > 0 else np.float64)
    f, r, c = min(n3, FRAMES.shape[0]), min(n2, FRAMES.shape[1]), min(n1, FRAMES.shape[2])
    out[:f, :r, :c] = FRAMES[:f, :r, :c]
    if bitpix == 16 and header.get("BZERO") == 32768:
        return (out - 32768).reshape(shape[::-1])
    ranges = {8: (0, 255), 16: (-32768, 32767), 32: (-2**31, 2**31 - 1)}
    if bitpix in ranges:
        out = np.clip(out, *ranges[bitpix])
    return out.reshape(shape[::-1])


def check_written(path, said):
    """Why the written file is not what a success promises (`said`: warnings); None if it is."""
    verify = subprocess.run(["fitsverify", "-q", path], capture_output=True, text=True)
    if "verification OK" not in verify.stdout:
        return "fitsverify: " + verify.stdout.strip()
    try:
        with warnings.catch_warnings():
            warnings.simplefilter("error")  # a card astropy warns about is a finding too
            return check_astropy(path) or (None if said.strip() else check_values(path))
    except Exception as error:  # noqa: BLE001 - any failure to read is the finding
        return f"astropy: {type(error).__name__}: {error}"


def check_astropy(path):
    """Why astropy does not read the samples the header promises; None when it does."""
    with fits.open(path, do_not_scale_image_data=True) as hdul:
        hdul.verify("exception")
        header, data = hdul[0].header, hdul[0].data
        expected = expected_samples(header)
        if expected is None:
            return None if data is None else "data behind NAXIS = 0"
        if data is None or data.shape != expected.shape:
            return f"astropy reads shape {None if data is None else data.shape}"
        if not np.array_equal(np.asarray(data, dtype=expected.dtype), expected):
            return "astropy reads other samples than the SPE file holds"
    return None


def check_values(path):
    """Why the values astropy reads after scaling are not the SPE file's; None when they are."""
    with fits.open(path) as hdul:
        header, data = hdul[0].header, hdul[0].data
        if header["NAXIS"] == 0 or data is None:
            return None
        shape = [header[f"NAXIS{k}"] for k in range(1, header["NAXIS"] + 1)]
        if shape[:2] != [FRAMES.shape[2], FRAMES.shape[1]][:len(shape)] or data.size > FRAMES.size:
            return None  # a size the converter warned of, or cut: checked by check_astropy
        want = FRAMES[:data.size // (FRAMES.shape[1] * FRAMES.shape[2])].reshape(data.shape)
        if not np.array_equal(np.asarray(data, dtype=np.float64), want.astype(np.float64)):
            return (f"astropy reads values other than the SPE file's (first {data.flat[0]}, "
                    f"file {want.flat[0]}) and the converter said nothing")
    return None


def main():
    rng = random.Random(SEED)
    work = tempfile.mkdtemp(prefix="header-property-")
    failures, outcomes = [], {"written": 0, "refused": 0}
    try:
        for n in range(CASES):
            custom = rng.random() < 0.75
            cards = mutate(BASE + rng.sample(EXTRAS, rng.randint(0, 4)), rng)
            if rng.random() < 0.4:  # numbers with D exponents, scaling cards among them
                scaling = [rng.choice(SCALING)] if rng.random() < 0.75 else []
                cards = d_exponents(cards + scaling)
            if not custom:
                cards = [c for c in cards if c.strip()] or ["OBSERVER= 'Ann'"]
            text = "\n".join(cards) + "\n"
            header_path = os.path.join(work, "h.txt")
            with open(header_path, "w", encoding="utf-8") as f:
                f.write(text)
            out = os.path.join(work, "out")
            shutil.rmtree(out, ignore_errors=True)
            os.mkdir(out)
            option = "--header" if custom else "--add-header"
            run = subprocess.run([CONVERT, "-q", option, header_path, "-o", out, SAMPLE],
                                 capture_output=True, text=True, errors="replace")
            target = os.path.join(out, "image_uint16_30x20x2.fit")
            case = f"case {n} ({option}):\n{text}"
            if run.returncode == 0 and any(LONG_KEYWORD.match(c) for c in cards):
                failures.append(f"{case}reported success with a keyword of more than 8 "
                                f"characters\n{run.stderr}")
            if run.returncode == 0:
                outcomes["written"] += 1
                why = check_written(target, run.stderr) if os.path.exists(target) else "no file"
                if why:
                    failures.append(f"{case}reported success, but {why}\n{run.stderr}")
            else:
                outcomes["refused"] += 1
                if os.listdir(out):
                    failures.append(f"{case}refused, but wrote {os.listdir(out)}")
                if not run.stderr.strip():
                    failures.append(f"{case}refused without a word")
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print(f"{CASES} headers (seed {SEED}): {outcomes['written']} written and verified, "
          f"{outcomes['refused']} refused")
    # The generator must reach both sides, or the check proves nothing.
    for side, count in outcomes.items():
        if count < CASES // 10:
            failures.append(f"only {count} of {CASES} headers {side}: the mutations are lopsided")
    for failure in failures[:20]:
        print(failure, file=sys.stderr)
    if failures:
        print(f"{len(failures)} failure(s)", file=sys.stderr)
        sys.exit(1)


if __name__ == "__main__":
    main()
