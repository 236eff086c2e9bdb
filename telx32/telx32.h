/* telx32: port-interface library. Opens instrument ports by name and moves bytes through
 * them. A device path (/dev/ttyUSB0, /dev/ttyS1, a pseudo-terminal) opens a serial port, a
 * character interface (kind 6) set up raw, 8N1, 19200 baud by default; "block:PATH" opens the
 * block link of a controller emulator listening on the Unix socket PATH, a block interface
 * (kind 5) whose status byte announces whole replies.
 *
 * Ports are named by opaque 32-bit handles (0 = none). Functions return 0 for failure; no
 * exception or crash crosses this interface.
 *
 * A port belongs to one process at a time (on Linux: an exclusive flock on the device and the
 * lock file LCK..NAME in /run/lock holding the owner's PID; a lock left by a process that is
 * gone is taken over). A second opener gets 0 before anything is sent, and
 * TELX_Diagnose_Interface(0, ...) then names the holder. */
#ifndef TELX32_H
#define TELX32_H

#include <stdint.h>

#if defined(_WIN32)
#define TELX_CALL __stdcall
#else
#define TELX_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef uint32_t TELX_PORT;

/* TELX_GetUIParam / TELX_SetUIParam codes. */
enum {
    TELX_UI_STATUS = 9,      /* block interface status: 0x80 reply waiting, 0x01 done, 0x02 error */
    TELX_UI_RX_WAITING = 12, /* received bytes waiting */
    TELX_UI_TX_PENDING = 19, /* bytes still to be sent (0 = all sent) */
    TELX_UI_KIND = 21,       /* interface kind */
    TELX_UI_STATUS_VALID = 26, /* block interface: 1 when the status byte is valid */
    TELX_UI_BAUD = 30          /* serial baud rate (settable) */
};
enum { TELX_KIND_BLOCK = 5, TELX_KIND_CHARACTER = 6 };
/* Bits of the block interface status (TELX_UI_STATUS). */
enum { TELX_STATUS_DONE = 0x01, TELX_STATUS_ERROR = 0x02, TELX_STATUS_REPLY_WAITING = 0x80 };
/* TELX_Flush_Buffer codes. */
enum { TELX_FLUSH_OUTPUT_STATE = 2, TELX_FLUSH_INPUT = 3 };

/* Opening and closing. A failed open (0) leaves its reason for TELX_Diagnose_Interface. */
TELX_PORT TELX_CALL TELX_Create_physical_port(const char* name);
TELX_PORT TELX_CALL TELX_Create_physical_port_ex(const char* name, int32_t baud);
int32_t TELX_CALL TELX_Initialize(TELX_PORT port);
int32_t TELX_CALL TELX_Destroy(TELX_PORT port);
int32_t TELX_CALL TELX_Disable(TELX_PORT port);
int32_t TELX_CALL TELX_Reset_Interface(TELX_PORT port);
TELX_PORT TELX_CALL TELX_Get_Handle(const char* name);

/* Bytes. */
int32_t TELX_CALL TELX_Output_Multiple(TELX_PORT port, int32_t channel, const uint8_t* data,
                                       int32_t length);
int32_t TELX_CALL TELX_Input_Multiple(TELX_PORT port, int32_t channel, uint8_t* buffer,
                                      int32_t maximum);
int32_t TELX_CALL TELX_Output(TELX_PORT port, int32_t channel, int32_t value);
int32_t TELX_CALL TELX_Input(TELX_PORT port, int32_t channel);
int32_t TELX_CALL TELX_Output_Byte(TELX_PORT port, int32_t value);
int32_t TELX_CALL TELX_Input_Byte(TELX_PORT port);
int32_t TELX_CALL TELX_Special_Output(TELX_PORT port, int32_t channel, int32_t value);
int32_t TELX_CALL TELX_Flush_Buffer(TELX_PORT port, int32_t code);
int32_t TELX_CALL TELX_Wait_for_response(TELX_PORT port, int32_t milliseconds);
int32_t TELX_CALL TELX_Set_timeout(TELX_PORT port, int32_t milliseconds);

