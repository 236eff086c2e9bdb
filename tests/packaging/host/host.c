/* A host built against the installed driver, as a user builds one: it includes monodrv.h,
 * links libmonodrv and prints "ok" only when an instance answers as the header documents.
 * Anything else on its output (such as the driver's message that it found no port library
 * beside itself) makes the install check fail. */
#include <monodrv.h>
#include <stdio.h>
#include <string.h>

static int check(int condition, const char* what) {
    if (!condition) printf("FAILED: %s\n", what);
    return condition ? 0 : 1;
}

int main(void) {
    char text[32] = "";
    uint32_t value = 0;
    int failures = 0;
    SPECT_HANDLE h = SPECT_CreateSpectrograph(TRIAX_320);
    failures += check(h != NULL, "SPECT_CreateSpectrograph");
    failures += check(
        SPECT_GetEnumString(h, 1, TRIAX_320, text, sizeof text) && strcmp(text, "TRIAX 320") == 0,
        "SPECT_GetEnumString");
    failures += check(SPECT_GetResource(136, text, sizeof text) && strcmp(text, "Steps/nm") == 0,
                      "SPECT_GetResource");
    failures += check(SPECT_GetEnumParam(h, 112, 8, &value) && value == 3600, "SPECT_GetEnumParam");
    failures += check(SPECT_DestroySpectrograph(h) != 0, "SPECT_DestroySpectrograph");
    if (failures == 0) printf("ok\n");
    return failures == 0 ? 0 : 1;
}
