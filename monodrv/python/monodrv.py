"""Scripting access to the Monodrv spectrograph driver (libmonodrv.so) with ctypes.

    import monodrv
    port = monodrv.open_port("/dev/ttyUSB0")            # through libtelx32.so
    with monodrv.Spectrograph(monodrv.SPECTROMETERS.TRIAX_320, port) as s:
        s.initialize()                                    # handshake, gratings, slits
        print(s.move_to(500.0))                           # where it went, read back
        for target, at, when in s.scan(500.0, 510.0, 1.0):
            ...                                           # acquire at each wavelength

The same rules as monodrv-ctl: a value outside what the instrument takes raises ValueError
before anything is sent; an operation the driver reports failed raises OperationFailed,
naming the operation and the likely reason, and leaves the instance as it was.
Standard library only.
"""
from __future__ import annotations

import ctypes
import datetime
import enum
import math
import os
import time
from typing import Iterator, Optional, Sequence, Tuple

__all__ = ["SPECTROMETERS", "MIRRORLOCATIONS", "MIRRORPOSITIONS", "SLITLOCATIONS",
           "MANUFACTURERS", "SPECT_PARAMETERS", "SPECT_OPERATIONS", "SPECT_ERRORS",
           "SPECT_BUSY_STATUS", "SPECT_PORT_STATES", "SPECT_STATUS_BITS", "SPECT_AVAIL_KINDS",
           "OperationFailed", "MoveTimedOut", "Spectrograph", "open_port", "close_port", "load",
           "LIMITS", "MODELS", "REINIT_LIMIT", "APPROACH_NM"]


class SPECTROMETERS(enum.IntEnum):
    SPEX_270M = 0
    TRIAX_180 = 1
    TRIAX_190 = 2
    TRIAX_320 = 3
    SPEX232_RETRO = 4
    NUM_SPECTROGRAPHS = 5


class MIRRORLOCATIONS(enum.IntEnum):
    MIR_LOC_ENTRANCE = 1
    MIR_LOC_EXIT = 2
    NUM_MIRROR_LOCATION = 3


class MIRRORPOSITIONS(enum.IntEnum):
    MIR_POS_FRONT = 1
    MIR_POS_SIDE = 2
    NUM_MIRROR_POS = 3


class SLITLOCATIONS(enum.IntEnum):
    SLIT_LOC_FR_ENTR = 0
    SLIT_LOC_SD_ENTR = 1
    SLIT_LOC_FR_EXIT = 2
    SLIT_LOC_SD_EXIT = 3
    NUM_SLIT_LOCATION = 4


class MANUFACTURERS(enum.IntEnum):
    MNFCTR_ID_SPEX = 0
    MNFCTR_ID_ISA = 1
    MNFCTR_ID_JY = 2
    NUM_MANUFACTURERS = 3


