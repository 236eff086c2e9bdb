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

__all__ = ["SPECTROMETERS", "MIRRORLOCATIONS", "MIRRORPOSITIONS", "SLITLOCATIONS",
           "MANUFACTURERS", "OperationFailed", "Spectrograph", "open_port", "close_port", "load"]


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


class Spectrograph:
    """One driver instance for a model, talking on an open port."""

    def __init__(self, model, port=0, simulate=False):
        self._lib = load()
        self.handle = self._lib.SPECT_CreateSpectrograph(int(model))
        if not self.handle:
            raise MemoryError("the driver could not create an instance")
        self.set_ulong(146, port)
        self.set_ulong(148, 1 if simulate else 0)

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
        if self.get_ulong(173) == 11:
            raise OperationFailed(f"operation {operation} failed (error code 11)")

    def initialize(self):
        """Start-up handshake, then the gratings, position and speeds, then the slits."""
        for operation in (4, 9, 10):
            self.process(operation)

    def move_to(self, nanometres):
        self.set_double(168, nanometres)
        self.process(0)

    def select_grating(self, number):
        """Selects grating `number` (1-based)."""
        self.set_ulong(169, number - 1)
        self.process(12)

    def move_slit(self, location, millimetres):
        self.set_ulong(170, int(location))
        self.set_double(171, millimetres)
        self.process(1)

    def set_mirror(self, location, position):
        self.set_ulong(165, int(location))
        self.set_ulong(166, int(position))
        self.process(2)

    def position(self):
        """Reads the grating, wavelength and slit widths: a dict."""
        self.process(8)
        slits = {}
        for i in range(self.get_ulong(158)):
            slits[SLITLOCATIONS(self.get_ulong(159, i))] = self.get_double(160, i)
        try:
            grating = self.get_ulong(152)
        except ValueError:
            grating = None
        return {"grating": grating, "wavelength": self.get_double(154), "slits": slits}

    def busy(self):
        self.process(11)
        return self.get_ulong(172, signed=True)
