/* move: a C host of the driver, as a lab writes one. It opens the spectrograph's port with
 * the port library (which takes the port for this program), hands it to a driver instance,
 * greets the controller, moves to a wavelength, waits until the motor is at rest and prints
 * where the instrument went.
 *
 *   cc move.c $(pkg-config --cflags --libs monodrv) -ltelx32 -o move
 *   ./move /dev/ttyUSB0 500          (a TRIAX 320; see SPECTROMETERS for the others) */
#define _POSIX_C_SOURCE 200809L /* nanosleep */
#include <monodrv.h>
#include <stdio.h>
#include <stdlib.h>
#include <telx32.h>
#include <time.h>

/* Runs an operation; 0 when the driver reports it failed (error code 11). */
static int run(SPECT_HANDLE h, uint32_t operation, const char* what) {
    uint32_t error = 0;
    if (SPECT_Process(h, operation) && SPECT_GetULongParam(h, SPECT_PARAM_ERROR_CODE, &error, 0) &&
        error == SPECT_ERR_NONE)
        return 1;
    fprintf(stderr, "move: %s failed\n", what);
    return 0;
}

/* Polls the busy query until the controller is ready, for at most `seconds`. */
static int wait_until_ready(SPECT_HANDLE h, int seconds) {
    const struct timespec poll = {0, 50 * 1000 * 1000};
    for (int i = 0; i < seconds * 20; ++i) {
        uint32_t status = 0;
        if (!run(h, SPECT_OP_READ_BUSY_STATUS, "the busy query")) return 0;
        SPECT_GetULongParam(h, SPECT_PARAM_BUSY_STATUS, &status, 0);
        if ((int32_t)status == SPECT_BUSY_READY) return 1;
        if ((int32_t)status != SPECT_BUSY_BUSY) break;
        nanosleep(&poll, NULL);
    }
    fprintf(stderr, "move: the move did not end\n");
    return 0;
}

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: move PORT NANOMETRES\n");
        return 2;
    }
    const TELX_PORT port = TELX_Create_physical_port(argv[1]);
    if (!port) {
        char reason[256] = "";
        TELX_Diagnose_Interface(0, reason, sizeof reason);
        fprintf(stderr, "move: %s\n", reason);
        return 1;
    }
    SPECT_HANDLE h = SPECT_CreateSpectrograph(TRIAX_320);
    double wavelength = 0;
    int ok = h != NULL && SPECT_SetULongParam(h, SPECT_PARAM_PORT_HANDLE, port, 0) &&
             run(h, SPECT_OP_INITIALIZE, "the start-up handshake") &&
             run(h, SPECT_OP_REFRESH_ALL, "reading the gratings") &&
             SPECT_SetDblParam(h, SPECT_PARAM_TARGET_WAVELENGTH, atof(argv[2]), 0) &&
             run(h, SPECT_OP_MOVE_TO_WAVELENGTH, "the move") && wait_until_ready(h, 120) &&
             run(h, SPECT_OP_READ_POSITION, "reading the position") &&
             SPECT_GetDblParam(h, SPECT_PARAM_WAVELENGTH, &wavelength, 0);
    if (ok) printf("at %.3f nm\n", wavelength);
    SPECT_DestroySpectrograph(h);
    TELX_Destroy(port);
    return ok ? 0 : 1;
}