class SPECT_PARAMETERS(enum.IntEnum):
    SPECT_PARAM_SPECTROMETER = 1
    SPECT_PARAM_MODEL = 2
    SPECT_PARAM_REPORTED_11 = 11
    SPECT_PARAM_REPORTED_12 = 12
    SPECT_PARAM_AVAIL_26 = 26
    SPECT_PARAM_GROOVE_DENSITY = 33
    SPECT_PARAM_REPORTED_41 = 41
    SPECT_PARAM_REPORTED_42 = 42
    SPECT_PARAM_SPEED_COUNT = 43
    SPECT_PARAM_SPEEDS = 44
    SPECT_PARAM_SPEED_LOWER = 45
    SPECT_PARAM_SPEED_UPPER = 46
    SPECT_PARAM_STEPS_PER_NM = 48
    SPECT_PARAM_REPORTED_61 = 61
    SPECT_PARAM_SLIT_SPEED_COUNT = 62
    SPECT_PARAM_SLIT_SPEEDS = 63
    SPECT_PARAM_SLIT_SPEED_LOWER = 64
    SPECT_PARAM_SLIT_SPEED_UPPER = 65
    SPECT_PARAM_SLIT_STEPS_PER_MM = 66
    SPECT_PARAM_REPORTED_76 = 76
    SPECT_PARAM_REPORTED_77 = 77
    SPECT_PARAM_REPORTED_78 = 78
    SPECT_PARAM_REPORTED_79 = 79
    SPECT_PARAM_REPORTED_80 = 80
    SPECT_PARAM_FLAG_82 = 82
    SPECT_PARAM_FLAG_83 = 83
    SPECT_PARAM_REPORTED_84 = 84
    SPECT_PARAM_REPORTED_85 = 85
    SPECT_PARAM_WAVELENGTH_DECIMALS = 86
    SPECT_PARAM_GRATINGS_PER_SET = 105
    SPECT_PARAM_MODEL_CONSTANT_1 = 106
    SPECT_PARAM_MODEL_CONSTANT_2 = 107
    SPECT_PARAM_MODEL_CONSTANT_3 = 108
    SPECT_PARAM_REPORTED_109 = 109
    SPECT_PARAM_REFERENCE_GROOVES = 111
    SPECT_PARAM_GROOVES = 112
    SPECT_PARAM_GRATING_LABEL = 113
    SPECT_PARAM_DEFAULT_STEPS_PER_NM = 114
    SPECT_PARAM_REPORTED_115 = 115
    SPECT_PARAM_REPORTED_116 = 116
    SPECT_PARAM_REPORTED_117 = 117
    SPECT_PARAM_REPORTED_118 = 118
    SPECT_PARAM_WAVELENGTH_STEP_LIMIT = 119
    SPECT_PARAM_DEFAULT_SLIT_STEPS_PER_MM = 120
    SPECT_PARAM_REPORTED_121 = 121
    SPECT_PARAM_REPORTED_122 = 122
    SPECT_PARAM_REPORTED_123 = 123
    SPECT_PARAM_REPORTED_124 = 124
    SPECT_PARAM_SLIT_STEP_LIMIT = 125
    SPECT_PARAM_REPORTED_126 = 126
    SPECT_PARAM_REPORTED_127 = 127
    SPECT_PARAM_SLIT_WIDTH_UNIT = 128
    SPECT_PARAM_REPORTED_129 = 129
    SPECT_PARAM_PORT_NAME = 130
    SPECT_PARAM_REPORTED_131 = 131
    SPECT_PARAM_REFRESHED = 132
    SPECT_PARAM_MANUFACTURER = 143
    SPECT_PARAM_ROUND_VALUE = 144
    SPECT_PARAM_GRATING_VALUE = 145
    SPECT_PARAM_PORT_HANDLE = 146
    SPECT_PARAM_SIMULATION_ALIAS = 147
    SPECT_PARAM_SIMULATION = 148
    SPECT_PARAM_REPORTED_149 = 149
    SPECT_PARAM_NAMED_GRATING_SET = 150
    SPECT_PARAM_GROOVE_DENSITY_READ = 151
    SPECT_PARAM_CURRENT_GRATING = 152
    SPECT_PARAM_GRATING_NAME = 153
    SPECT_PARAM_WAVELENGTH = 154
    SPECT_PARAM_UNSET_155 = 155
    SPECT_PARAM_TEXT_156 = 156
    SPECT_PARAM_TEXT_157 = 157
    SPECT_PARAM_SLIT_COUNT = 158
    SPECT_PARAM_SLIT_LOCATION = 159
    SPECT_PARAM_SLIT_WIDTH = 160
    SPECT_PARAM_UNSET_161 = 161
    SPECT_PARAM_MIRROR_COUNT = 162
    SPECT_PARAM_MIRROR_LOCATION = 163
    SPECT_PARAM_MIRROR_POSITION = 164
    SPECT_PARAM_TARGET_MIRROR_LOCATION = 165
    SPECT_PARAM_TARGET_MIRROR_POSITION = 166
    SPECT_PARAM_ENUM_VALUE = 167
    SPECT_PARAM_TARGET_WAVELENGTH = 168
    SPECT_PARAM_GRATING = 169
    SPECT_PARAM_TARGET_SLIT_LOCATION = 170
    SPECT_PARAM_TARGET_SLIT_WIDTH = 171
    SPECT_PARAM_BUSY_STATUS = 172
    SPECT_PARAM_ERROR_CODE = 173
    SPECT_PARAM_GRATING_SET = 174
    SPECT_PARAM_STORED_176 = 176
    SPECT_PARAM_UNSET_177 = 177
    SPECT_PARAM_CONSTANT_187 = 187
    SPECT_PARAM_CONSTANT_192 = 192
    SPECT_PARAM_CONSTANT_193 = 193
    SPECT_PARAM_CONSTANT_194 = 194
    SPECT_PARAM_CONSTANT_195 = 195
    SPECT_PARAM_SPEED_UNITS = 198
    SPECT_PARAM_SPEED_NAMES = 199
    SPECT_PARAM_SLIT_SPEED_UNIT = 200
    SPECT_PARAM_SLIT_SPEED_NAME = 201
    SPECT_PARAM_STEPS_PER_NM_UNIT = 204
    SPECT_PARAM_STEPS_PER_MM_UNIT = 205
    SPECT_PARAM_AVAIL_207 = 207
    SPECT_PARAM_CONSTANT_208 = 208
    SPECT_PARAM_STORED_210 = 210
    SPECT_PARAM_DRIVER_VERSION = 221
    SPECT_PARAM_DRIVER_VERSION_2 = 222


