/* The public header compiles as strict C99 and every export can be called from C. */
#include "monodrv.h"

#include <stddef.h>
#include <stdio.h>
#include <string.h>

typedef char size_is_48[sizeof(SpectAvailInfo) == 48 ? 1 : -1];
typedef char value1_at_24[offsetof(SpectAvailInfo, value1) == 24 ? 1 : -1];
typedef char spare3_at_40[offsetof(SpectAvailInfo, spare3) == 40 ? 1 : -1];

static int failures = 0;

static void check(int condition, const char* what) {
    if (!condition) {
        printf("FAILED: %s\n", what);
        ++failures;
    }
}

int main(void) {
    SPECT_HANDLE h = SPECT_CreateSpectrograph(TRIAX_320);
    SpectAvailInfo info;
    uint32_t u = 0;
    double d = 0;
    char text[32];
    check(h != NULL, "create");
    check(SPECT_IsAvail(h, SPECT_PARAM_SPECTROMETER, &info) && info.count == 5 && info.kind == 9,
          "IsAvail 1");
    check(SPECT_SetULongParam(h, SPECT_PARAM_SPEED_COUNT, 7, 0) == 1, "SetULongParam");
    check(SPECT_GetULongParam(h, SPECT_PARAM_SPEED_COUNT, &u, 0) && u == 7, "GetULongParam");
    check(SPECT_SetDblParam(h, SPECT_PARAM_TARGET_WAVELENGTH, 500.0, 0) == 1, "SetDblParam");
    check(SPECT_GetDblParam(h, SPECT_PARAM_TARGET_WAVELENGTH, &d, 0) && d == 500.0, "GetDblParam");
    check(SPECT_SetStrParam(h, SPECT_PARAM_PORT_NAME, "COM1", 0) == 0, "SetStrParam");
    check(SPECT_GetStrParam(h, SPECT_PARAM_PORT_NAME, text, sizeof text, 0) &&
              strcmp(text, "COM2") == 0,
          "GetStrParam");
    check(SPECT_GetEnumParam(h, SPECT_PARAM_GROOVES, 8, &u) && u == 3600, "GetEnumParam");
    check(SPECT_GetEnumString(h, SPECT_PARAM_SPECTROMETER, TRIAX_320, text, sizeof text) &&
              strcmp(text, "TRIAX 320") == 0,
          "GetEnumString");
    check(SPECT_Process(h, SPECT_OP_NO_ACTION) == 1, "Process");
    check(SPECT_GetResource(136, text, sizeof text) && strcmp(text, "Steps/nm") == 0,
          "GetResource");
    check(SPECT_DestroySpectrograph(h) == 1, "destroy");
    check(MIR_LOC_EXIT == 2 && SLIT_LOC_SD_EXIT == 3 && MNFCTR_ID_JY == 2 && NUM_MIRROR_POS == 3,
          "enumerations");
    return failures == 0 ? 0 : 1;
}
