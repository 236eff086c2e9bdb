/* Monodrv: driver library for Spex 270M, TRIAX 180/190/320 and Spex232 scanning
 * spectrographs.
 *
 * A host creates an instance for a model, reads and writes its settings by parameter number,
 * asks which parameters and enumerated values exist, and starts operations with
 * SPECT_Process. Every function returns a success byte (0 = failure) unless stated; a null
 * handle is accepted everywhere. Usable from C (C99) and C++; the sizes of all types are the
 * same on 32-bit Windows and 64-bit Linux. */
#ifndef MONODRV_H
#define MONODRV_H

#include <stdint.h>

#if defined(_WIN32)
#define MONODRV_CALL __stdcall
#else
#define MONODRV_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Opaque handle of a spectrograph instance. */
typedef void* SPECT_HANDLE;

/* Availability record filled by SPECT_IsAvail: 48 bytes, little-endian, no gaps. */
typedef struct SpectAvailInfo {
    int32_t count; /* 1, or the number of values of an enumerated parameter */
    int32_t kind;  /* a SPECT_AVAIL_KINDS value */
    double spare1;
    double spare2;
    double value1;
    double value2;
    double spare3;
} SpectAvailInfo;

typedef enum SPECTROMETERS {
    SPEX_270M = 0,
    TRIAX_180 = 1,
    TRIAX_190 = 2,
    TRIAX_320 = 3,
    SPEX232_RETRO = 4,
    NUM_SPECTROGRAPHS = 5
} SPECTROMETERS;

typedef enum MIRRORLOCATIONS {
    MIR_LOC_ENTRANCE = 1,
    MIR_LOC_EXIT = 2,
    NUM_MIRROR_LOCATION = 3
} MIRRORLOCATIONS;

typedef enum MIRRORPOSITIONS {
    MIR_POS_FRONT = 1,
    MIR_POS_SIDE = 2,
    NUM_MIRROR_POS = 3
} MIRRORPOSITIONS;

typedef enum SLITLOCATIONS {
    SLIT_LOC_FR_ENTR = 0,
    SLIT_LOC_SD_ENTR = 1,
    SLIT_LOC_FR_EXIT = 2,
    SLIT_LOC_SD_EXIT = 3,
    NUM_SLIT_LOCATION = 4
} SLITLOCATIONS;

typedef enum MANUFACTURERS {
    MNFCTR_ID_SPEX = 0,
    MNFCTR_ID_ISA = 1,
    MNFCTR_ID_JY = 2,
    NUM_MANUFACTURERS = 3
} MANUFACTURERS;

/* Parameter numbers of the SPECT_ parameter calls, by meaning. "Reported" parameters are only
 * stored or returned by the driver; no operation uses them. */