/* Parameters and the per-port user-data word. */
int32_t TELX_CALL TELX_GetUIParam(TELX_PORT port, int32_t code, int32_t* value);
int32_t TELX_CALL TELX_SetUIParam(TELX_PORT port, int32_t code, int32_t value);
int32_t TELX_CALL TELX_SetUserData(TELX_PORT port, uint32_t value);
uint32_t TELX_CALL TELX_GetUserData(TELX_PORT port);
int32_t TELX_CALL TELX_SetLongParam(TELX_PORT port, int32_t code, int32_t value);
int32_t TELX_CALL TELX_GetLongParam(TELX_PORT port, int32_t code, int32_t* value);
int32_t TELX_CALL TELX_SetDoubleParam(TELX_PORT port, int32_t code, double value);
int32_t TELX_CALL TELX_GetDoubleParam(TELX_PORT port, int32_t code, double* value);
int32_t TELX_CALL TELX_IsAvail(TELX_PORT port, int32_t code);
int32_t TELX_CALL TELX_GetEnumParam(TELX_PORT port, int32_t code, int32_t index, int32_t* value);
int32_t TELX_CALL TELX_Set_device_name(TELX_PORT port, const char* name);
int32_t TELX_CALL TELX_Get_device_name(TELX_PORT port, char* buffer, int32_t size);
int32_t TELX_CALL TELX_Get_classname(TELX_PORT port, char* buffer, int32_t size);
int32_t TELX_CALL TELX_Set_device_secondaddress(TELX_PORT port, int32_t address);
int32_t TELX_CALL TELX_Get_device_secondaddress(TELX_PORT port);
int32_t TELX_CALL TELX_Set_UseWinDefaults(TELX_PORT port, int32_t use);
int32_t TELX_CALL TELX_Get_UseWinDefaults(TELX_PORT port);
int32_t TELX_CALL TELX_Get_DLLVersionString(char* buffer, int32_t size);
int32_t TELX_CALL TELX_Get_DLLVersion(void);
/* With port 0: why the calling thread's last open failed ("/dev/ttyUSB0 is in use by
 * monodrv-ctl (PID 4711)"); with an open port: its kind, name and baud rate. Writes at most
 * `size` bytes, always terminated; 0 when there is nothing to say. */
int32_t TELX_CALL TELX_Diagnose_Interface(TELX_PORT port, char* buffer, int32_t size);

/* Functions of interface hardware this library does not drive: they report failure. */
int32_t TELX_CALL TELX_Enable_DMA_Communication(TELX_PORT port, int32_t enable);
int32_t TELX_CALL TELX_Find_IOaddress(TELX_PORT port);
int32_t TELX_CALL TELX_Disable_Taxi(TELX_PORT port);
int32_t TELX_CALL TELX_Check_taxi_link(TELX_PORT port);
int32_t TELX_CALL TELX_Get_Ptrs(TELX_PORT port, void** input, void** output);
int32_t TELX_CALL TELX_Get_Outptr(TELX_PORT port, void** output);
int32_t TELX_CALL TELX_Mail_Read(TELX_PORT port, uint8_t* buffer, int32_t size);
int32_t TELX_CALL TELX_DownLoad_PhyAdd(TELX_PORT port, int32_t address);
int32_t TELX_CALL TELX_UpLoad_PhyAdd(TELX_PORT port, int32_t* address);
int32_t TELX_CALL TELX_SetorClr_WP(TELX_PORT port, int32_t set);
int32_t TELX_CALL TELX_InitializeInterrupt(TELX_PORT port);
int32_t TELX_CALL TELX_RestoreInterrupt(TELX_PORT port);
int32_t TELX_CALL TELX_Write_NvRamInfo(TELX_PORT port, const uint8_t* data, int32_t size);
int32_t TELX_CALL TELX_Read_NvRamInfo(TELX_PORT port, uint8_t* data, int32_t size);

#ifdef __cplusplus
}
#endif

#endif /* TELX32_H */