class SPECT_OPERATIONS(enum.IntEnum):
    SPECT_OP_MOVE_TO_WAVELENGTH = 0
    SPECT_OP_MOVE_SLIT = 1
    SPECT_OP_SET_MIRROR = 2
    SPECT_OP_REINITIALIZE = 3
    SPECT_OP_INITIALIZE = 4
    SPECT_OP_ROUND_VALUE = 5
    SPECT_OP_READ_POSITION = 8
    SPECT_OP_REFRESH_ALL = 9
    SPECT_OP_FIND_SLITS = 10
    SPECT_OP_READ_BUSY_STATUS = 11
    SPECT_OP_SELECT_GRATING = 12
    SPECT_OP_SEND_L = 18
    SPECT_OP_SET_SPEEDS = 24
    SPECT_OP_NO_ACTION = 25
    SPECT_OP_READ_SPEEDS = 26
    SPECT_OP_READ_SLIT_SPEED = 27


class SPECT_ERRORS(enum.IntEnum):
    SPECT_ERR_NONE = 0
    SPECT_ERR_FAILED = 11


class SPECT_BUSY_STATUS(enum.IntEnum):
    SPECT_BUSY_HELD = -3
    SPECT_BUSY_ERROR = -2
    SPECT_BUSY_BUSY = -1
    SPECT_BUSY_NOT_VALID = 0
    SPECT_BUSY_READY = 1


class SPECT_PORT_STATES(enum.IntEnum):
    SPECT_STATE_COMPLETION_PENDING = 1568
    SPECT_STATE_RELEASED = 2679
    SPECT_STATE_ERROR_SIGNAL = 2680
    SPECT_STATE_HELD = 2681


class SPECT_STATUS_BITS(enum.IntEnum):
    SPECT_STATUS_DONE = 0x01
    SPECT_STATUS_ERROR = 0x02
    SPECT_STATUS_REPLY_WAITING = 0x80


class SPECT_AVAIL_KINDS(enum.IntEnum):
    SPECT_KIND_INTEGER = 1
    SPECT_KIND_REAL = 4
    SPECT_KIND_ENUMERATED = 9
    SPECT_KIND_SPECIAL = 11


# What a user may ask of a spectrograph: the same table as monodrv-ctl's (monodrv/ctl/limits.h;
# a test holds the two equal). The number of gratings is the driver's own (parameter 105).
LIMITS = {
    "wavelength": (-100000.0, 100000.0),  # nm
    "slit_width": (0.0, 100.0),           # mm
    "speed": (0.0, 4294967295.0),         # controller units; min <= max
    "grooves": (1.0, 10000.0),            # grooves per mm
    "wait_limit": (0.0, 3600.0),          # s, above the low end
    "dwell": (0.0, 86400.0),              # s
}
MAX_SCAN_STEPS = 1000000
# A re-initialisation of a real instrument takes 60 to 200 s.
REINIT_LIMIT = 300.0
# A scan approaches every wavelength from below, from at least this far below it (backlash).
APPROACH_NM = 1.0
# Per model: the name monodrv-ctl takes, the title a user reads, and how long a move may keep
# the controller busy (s).
MODELS = {
    0: ("270m", "Spex 270M", 120.0),
    1: ("triax180", "TRIAX 180", 60.0),
    2: ("triax190", "TRIAX 190", 60.0),
    3: ("triax320", "TRIAX 320", 90.0),
    4: ("spex232", "Spex232", 120.0),
}
WAIT_LIMITS = {number: limit for number, (_, _, limit) in MODELS.items()}