typedef enum SPECT_PARAMETERS {
    SPECT_PARAM_SPECTROMETER = 1, /* enumerated: the SPECTROMETERS values */
    SPECT_PARAM_MODEL = 2,        /* model number given at creation */
    SPECT_PARAM_REPORTED_11 = 11,
    SPECT_PARAM_REPORTED_12 = 12,
    SPECT_PARAM_AVAIL_26 = 26,       /* availability record only (kind 11) */
    SPECT_PARAM_GROOVE_DENSITY = 33, /* set: grooves/mm of grating `index` of the set */
    SPECT_PARAM_REPORTED_41 = 41,
    SPECT_PARAM_REPORTED_42 = 42,
    SPECT_PARAM_SPEED_COUNT = 43, /* speed operations run while above 0 */
    SPECT_PARAM_SPEEDS = 44,      /* index 0 min. freq., 1 max. freq., 2 ramp (ms) */
    SPECT_PARAM_SPEED_LOWER = 45,
    SPECT_PARAM_SPEED_UPPER = 46,
    SPECT_PARAM_STEPS_PER_NM = 48, /* of grating `index` of the set */
    SPECT_PARAM_REPORTED_61 = 61,
    SPECT_PARAM_SLIT_SPEED_COUNT = 62,
    SPECT_PARAM_SLIT_SPEEDS = 63,
    SPECT_PARAM_SLIT_SPEED_LOWER = 64,
    SPECT_PARAM_SLIT_SPEED_UPPER = 65,
    SPECT_PARAM_SLIT_STEPS_PER_MM = 66,
    SPECT_PARAM_REPORTED_76 = 76,
    SPECT_PARAM_REPORTED_77 = 77,
    SPECT_PARAM_REPORTED_78 = 78,
    SPECT_PARAM_REPORTED_79 = 79,
    SPECT_PARAM_REPORTED_80 = 80,
    SPECT_PARAM_FLAG_82 = 82,
    SPECT_PARAM_FLAG_83 = 83,
    SPECT_PARAM_REPORTED_84 = 84,
    SPECT_PARAM_REPORTED_85 = 85,
    SPECT_PARAM_WAVELENGTH_DECIMALS = 86,
    SPECT_PARAM_GRATINGS_PER_SET = 105,
    SPECT_PARAM_MODEL_CONSTANT_1 = 106,
    SPECT_PARAM_MODEL_CONSTANT_2 = 107,
    SPECT_PARAM_MODEL_CONSTANT_3 = 108,
    SPECT_PARAM_REPORTED_109 = 109,
    SPECT_PARAM_REFERENCE_GROOVES = 111,
    SPECT_PARAM_GROOVES = 112,       /* enumerated: the groove densities offered */
    SPECT_PARAM_GRATING_LABEL = 113, /* text "Grating n" for `index` n - 1 */
    SPECT_PARAM_DEFAULT_STEPS_PER_NM = 114,
    SPECT_PARAM_REPORTED_115 = 115,
    SPECT_PARAM_REPORTED_116 = 116,
    SPECT_PARAM_REPORTED_117 = 117,
    SPECT_PARAM_REPORTED_118 = 118,
    SPECT_PARAM_WAVELENGTH_STEP_LIMIT = 119,
    SPECT_PARAM_DEFAULT_SLIT_STEPS_PER_MM = 120,
    SPECT_PARAM_REPORTED_121 = 121,
    SPECT_PARAM_REPORTED_122 = 122,
    SPECT_PARAM_REPORTED_123 = 123,
    SPECT_PARAM_REPORTED_124 = 124,
    SPECT_PARAM_SLIT_STEP_LIMIT = 125,
    SPECT_PARAM_REPORTED_126 = 126,
    SPECT_PARAM_REPORTED_127 = 127,
    SPECT_PARAM_SLIT_WIDTH_UNIT = 128,
    SPECT_PARAM_REPORTED_129 = 129,
    SPECT_PARAM_PORT_NAME = 130,
    SPECT_PARAM_REPORTED_131 = 131,
    SPECT_PARAM_REFRESHED = 132,    /* result of the last refresh-all operation */
    SPECT_PARAM_MANUFACTURER = 143, /* index: a SPECTROMETERS value */
    SPECT_PARAM_ROUND_VALUE = 144,  /* rounded in place by SPECT_OP_ROUND_VALUE */
    SPECT_PARAM_GRATING_VALUE = 145,
    SPECT_PARAM_PORT_HANDLE = 146,
    SPECT_PARAM_SIMULATION_ALIAS = 147, /* the same flag as SPECT_PARAM_SIMULATION */
    SPECT_PARAM_SIMULATION = 148,       /* 1: operations answer from built-in values */
    SPECT_PARAM_REPORTED_149 = 149,
    SPECT_PARAM_NAMED_GRATING_SET = 150, /* 1-based set that refresh-all names */
    SPECT_PARAM_GROOVE_DENSITY_READ = 151,
    SPECT_PARAM_CURRENT_GRATING = 152, /* 1-based; fails while the grating is unknown */
    SPECT_PARAM_GRATING_NAME = 153,
    SPECT_PARAM_WAVELENGTH = 154, /* nm, as last read */
    SPECT_PARAM_UNSET_155 = 155,
    SPECT_PARAM_TEXT_156 = 156,
    SPECT_PARAM_TEXT_157 = 157,
    SPECT_PARAM_SLIT_COUNT = 158,
    SPECT_PARAM_SLIT_LOCATION = 159, /* of slit `index`: a SLITLOCATIONS value */
    SPECT_PARAM_SLIT_WIDTH = 160,    /* of slit `index`, mm */
    SPECT_PARAM_UNSET_161 = 161,
    SPECT_PARAM_MIRROR_COUNT = 162,
    SPECT_PARAM_MIRROR_LOCATION = 163, /* of mirror `index`: a MIRRORLOCATIONS value */
    SPECT_PARAM_MIRROR_POSITION = 164, /* of mirror `index`: a MIRRORPOSITIONS value */
    SPECT_PARAM_TARGET_MIRROR_LOCATION = 165,
    SPECT_PARAM_TARGET_MIRROR_POSITION = 166,
    SPECT_PARAM_ENUM_VALUE = 167,
    SPECT_PARAM_TARGET_WAVELENGTH = 168, /* nm */
    SPECT_PARAM_GRATING = 169,           /* 0-based: target of selection, updated by reads */
    SPECT_PARAM_TARGET_SLIT_LOCATION = 170,
    SPECT_PARAM_TARGET_SLIT_WIDTH = 171, /* mm */
    SPECT_PARAM_BUSY_STATUS = 172,       /* a SPECT_BUSY_STATUS value */
    SPECT_PARAM_ERROR_CODE = 173,        /* a SPECT_ERRORS value */
    SPECT_PARAM_GRATING_SET = 174,       /* 0-based, 0-8 */
    SPECT_PARAM_STORED_176 = 176,
    SPECT_PARAM_UNSET_177 = 177,
    SPECT_PARAM_CONSTANT_187 = 187,
    SPECT_PARAM_CONSTANT_192 = 192,
    SPECT_PARAM_CONSTANT_193 = 193,
    SPECT_PARAM_CONSTANT_194 = 194,
    SPECT_PARAM_CONSTANT_195 = 195,
    SPECT_PARAM_SPEED_UNITS = 198,
    SPECT_PARAM_SPEED_NAMES = 199,
    SPECT_PARAM_SLIT_SPEED_UNIT = 200,
    SPECT_PARAM_SLIT_SPEED_NAME = 201,
    SPECT_PARAM_STEPS_PER_NM_UNIT = 204,
    SPECT_PARAM_STEPS_PER_MM_UNIT = 205,
    SPECT_PARAM_AVAIL_207 = 207,
    SPECT_PARAM_CONSTANT_208 = 208,
    SPECT_PARAM_STORED_210 = 210,
    SPECT_PARAM_DRIVER_VERSION = 221, /* "2.5.8.1" as text, 2050801 as a number */
    SPECT_PARAM_DRIVER_VERSION_2 = 222
} SPECT_PARAMETERS;

