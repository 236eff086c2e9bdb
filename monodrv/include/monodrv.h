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
    int32_t kind;  /* 1 integer, 4 real, 9 enumerated, 11 parameter 26 */
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

SPECT_HANDLE MONODRV_CALL SPECT_CreateSpectrograph(int16_t model);
unsigned char MONODRV_CALL SPECT_DestroySpectrograph(SPECT_HANDLE handle);
unsigned char MONODRV_CALL SPECT_IsAvail(SPECT_HANDLE handle, uint32_t param, SpectAvailInfo* info);
unsigned char MONODRV_CALL SPECT_SetULongParam(SPECT_HANDLE handle, uint32_t param, uint32_t value,
                                               int16_t index);
unsigned char MONODRV_CALL SPECT_GetULongParam(SPECT_HANDLE handle, uint32_t param, uint32_t* value,
                                               int16_t index);
unsigned char MONODRV_CALL SPECT_SetDblParam(SPECT_HANDLE handle, uint32_t param, double value,
                                             int16_t index);
unsigned char MONODRV_CALL SPECT_GetDblParam(SPECT_HANDLE handle, uint32_t param, double* value,
                                             int16_t index);
unsigned char MONODRV_CALL SPECT_SetStrParam(SPECT_HANDLE handle, uint32_t param, const char* text,
                                             int16_t index);
unsigned char MONODRV_CALL SPECT_GetStrParam(SPECT_HANDLE handle, uint32_t param, char* buffer,
                                             int16_t size, int16_t index);
unsigned char MONODRV_CALL SPECT_GetEnumParam(SPECT_HANDLE handle, uint32_t param, uint32_t index,
                                              uint32_t* value);
unsigned char MONODRV_CALL SPECT_GetEnumString(SPECT_HANDLE handle, uint32_t param, uint32_t value,
                                               char* buffer, int16_t size);
unsigned char MONODRV_CALL SPECT_Process(SPECT_HANDLE handle, uint32_t operation);
unsigned char MONODRV_CALL SPECT_GetResource(uint32_t id, char* buffer, int32_t size);

#ifdef __cplusplus
}
#endif

#endif /* MONODRV_H */
