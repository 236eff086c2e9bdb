"""Scripting access to the Monodrv spectrograph driver (libmonodrv.so) with ctypes.

    import monodrv
    port = monodrv.open_port("/dev/ttyUSB0")            # through libtelx32.so
    with monodrv.Spectrograph(monodrv.SPECTROMETERS.TRIAX_320, port) as s:
        s.initialize()                                    # handshake, gratings, slits
        s.move_to(500.0)
        print(s.position())

Operations that the driver reports as failed (error code 11) raise OperationFailed.
Standard library only.
"""
import ctypes
import enum
import os
import time

__all__ = ["SPECTROMETERS", "MIRRORLOCATIONS", "MIRRORPOSITIONS", "SLITLOCATIONS",
           "MANUFACTURERS", "SPECT_PARAMETERS", "SPECT_OPERATIONS", "SPECT_ERRORS",
           "SPECT_BUSY_STATUS", "SPECT_PORT_STATES", "SPECT_STATUS_BITS", "SPECT_AVAIL_KINDS", "OperationFailed", "Spectrograph", "open_port", "close_port", "load"]


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


class OperationFailed(RuntimeError):
    """The driver reported error code 11 for an operation."""


class SpectAvailInfo(ctypes.Structure):
    _fields_ = [("count", ctypes.c_int32), ("kind", ctypes.c_int32), ("spare1", ctypes.c_double),
                ("spare2", ctypes.c_double), ("value1", ctypes.c_double),
                ("value2", ctypes.c_double), ("spare3", ctypes.c_double)]


_lib = None
_telx = None
_H = ctypes.c_void_p
_U8, _U32, _I16, _I32 = ctypes.c_ubyte, ctypes.c_uint32, ctypes.c_int16, ctypes.c_int32


def load(folder=None):
    """Loads libmonodrv.so.1 and libtelx32.so (from `folder`, $MONODRV_LIB or the default
    search path, where an installed driver lies) and declares the exports' argument types.
    The driver is loaded by its SONAME: the unversioned name exists only with the
    development files."""
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
    telx = ctypes.CDLL(path("libtelx32.so"))
    telx.TELX_Create_physical_port_ex.restype = _U32
    telx.TELX_Create_physical_port_ex.argtypes = [ctypes.c_char_p, _I32]
    telx.TELX_Destroy.argtypes = [_U32]
    _lib, _telx = lib, telx
    return lib


def open_port(name, baud=19200):
    """Opens a port by name through the port library; returns its handle."""
    load()
    handle = _telx.TELX_Create_physical_port_ex(name.encode(), baud)
    if not handle:
        raise OSError(f"cannot open the port {name}")
    return handle


def close_port(handle):
    load()
    _telx.TELX_Destroy(handle)


# How long a move may keep the controller busy, per model (seconds): a wavelength drive
# across the whole range at the slowest speed, or a grating turret's turn, with room.
WAIT_LIMITS = {0: 120.0, 1: 60.0, 2: 60.0, 3: 90.0, 4: 120.0}


class MoveTimedOut(OperationFailed):
    """The controller still reported busy when the wait limit ran out."""