/* Operation numbers of SPECT_Process; the outcome is read from SPECT_PARAM_ERROR_CODE. */
typedef enum SPECT_OPERATIONS {
    SPECT_OP_MOVE_TO_WAVELENGTH = 0,
    SPECT_OP_MOVE_SLIT = 1,
    SPECT_OP_SET_MIRROR = 2,
    SPECT_OP_REINITIALIZE = 3,
    SPECT_OP_INITIALIZE = 4, /* the start-up handshake */
    SPECT_OP_ROUND_VALUE = 5,
    SPECT_OP_READ_POSITION = 8,
    SPECT_OP_REFRESH_ALL = 9,
    SPECT_OP_FIND_SLITS = 10,
    SPECT_OP_READ_BUSY_STATUS = 11,
    SPECT_OP_SELECT_GRATING = 12,
    SPECT_OP_SEND_L = 18,
    SPECT_OP_SET_SPEEDS = 24,
    SPECT_OP_NO_ACTION = 25,
    SPECT_OP_READ_SPEEDS = 26,
    SPECT_OP_READ_SLIT_SPEED = 27
} SPECT_OPERATIONS;

/* Values of SPECT_PARAM_ERROR_CODE after an operation. */
typedef enum SPECT_ERRORS { SPECT_ERR_NONE = 0, SPECT_ERR_FAILED = 11 } SPECT_ERRORS;

/* Results of the busy query (SPECT_PARAM_BUSY_STATUS, read as a signed 32-bit value). */
typedef enum SPECT_BUSY_STATUS {
    SPECT_BUSY_HELD = -3, /* the host holds the port (state word SPECT_STATE_HELD) */
    SPECT_BUSY_ERROR = -2,
    SPECT_BUSY_BUSY = -1,
    SPECT_BUSY_NOT_VALID = 0, /* a block interface's status byte was not valid */
    SPECT_BUSY_READY = 1
} SPECT_BUSY_STATUS;

/* The port's user-data word, shared by host and driver as a state word. */
typedef enum SPECT_PORT_STATES {
    SPECT_STATE_COMPLETION_PENDING = 1568, /* written by the driver after re-initialising */
    SPECT_STATE_RELEASED = 2679,           /* written by the driver */
    SPECT_STATE_ERROR_SIGNAL = 2680,       /* written by the host: one busy query gives -2 */
    SPECT_STATE_HELD = 2681                /* written by the host: busy queries give -3 */
} SPECT_PORT_STATES;

/* Bits of a block interface's status byte. */
typedef enum SPECT_STATUS_BITS {
    SPECT_STATUS_DONE = 0x01,
    SPECT_STATUS_ERROR = 0x02,
    SPECT_STATUS_REPLY_WAITING = 0x80
} SPECT_STATUS_BITS;

/* Values of SpectAvailInfo.kind. */
typedef enum SPECT_AVAIL_KINDS {
    SPECT_KIND_INTEGER = 1,
    SPECT_KIND_REAL = 4,
    SPECT_KIND_ENUMERATED = 9,
    SPECT_KIND_SPECIAL = 11 /* SPECT_PARAM_AVAIL_26 */
} SPECT_AVAIL_KINDS;

/* The exports. Every one catches everything: no exception or crash crosses this interface.
 * "Null handle" says what each does when `handle` is null; a handle must otherwise be one
 * that SPECT_CreateSpectrograph returned and SPECT_DestroySpectrograph has not freed. Index
 * and size arguments of 16 bits use their low 16 bits. The parameter exports first ask the
 * instance; when it declines (or the handle is null) they answer from a short table of
 * fallbacks (parameter 0 for the setters, 143, 187, 221 and 222 for the integer reader, 221
 * and 222 for the text reader, 1, 112, 159, 163 and 164 for the availability and
 * enumeration exports), else they fail. */