_SLIT_NAMES = {0: "front entrance", 1: "side entrance", 2: "front exit", 3: "side exit"}
_NO_ANSWER = "the controller did not answer or refused the command"


class OperationFailed(RuntimeError):
    """The driver reported an operation as failed (error code 11); the message names the
    operation and the likely reason."""


class MoveTimedOut(OperationFailed):
    """The controller still reported busy when the wait limit ran out."""


class SpectAvailInfo(ctypes.Structure):
    _fields_ = [("count", ctypes.c_int32), ("kind", ctypes.c_int32), ("spare1", ctypes.c_double),
                ("spare2", ctypes.c_double), ("value1", ctypes.c_double),
                ("value2", ctypes.c_double), ("spare3", ctypes.c_double)]


_lib = None
_telx = None
_H = ctypes.c_void_p
_U8, _U32, _I16, _I32 = ctypes.c_ubyte, ctypes.c_uint32, ctypes.c_int16, ctypes.c_int32


def load(folder: Optional[str] = None) -> ctypes.CDLL:
    """Loads libmonodrv.so.1 and libtelx32.so.1 (from `folder`, $MONODRV_LIB or the default
    search path, where an installed driver lies) and declares the exports' argument types.
    Both are loaded by their SONAMEs: the unversioned names exist only with the development
    files."""
    global _lib, _telx
    if _lib is not None:
        return _lib
    folder = folder or os.environ.get("MONODRV_LIB", "")
    path = lambda name: os.path.join(folder, name) if folder else name
    lib = ctypes.CDLL(path("libmonodrv.so.1"))
    signatures = {
        "SPECT_CreateSpectrograph": (_H, [_I16]),
        "SPECT_DestroySpectrograph": (_U8, [_H]),
        "SPECT_IsAvail": (_U8, [_H, _U32, ctypes.POINTER(SpectAvailInfo)]),
        "SPECT_SetULongParam": (_U8, [_H, _U32, _U32, _I16]),
        "SPECT_GetULongParam": (_U8, [_H, _U32, ctypes.POINTER(_U32), _I16]),
        "SPECT_SetDblParam": (_U8, [_H, _U32, ctypes.c_double, _I16]),
        "SPECT_GetDblParam": (_U8, [_H, _U32, ctypes.POINTER(ctypes.c_double), _I16]),
        "SPECT_SetStrParam": (_U8, [_H, _U32, ctypes.c_char_p, _I16]),
        "SPECT_GetStrParam": (_U8, [_H, _U32, ctypes.c_char_p, _I16, _I16]),
        "SPECT_GetEnumParam": (_U8, [_H, _U32, _U32, ctypes.POINTER(_U32)]),
        "SPECT_GetEnumString": (_U8, [_H, _U32, _U32, ctypes.c_char_p, _I16]),
        "SPECT_Process": (_U8, [_H, _U32]),
        "SPECT_GetResource": (_U8, [_U32, ctypes.c_char_p, _I32]),
    }
    for name, (restype, argtypes) in signatures.items():
        fn = getattr(lib, name)
        fn.restype, fn.argtypes = restype, argtypes
    telx = ctypes.CDLL(path("libtelx32.so.1"))
    telx.TELX_Create_physical_port_ex.restype = _U32
    telx.TELX_Create_physical_port_ex.argtypes = [ctypes.c_char_p, _I32]
    telx.TELX_Destroy.argtypes = [_U32]
    telx.TELX_Diagnose_Interface.restype = _I32
    telx.TELX_Diagnose_Interface.argtypes = [_U32, ctypes.c_char_p, _I32]
    _lib, _telx = lib, telx
    return lib