class Spectrograph:
    """One driver instance for a model, talking on an open port. Moves (move_to,
    select_grating, move_slit, set_mirror, reinitialize) return when the controller is no
    longer busy; wait=False returns when it has taken the command."""

    def __init__(self, model, port=0, simulate=False, wait_limit=None):
        self.simulated = simulate
        self.wait_limit = WAIT_LIMITS.get(int(model), 60.0) if wait_limit is None else wait_limit
        self._lib = load()
        self.handle = self._lib.SPECT_CreateSpectrograph(int(model))
        if not self.handle:
            raise MemoryError("the driver could not create an instance")
        self.set_ulong(SPECT_PARAMETERS.SPECT_PARAM_PORT_HANDLE, port)
        self.set_ulong(SPECT_PARAMETERS.SPECT_PARAM_SIMULATION, 1 if simulate else 0)

    def close(self):
        if self.handle:
            self._lib.SPECT_DestroySpectrograph(self.handle)
            self.handle = None

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def set_ulong(self, param, value, index=0):
        if not self._lib.SPECT_SetULongParam(self.handle, param, value & 0xFFFFFFFF, index):
            raise ValueError(f"parameter {param} cannot be set")

    def get_ulong(self, param, index=0, signed=False):
        value = _U32()
        if not self._lib.SPECT_GetULongParam(self.handle, param, ctypes.byref(value), index):
            raise ValueError(f"parameter {param} cannot be read")
        v = value.value
        return v - (1 << 32) if signed and v >= 1 << 31 else v

    def set_double(self, param, value, index=0):
        if not self._lib.SPECT_SetDblParam(self.handle, param, value, index):
            raise ValueError(f"parameter {param} cannot be set")

    def get_double(self, param, index=0):
        value = ctypes.c_double()
        if not self._lib.SPECT_GetDblParam(self.handle, param, ctypes.byref(value), index):
            raise ValueError(f"parameter {param} cannot be read")
        return value.value

    def enum_text(self, param, value):
        buffer = ctypes.create_string_buffer(64)
        if not self._lib.SPECT_GetEnumString(self.handle, param, value, buffer, 64):
            raise ValueError(f"no text for value {value} of parameter {param}")
        return buffer.value.decode()

    def process(self, operation):
        """Runs an operation; raises OperationFailed when the driver reports error code 11."""
        if not self._lib.SPECT_Process(self.handle, operation):
            raise ValueError(f"unknown operation {operation}")
        if self.get_ulong(SPECT_PARAMETERS.SPECT_PARAM_ERROR_CODE) == SPECT_ERRORS.SPECT_ERR_FAILED:
            raise OperationFailed(f"operation {operation} failed (error code {int(SPECT_ERRORS.SPECT_ERR_FAILED)})")

    def initialize(self):
        """Start-up handshake, then the gratings, position and speeds, then the slits."""
        for operation in (SPECT_OPERATIONS.SPECT_OP_INITIALIZE, SPECT_OPERATIONS.SPECT_OP_REFRESH_ALL,
                          SPECT_OPERATIONS.SPECT_OP_FIND_SLITS):
            self.process(operation)

    def wait_until_ready(self, limit=None):
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
                raise OperationFailed(f"the controller reports {status.name}")
            if time.monotonic() - start > limit:
                raise MoveTimedOut(f"the move did not end within {limit:g} s: the controller "
                                   "still reports busy")
            time.sleep(0.05)

    def _move(self, operation, wait):
        self.process(operation)
        if wait:
            self.wait_until_ready()

    def move_to(self, nanometres, wait=True):
        self.set_double(SPECT_PARAMETERS.SPECT_PARAM_TARGET_WAVELENGTH, nanometres)
        self._move(SPECT_OPERATIONS.SPECT_OP_MOVE_TO_WAVELENGTH, wait)

    def select_grating(self, number, wait=True):
        """Selects grating `number` (1-based)."""
        self.set_ulong(SPECT_PARAMETERS.SPECT_PARAM_GRATING, number - 1)
        self._move(SPECT_OPERATIONS.SPECT_OP_SELECT_GRATING, wait)

    def move_slit(self, location, millimetres, wait=True):
        self.set_ulong(SPECT_PARAMETERS.SPECT_PARAM_TARGET_SLIT_LOCATION, int(location))
        self.set_double(SPECT_PARAMETERS.SPECT_PARAM_TARGET_SLIT_WIDTH, millimetres)
        self._move(SPECT_OPERATIONS.SPECT_OP_MOVE_SLIT, wait)

    def set_mirror(self, location, position, wait=True):
        self.set_ulong(SPECT_PARAMETERS.SPECT_PARAM_TARGET_MIRROR_LOCATION, int(location))
        self.set_ulong(SPECT_PARAMETERS.SPECT_PARAM_TARGET_MIRROR_POSITION, int(position))
        self._move(SPECT_OPERATIONS.SPECT_OP_SET_MIRROR, wait)

    def reinitialize(self, wait=True):
        """Re-initialises the mechanics."""
        self._move(SPECT_OPERATIONS.SPECT_OP_REINITIALIZE, wait)

    def position(self):
        """Reads the grating, wavelength and slit widths: a dict."""
        self.process(SPECT_OPERATIONS.SPECT_OP_READ_POSITION)
        slits = {}
        for i in range(self.get_ulong(SPECT_PARAMETERS.SPECT_PARAM_SLIT_COUNT)):
            location = SLITLOCATIONS(self.get_ulong(SPECT_PARAMETERS.SPECT_PARAM_SLIT_LOCATION, i))
            slits[location] = self.get_double(SPECT_PARAMETERS.SPECT_PARAM_SLIT_WIDTH, i)
        try:
            grating = self.get_ulong(SPECT_PARAMETERS.SPECT_PARAM_CURRENT_GRATING)
        except ValueError:
            grating = None
        return {"grating": grating, "wavelength": self.get_double(SPECT_PARAMETERS.SPECT_PARAM_WAVELENGTH), "slits": slits}

    def busy(self):
        """The busy query's result, a SPECT_BUSY_STATUS value."""
        self.process(SPECT_OPERATIONS.SPECT_OP_READ_BUSY_STATUS)
        return SPECT_BUSY_STATUS(self.get_ulong(SPECT_PARAMETERS.SPECT_PARAM_BUSY_STATUS, signed=True))