/* Creates an instance with the defaults of `model` (a SPECTROMETERS value; others get the
 * 270M's constants). Sends nothing. Returns the handle, or null when memory cannot be had. */
SPECT_HANDLE MONODRV_CALL SPECT_CreateSpectrograph(int16_t model);
/* Frees an instance. Null handle: returns 0, nothing is freed. */
unsigned char MONODRV_CALL SPECT_DestroySpectrograph(SPECT_HANDLE handle);
/* Zeroes all 48 bytes of *info, then fills it for `param` (count of values, kind, range).
 * Fails for a null `info`, and for a parameter without availability. Null handle: the
 * fallback table. */
unsigned char MONODRV_CALL SPECT_IsAvail(SPECT_HANDLE handle, uint32_t param, SpectAvailInfo* info);
/* Writes an integer parameter (cut to its storage width: one-byte and 16-bit parameters read
 * back sign-extended). Fails for a read-only or unknown parameter or a table index out of
 * range. Null handle: parameter 0 succeeds (nothing stored), others fail. */
unsigned char MONODRV_CALL SPECT_SetULongParam(SPECT_HANDLE handle, uint32_t param, uint32_t value,
                                               int16_t index);
/* Reads an integer parameter into *value (null `value`: fails). Null handle: the fallbacks
 * (143 manufacturer of model `index`, 187, 221 and 222 version numbers). */
unsigned char MONODRV_CALL SPECT_GetULongParam(SPECT_HANDLE handle, uint32_t param, uint32_t* value,
                                               int16_t index);
/* Writes a real parameter. Fails for a read-only or unknown parameter or an index out of
 * range. Null handle: parameter 0 succeeds, others fail. */
unsigned char MONODRV_CALL SPECT_SetDblParam(SPECT_HANDLE handle, uint32_t param, double value,
                                             int16_t index);
/* Reads a real parameter into *value (null `value`: fails). Null handle: parameter 0
 * succeeds without writing, others fail. */
unsigned char MONODRV_CALL SPECT_GetDblParam(SPECT_HANDLE handle, uint32_t param, double* value,
                                             int16_t index);
/* No text parameter is settable: succeeds for parameter 0 (doing nothing), fails otherwise. */
unsigned char MONODRV_CALL SPECT_SetStrParam(SPECT_HANDLE handle, uint32_t param, const char* text,
                                             int16_t index);
/* Copies a text parameter (a grating's name, the port name, the versions 221 and 222) into
 * `buffer`, writing at most `size` bytes. NOT always terminated: a text of `size` characters
 * or more fills the buffer without a terminating zero ("COM2" into 4 bytes), so pass one
 * byte more than the longest text you accept (51 covers every text) and terminate it
 * yourself. Null handle: 221 and 222 only (terminated, at most size - 1 characters). */
unsigned char MONODRV_CALL SPECT_GetStrParam(SPECT_HANDLE handle, uint32_t param, char* buffer,
                                             int16_t size, int16_t index);
/* The value of an enumerated parameter at position `index` of its list (model numbers,
 * groove densities, slit and mirror locations, mirror positions); fails past the list. */
unsigned char MONODRV_CALL SPECT_GetEnumParam(SPECT_HANDLE handle, uint32_t param, uint32_t index,
                                              uint32_t* value);
/* The text of an enumerated value ("TRIAX 320", "Front (Axial) Entrance"), copied like
 * SPECT_GetStrParam: at most `size` bytes, not terminated when the text fills them. Works
 * without a handle. */
unsigned char MONODRV_CALL SPECT_GetEnumString(SPECT_HANDLE handle, uint32_t param, uint32_t value,
                                               char* buffer, int16_t size);
/* Runs operation `operation` (SPECT_OPERATIONS) on the instance's port (parameter 146),
 * blocking until it ends (seconds at most; a move's motion goes on after it returns).
 * Returns 1 for every known operation whatever its outcome, which the host reads from
 * SPECT_PARAM_ERROR_CODE (0 success, 11 failure); 0 for an unknown number (the error code
 * then 0). Null handle: 0. Call one instance from one thread at a time. */
unsigned char MONODRV_CALL SPECT_Process(SPECT_HANDLE handle, uint32_t operation);
/* Copies the library's string resource `id` into `buffer`: at most size - 1 characters and
 * always a terminating zero. Succeeds when at least one character was copied. No handle. */
unsigned char MONODRV_CALL SPECT_GetResource(uint32_t id, char* buffer, int32_t size);

#ifdef __cplusplus
}
#endif

#endif /* MONODRV_H */