def open_port(name: str, baud: int = 19200) -> int:
    """Opens a port by name through the port library and takes it for this process; returns
    its handle. Raises OSError with the library's reason: the port in use (naming the program
    that holds it), permission (the group to join), or no such device."""
    load()
    handle = _telx.TELX_Create_physical_port_ex(name.encode(), baud)
    if not handle:
        reason = ctypes.create_string_buffer(512)
        if _telx.TELX_Diagnose_Interface(0, reason, len(reason)):
            raise OSError(reason.value.decode(errors="replace"))
        raise OSError(f"{name} cannot be opened")
    return handle


def close_port(handle: int) -> None:
    """Closes a port opened with open_port and lets other programs take it."""
    load()
    _telx.TELX_Destroy(handle)


def _check(what: str, value: float, limits: Tuple[float, float], unit: str) -> float:
    """`value` as a float when it is finite and within `limits`; ValueError otherwise."""
    try:
        number = float(value)
    except (TypeError, ValueError):
        raise ValueError(f"{what} failed: {value!r} is not a number") from None
    low, high = limits
    if not math.isfinite(number) or not low <= number <= high:
        raise ValueError(f"{what} failed: {value!r} is not {unit} ({low:.15g} to {high:.15g})")
    return number


class Spectrograph:
    """One driver instance for a model, talking on an open port. Moves (move_to,
    select_grating, move_slit, set_mirror, reinitialize, stop) return when the controller is
    no longer busy; wait=False returns when it has taken the command."""

    def __init__(self, model: int, port: int = 0, simulate: bool = False,
                 wait_limit: Optional[float] = None,
                 grooves: Optional[Sequence[float]] = None) -> None:
        """`grooves`: the gratings' groove densities per mm in order (default 1200 each),
        given to the driver by initialize()."""
        if int(model) not in MODELS:
            raise ValueError(f"{model!r} is not a model (0-4, SPECTROMETERS)")
        self.model = int(model)
        self.title = MODELS[self.model][1]
        self.simulated = simulate
        if wait_limit is not None and not 0 < float(wait_limit) <= LIMITS["wait_limit"][1]:
            raise ValueError(f"{wait_limit!r} is not a wait limit in s (above 0, at most 3600)")
        self.wait_limit = WAIT_LIMITS[self.model] if wait_limit is None else float(wait_limit)
        self._lib = load()
        self.handle = self._lib.SPECT_CreateSpectrograph(self.model)
        if not self.handle:
            raise MemoryError("the driver could not create an instance")
        self.gratings = self.get_ulong(SPECT_PARAMETERS.SPECT_PARAM_GRATINGS_PER_SET)
        self.grooves = self._checked_grooves(grooves)
        self.set_ulong(SPECT_PARAMETERS.SPECT_PARAM_PORT_HANDLE, port)
        self.set_ulong(SPECT_PARAMETERS.SPECT_PARAM_SIMULATION, 1 if simulate else 0)

    def _checked_grooves(self, grooves: Optional[Sequence[float]]) -> list:
        if grooves is None:
            return []
        values = [_check("setting the grooves", g, LIMITS["grooves"], "a groove density per mm")
                  for g in grooves]
        if len(values) > self.gratings:
            raise ValueError(f"setting the grooves failed: the {self.title} has "
                             f"{self.gratings} gratings")
        return values

    def close(self) -> None:
        """Frees the driver instance (the port stays open)."""
        if self.handle:
            self._lib.SPECT_DestroySpectrograph(self.handle)
            self.handle = None

    def __enter__(self) -> "Spectrograph":
        return self

    def __exit__(self, *exc) -> None:
        self.close()

    def set_ulong(self, param: int, value: int, index: int = 0) -> None:
        """Sets an integer parameter; ValueError when the driver refuses it."""
        if not self._lib.SPECT_SetULongParam(self.handle, param, value & 0xFFFFFFFF, index):
            raise ValueError(f"parameter {param} cannot be set")

    def get_ulong(self, param: int, index: int = 0, signed: bool = False) -> int:
        """Reads an integer parameter (`signed`: as a signed 32-bit number)."""
        value = _U32()
        if not self._lib.SPECT_GetULongParam(self.handle, param, ctypes.byref(value), index):
            raise ValueError(f"parameter {param} cannot be read")
        v = value.value
        return v - (1 << 32) if signed and v >= 1 << 31 else v

    def set_double(self, param: int, value: float, index: int = 0) -> None:
        """Sets a real parameter; ValueError when the driver refuses it."""
        if not self._lib.SPECT_SetDblParam(self.handle, param, value, index):
            raise ValueError(f"parameter {param} cannot be set")

    def get_double(self, param: int, index: int = 0) -> float:
        """Reads a real parameter."""
        value = ctypes.c_double()
        if not self._lib.SPECT_GetDblParam(self.handle, param, ctypes.byref(value), index):
            raise ValueError(f"parameter {param} cannot be read")
        return value.value

    def enum_text(self, param: int, value: int) -> str:
        """The text of an enumerated parameter's value ("TRIAX 320")."""
        buffer = ctypes.create_string_buffer(64)
        if not self._lib.SPECT_GetEnumString(self.handle, param, value, buffer, 64):
            raise ValueError(f"no text for value {value} of parameter {param}")
        return buffer.value.decode()

    def process(self, operation: int, what: Optional[str] = None) -> None:
        """Runs an operation; raises OperationFailed, naming `what`, when the driver reports
        error code 11."""
        if not self._lib.SPECT_Process(self.handle, operation):
            raise ValueError(f"unknown operation {operation}")
        if self.get_ulong(SPECT_PARAMETERS.SPECT_PARAM_ERROR_CODE) == SPECT_ERRORS.SPECT_ERR_FAILED:
            what = what or f"operation {int(operation)}"
            if operation == SPECT_OPERATIONS.SPECT_OP_INITIALIZE:
                raise OperationFailed(f"{what} failed: no answer from the controller: check "
                                      "that it is switched on and connected, the cable, the "
                                      "baud rate and the model")
            raise OperationFailed(f"{what} failed: {_NO_ANSWER}")

    def _run_with(self, settings: Sequence[tuple], operation: int, what: str) -> None:
        """Sets the inputs (param, value, index, is_double), runs the operation and, when it
        fails, puts the inputs back as they were, so that the instance is left unchanged."""
        saved = []
        for param, value, index, is_double in settings:
            if is_double:
                saved.append((param, self.get_double(param, index), index, True))
                self.set_double(param, value, index)
            else:
                saved.append((param, self.get_ulong(param, index), index, False))
                self.set_ulong(param, value, index)
        try:
            self.process(operation, what)
        except OperationFailed:
            for param, value, index, is_double in saved:
                (self.set_double if is_double else self.set_ulong)(param, value, index)
            raise

    def initialize(self) -> None:
        """Start-up handshake, then the gratings (with their grooves), position and speeds,
        then the slits."""
        self.process(SPECT_OPERATIONS.SPECT_OP_INITIALIZE, "the start-up handshake")
        self.process(SPECT_OPERATIONS.SPECT_OP_REFRESH_ALL, "reading the gratings and position")
        reference = self.get_ulong(SPECT_PARAMETERS.SPECT_PARAM_REFERENCE_GROOVES)
        steps = self.get_double(SPECT_PARAMETERS.SPECT_PARAM_DEFAULT_STEPS_PER_NM)
        for index, grooves in enumerate(self.grooves):
            self.set_double(SPECT_PARAMETERS.SPECT_PARAM_GROOVE_DENSITY, grooves, index)
            self.set_double(SPECT_PARAMETERS.SPECT_PARAM_STEPS_PER_NM,
                            steps * grooves / reference, index)
        self.process(SPECT_OPERATIONS.SPECT_OP_FIND_SLITS, "finding the slits")

    def wait_until_ready(self, limit: Optional[float] = None, what: str = "the move") -> None:
        """Polls the busy query until the controller is ready; raises MoveTimedOut when it is
        still busy after `limit` seconds (the model's default), OperationFailed when it
        reports an error. Returns at once for a simulated instance (no controller)."""
        if self.simulated:
            return
        limit = self.wait_limit if limit is None else limit
        start = time.monotonic()
        while True:
            status = self.busy()
            if status == SPECT_BUSY_STATUS.SPECT_BUSY_READY:
                return
            if status in (SPECT_BUSY_STATUS.SPECT_BUSY_ERROR, SPECT_BUSY_STATUS.SPECT_BUSY_HELD):
                raise OperationFailed(f"{what} failed: the controller reports {status.name}")
            if time.monotonic() - start > limit:
                raise MoveTimedOut(f"{what} did not end within {limit:g} s: the controller "
                                   "still reports busy")
            time.sleep(0.05)

    def _decimals(self) -> int:
        return min(max(self.get_ulong(SPECT_PARAMETERS.SPECT_PARAM_WAVELENGTH_DECIMALS), 0), 6)

    def move_to(self, nanometres: float, wait: bool = True) -> Optional[float]:
        """Moves the grating drive to a wavelength in nm; returns where it went, read back
        (None with wait=False or when simulated)."""
        target = _check("moving", nanometres, LIMITS["wavelength"], "a wavelength in nm")
        what = f"moving to {target:.{self._decimals()}f} nm"
        self._run_with([(SPECT_PARAMETERS.SPECT_PARAM_TARGET_WAVELENGTH, target, 0, True)],
                       SPECT_OPERATIONS.SPECT_OP_MOVE_TO_WAVELENGTH, what)
        if not wait or self.simulated:
            return None
        self.wait_until_ready(what=what)
        return self.position()["wavelength"]

    def select_grating(self, number: int, wait: bool = True) -> None:
        """Selects grating `number` (1-based)."""
        what = f"selecting grating {number}"
        if isinstance(number, bool) or not isinstance(number, int):
            raise ValueError(f"selecting grating {number!r} failed: not a whole number")
        if not 1 <= number <= self.gratings:
            raise ValueError(f"{what} failed: the {self.title} has gratings 1-{self.gratings}")
        self._run_with([(SPECT_PARAMETERS.SPECT_PARAM_GRATING, number - 1, 0, False)],
                       SPECT_OPERATIONS.SPECT_OP_SELECT_GRATING, what)
        if wait:
            self.wait_until_ready(what=what)

    def move_slit(self, location: int, millimetres: float, wait: bool = True) -> None:
        """Moves the slit at `location` (SLITLOCATIONS, 0-3) to a width in mm."""
        what = f"moving the slit {location}"
        if location not in _SLIT_NAMES:
            raise ValueError(f"{what} failed: {location!r} is not a slit location 0-3")
        width = _check(what, millimetres, LIMITS["slit_width"], "a width in mm")
        self._run_with([(SPECT_PARAMETERS.SPECT_PARAM_TARGET_SLIT_LOCATION, int(location), 0, False),
                        (SPECT_PARAMETERS.SPECT_PARAM_TARGET_SLIT_WIDTH, width, 0, True)],
                       SPECT_OPERATIONS.SPECT_OP_MOVE_SLIT,
                       f"moving the {_SLIT_NAMES[int(location)]} slit to {width:.2f} mm")
        if wait:
            self.wait_until_ready(what=what)

    def set_mirror(self, location: int, position: int, wait: bool = True) -> None:
        """Switches the mirror at `location` (1 entrance, 2 exit) to `position` (1 front,
        2 side)."""
        what = f"switching mirror {location}"
        if location not in (1, 2) or position not in (1, 2):
            raise ValueError(f"{what} failed: mirror location and position are 1 or 2")
        self._run_with([(SPECT_PARAMETERS.SPECT_PARAM_TARGET_MIRROR_LOCATION, int(location), 0, False),
                        (SPECT_PARAMETERS.SPECT_PARAM_TARGET_MIRROR_POSITION, int(position), 0, False)],
                       SPECT_OPERATIONS.SPECT_OP_SET_MIRROR, what)
        if wait:
            self.wait_until_ready(what=what)

    def reinitialize(self, wait: bool = True) -> None:
        """Re-initialises the mechanics; waits up to REINIT_LIMIT (a real instrument takes
        60 to 200 s)."""
        self.process(SPECT_OPERATIONS.SPECT_OP_REINITIALIZE, "the re-initialisation")
        if wait:
            self.wait_until_ready(max(REINIT_LIMIT, self.wait_limit), "the re-initialisation")

    def stop(self) -> Optional[float]:
        """Stops the motors, waits for them and returns where the drive stopped (nm; None when
        simulated)."""
        self.process(SPECT_OPERATIONS.SPECT_OP_SEND_L, "the stop")
        if self.simulated:
            return None
        self.wait_until_ready(what="the stop")
        return self.position()["wavelength"]

    def speeds(self) -> Tuple[int, int, int]:
        """The wavelength motor's speed values: minimum, maximum frequency, ramp time."""
        self.process(SPECT_OPERATIONS.SPECT_OP_READ_SPEEDS, "reading the speeds")
        return tuple(int(self.get_double(SPECT_PARAMETERS.SPECT_PARAM_SPEEDS, i))
                     for i in range(3))

    def set_speeds(self, minimum: float, maximum: float, ramp: float) -> Tuple[int, int, int]:
        """Sets the three speed values (the controller keeps them within 100-80000 and
        100-65535); returns the values it took, read back."""
        values = [_check("setting the speeds", v, LIMITS["speed"], "a speed")
                  for v in (minimum, maximum, ramp)]
        if values[0] > values[1]:
            raise ValueError("setting the speeds failed: the minimum speed is above the maximum")
        self._run_with([(SPECT_PARAMETERS.SPECT_PARAM_SPEEDS, v, i, True)
                        for i, v in enumerate(values)],
                       SPECT_OPERATIONS.SPECT_OP_SET_SPEEDS, "setting the speeds")
        return self.speeds()

    def position(self) -> dict:
        """Reads the grating, wavelength and slit widths: a dict."""
        self.process(SPECT_OPERATIONS.SPECT_OP_READ_POSITION, "reading the position")
        slits = {}
        for i in range(self.get_ulong(SPECT_PARAMETERS.SPECT_PARAM_SLIT_COUNT)):
            location = SLITLOCATIONS(self.get_ulong(SPECT_PARAMETERS.SPECT_PARAM_SLIT_LOCATION, i))
            slits[location] = self.get_double(SPECT_PARAMETERS.SPECT_PARAM_SLIT_WIDTH, i)
        try:
            grating = self.get_ulong(SPECT_PARAMETERS.SPECT_PARAM_CURRENT_GRATING)
        except ValueError:
            grating = None
        return {"grating": grating,
                "wavelength": self.get_double(SPECT_PARAMETERS.SPECT_PARAM_WAVELENGTH),
                "slits": slits}

    def busy(self) -> SPECT_BUSY_STATUS:
        """The busy query's result, a SPECT_BUSY_STATUS value."""
        self.process(SPECT_OPERATIONS.SPECT_OP_READ_BUSY_STATUS, "the busy query")
        return SPECT_BUSY_STATUS(self.get_ulong(SPECT_PARAMETERS.SPECT_PARAM_BUSY_STATUS,
                                                signed=True))

    def scan(self, start: float, stop: float, step: float,
             dwell: float = 0.0) -> Iterator[Tuple[float, float, datetime.datetime]]:
        """Moves to start, start+step, ... stop in turn, each approached from below (so that
        gear backlash shifts no step), waits `dwell` s there and yields (target, position read
        back, time in UTC). Stops at the first failure (OperationFailed)."""
        start = _check("scanning", start, LIMITS["wavelength"], "a wavelength in nm")
        stop = _check("scanning", stop, LIMITS["wavelength"], "a wavelength in nm")
        dwell = _check("scanning", dwell, LIMITS["dwell"], "a time in s")
        step = float(step)
        if not math.isfinite(step) or step <= 0 or abs(stop - start) / step >= MAX_SCAN_STEPS:
            raise ValueError(f"scanning failed: {step!r} is not a step in nm (above 0, at most "
                             "a million steps)")
        direction = 1.0 if stop >= start else -1.0
        count = int(math.floor(abs(stop - start) / step + 1e-9)) + 1
        at = self.position()["wavelength"]
        for i in range(count):
            target = start + direction * step * i
            if at >= target:
                self.move_to(target - APPROACH_NM)
            read_back = self.move_to(target)
            at = target if read_back is None else read_back  # simulated: no position
            if dwell:
                time.sleep(dwell)
            yield target, at, datetime.datetime.now(datetime.timezone.utc)
