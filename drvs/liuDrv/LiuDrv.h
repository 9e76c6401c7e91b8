/* SPDX-License-Identifier: MIT */
/*
 * libliuDrv - user-space driver for the 82V5088 8-port E1/T1/JT1 line
 * interface unit (LIU), reached over SPI through /dev/spidev0.0.
 *
 * Every register access is one 3-byte SPI frame (one SPI_IOC_MESSAGE(1)
 * request).  The LIU's registers are the only record of every port setting:
 * get operations decode them anew on each call.  The library allocates
 * nothing, starts no thread and takes no lock: callers serialise their calls,
 * and liuDrv_init() must have returned before any other call.
 *
 * Result codes of every int operation (unless stated otherwise):
 *    0  success
 *    1  a failed SPI transfer, or a refused channel selector
 *   -1  a refusal: port out of range, library not initialised, or an
 *       argument or state the operation does not accept
 * Out-parameters are written only when the result is 0.
 *
 * The host process supplies the trace facility (initTraceSet/tracePrintf,
 * declared below); libliuTrace offers one for hosts that have none.
 *
 * Choices this library makes where its contract leaves room:
 *
 *  - Failed transfer: an SPI_IOC_MESSAGE(1) request whose result is not the
 *    3 bytes asked for (a negative result included) is a failed transfer:
 *    result 1 and the error trace "<op>: SPI read failure!" (for reads and
 *    writes alike).  A failed read leaves the caller's byte untouched.
 *
 *  - Null out-pointers (liuDrv_read's value, every get operation's result
 *    pointer): refused with -1 and the error trace "<op>: null pointer
 *    argument!" before any register access (after the entry trace and port
 *    guard of per-port operations).  A null alarm buffer is accepted by
 *    liuDrv_alarmHandler: the poll runs and nothing is copied.
 *
 *  - Pulse template read-back: the LIU does not report which of its built-in
 *    pulse templates a port transmits, and its waveform sample memory holds
 *    only the user arbitrary waveform, so the samples cannot name a
 *    template.  The waveform read-out therefore reports pulse template 1
 *    (E1, symmetrical interface) after every successful read: the template
 *    every port carries after start-up on a symmetrical board, and no
 *    number made up from chip data.  What follows for the getters:
 *      - liuDrv_getLineType() returns 0 and stores LIUDRV_LINE_TYPE_E1 for
 *        every port, whatever line type was set.
 *      - liuDrv_getLineBuildOut() and liuDrv_getLineLength() return -1 with
 *        "<op>: LBO not set, pulse template: 1" or "<op>: line lenght
 *        unknown, pulse template: 1"; the caller's integer is untouched.
 *      - liuDrv_setHaulType(port, 2) works: it needs only the result of
 *        liuDrv_getLineType().
 *    The real settings are in the chip's own registers, readable with
 *    liuDrv_read() (and shown decoded by "liuctl show"): register 0x20 bit 0
 *    (T1/JT1 mode), 0x23 (pulse template code: 0x01 E1, 0x08 T1 including
 *    every build-out and line length, 0x07 JT1) and 0x32 (termination).
 *
 *  - Reference clock outputs: the port fields of global register 0x07 are
 *    3 bits wide, so liuDrv_setRefAClock/liuDrv_setRefBClock refuse a port
 *    above 7 with -1 and "<op>: portId=<port> not matching, allowed is
 *    0..7" before any register access.  Once global register 0x07 is being
 *    written, the write, both read-backs and both result traces always
 *    happen, and the result is 1 if any of those three transfers failed
 *    (0 otherwise), so a caller never sees 0 for an unconfirmed selection.
 *
 *  - Alarm readers on a failed register read: a reader returns its own
 *    mask, as if the indication were present.  A dead bus therefore shows
 *    up as every indication of every polled port at 2 in the alarm state
 *    table, with LOS, DF, TLOS and PRBS traced "  active" (AIS and EQ are
 *    stored silently behind the active LOS), besides liuDrv_read's error
 *    trace per read: a failing bus is never mistaken for a clean line.
 *
 *  - Port counts: liuDrv_init accepts any maxPorts.  Ports 8 to 15 address
 *    LIU channels 8 to 15 of the frame (the LIU answers on 0 to 7); a port
 *    above 15 addresses channel port AND 0x0F.  The alarm poll walks ports
 *    below maxPorts but never beyond the 16 rows of the alarm state table:
 *    ports 16 and above are not polled.
 *
 *  - liuDrv_isLiuConnected judges only the transfer: any value read from
 *    global register 0x04 counts as connected (the software reset bit may
 *    legitimately read back set).
 */
#ifndef LIUDRV_H
#define LIUDRV_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define LIUDRV_API __attribute__((visibility("default")))
#define LIUDRV_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define LIUDRV_API
#define LIUDRV_PRINTF(fmt, args)
#endif

/* ---- Code values ------------------------------------------------------ */

/* Result codes. */
#define LIUDRV_OK 0
#define LIUDRV_FAILED 1   /* failed SPI transfer or refused selector */
#define LIUDRV_REFUSED -1 /* refused argument or state */

/* Line type codes (liuDrv_setLineType / liuDrv_getLineType). */
#define LIUDRV_LINE_TYPE_E1 1
#define LIUDRV_LINE_TYPE_T1 2
#define LIUDRV_LINE_TYPE_JT1 3

/* Input/output type of the board's line interface (liuDrv_init). */
#define LIUDRV_INOUT_ASYMMETRICAL 1 /* E1 only */
#define LIUDRV_INOUT_SYMMETRICAL 2  /* E1, T1, JT1 */
#define LIUDRV_INOUT_NONE 255       /* initial value: every line type refused */

/* Line codes. */
#define LIUDRV_LINE_CODE_1 1
#define LIUDRV_LINE_CODE_2 2

/* Haul types. */
#define LIUDRV_HAUL_1 1
#define LIUDRV_HAUL_2 2

/* Line build-out codes 1..4 and line length codes 1..5. */
#define LIUDRV_LBO_MIN 1
#define LIUDRV_LBO_MAX 4
#define LIUDRV_LINE_LENGTH_MIN 1
#define LIUDRV_LINE_LENGTH_MAX 5

/* The spidev device the library opens at liuDrv_init. */
#define LIUDRV_DEVICE "/dev/spidev0.0"

/* Pulse template numbers 0..13; see the read-back note above. */
#define LIUDRV_PULSE_TEMPLATE_MAX 13

/* Channel selectors of liuDrv_read / liuDrv_write. */
#define LIUDRV_CHANNEL_GLOBAL 0xFFFFu /* device-global registers */
#define LIUDRV_CHANNEL_SECOND 0xFFFEu /* second LIU: always refused */

/* Alarm state table: [port][event id], 16 x 7 signed 32-bit entries. */
#define LIUDRV_ALARM_PORTS 16
#define LIUDRV_ALARM_ENTRIES 7
#define LIUDRV_EVENT_LOS 1
#define LIUDRV_EVENT_AIS 2
#define LIUDRV_EVENT_DF 3
#define LIUDRV_EVENT_TLOS 4
#define LIUDRV_EVENT_PRBS 5
#define LIUDRV_EVENT_EQ 6
#define LIUDRV_ALARM_INITIAL 1  /* not seen active since start-up */
#define LIUDRV_ALARM_ACTIVE 2   /* present at the last poll */
#define LIUDRV_ALARM_INACTIVE 3 /* was active, absent at the last poll */

/* Alarm status bits of register 0x36 as liuDrv_hasLos / liuDrv_hasPrbs return them. */
#define LIUDRV_STATUS_LOS 0x01
#define LIUDRV_STATUS_AIS 0x02
#define LIUDRV_STATUS_DF 0x04
#define LIUDRV_STATUS_TLOS 0x08
#define LIUDRV_STATUS_PRBS 0x10
#define LIUDRV_STATUS_EQ 0x80

/* Trace ids and levels passed to tracePrintf. */
#define LIUDRV_TRACE_ERROR_ID 255
#define LIUDRV_TRACE_LEVEL_ERROR 0x80
#define LIUDRV_TRACE_LEVEL_CALL 0x20
#define LIUDRV_TRACE_LEVEL_DETAIL 0x10
#define LIUDRV_TRACE_MASK 0x40000000u

/* ---- Trace facility, supplied by the host process ---------------------- */

/*
 * Registers a trace set.  The library calls it from liuDrv_init as
 * initTraceSet("liuDrv_trace", 0, 250, 65, 0x40000000, &liuTsId) while
 * liuTsId is -1; the facility stores the set's id (not -1) through id.
 */
int initTraceSet(const char* name, int first, int last, int defaultLevel, unsigned int mask,
                 int16_t* id);

/*
 * Emits one trace line: id (255 for errors, else liuTsId), level (0x80
 * error, 0x20 call, 0x10 detail), mask (always 0x40000000), the library's
 * source module path and the source line of the call, then a printf format
 * and its arguments.
 */
int tracePrintf(int id, int level, unsigned int mask, const char* source, int line,
                const char* format, ...) LIUDRV_PRINTF(6, 7);

/* ---- Exported state ---------------------------------------------------- */

extern LIUDRV_API int liuDrv_inited;          /* 1 once liuDrv_init got past identification */
extern LIUDRV_API uint8_t liuDrv_maxPorts;    /* usable ports: 0..liuDrv_maxPorts-1 */
extern LIUDRV_API uint8_t liuDrv_maxLius;     /* LIU devices: 1 once identified */
extern LIUDRV_API uint8_t liuDrv_maxPortsLiu; /* ports per LIU: 8 once identified */
extern LIUDRV_API int liuDrv_liuTyp;          /* 5 unidentified, 3 = 82V5088 */
extern LIUDRV_API int liuDrv_inoutType;       /* LIUDRV_INOUT_*, initially 255 */
extern LIUDRV_API int liuDrv_lineType;        /* line type last requested, initially 1 */
extern LIUDRV_API int16_t liuTsId;            /* trace set id, -1 until registered */
extern LIUDRV_API int firstCall;              /* 1; not used by the library */
extern LIUDRV_API uint8_t liuDrv_regOffs;     /* 0; not used by the library */

/* ---- Start-up and state ------------------------------------------------ */

/*
 * Brings the LIU up once per process: registers the trace set, opens
 * /dev/spidev0.0, prints one line on stdout, identifies the LIU, marks the
 * library initialised, resets the alarm state table, stores inoutType,
 * software-resets the LIU (global register 0x04, 2 ms) and gives ports
 * 0..maxPorts-1 their defaults: receiver and transmitter powered down, E1
 * pulse mask, haul type 2.
 * Returns 0; -1 already initialised, open failed, or a port default refused;
 * 1 a failed transfer.  After the open succeeded the library counts as
 * initialised even if a later step fails.  There is no tear-down.
 */
LIUDRV_API int liuDrv_init(int inoutType, uint8_t maxPorts);

/* Stores the input/output type used by the next pulse mask configuration. */
LIUDRV_API void liuDrv_setInOutType(int inoutType);

/* Broadcast-mode switch; changes nothing on this LIU. */
LIUDRV_API void liuDrv_broadcastMode(int mode);

/* Reads global register 0x04: 0 the LIU answered, 1 the transfer failed. */
LIUDRV_API int liuDrv_isLiuConnected(void);

/* ---- Register access ------------------------------------------------------ */

/*
 * Writes one register: channel is a port number (low 4 bits used),
 * LIUDRV_CHANNEL_GLOBAL, or LIUDRV_CHANNEL_SECOND (refused with 1).
 * flag has no effect.  Returns 0 or 1.
 */
LIUDRV_API int liuDrv_write(uint8_t reg, uint16_t channel, uint8_t value, int flag);

/* Reads one register into *value; 0, 1 (nothing stored) or -1 for a null value. */
LIUDRV_API int liuDrv_read(uint8_t reg, uint16_t channel, uint8_t* value);

/* ---- Line type and pulse shape --------------------------------------------- */

/*
 * Records lineType in liuDrv_lineType (also when refused) and configures the
 * port's line interface for it: T1/JT1 mode bit, termination, line code 1,
 * pulse template code.  Returns 0, -1 (refused) or 1.
 */
LIUDRV_API int liuDrv_setLineType(uint16_t port, int lineType);

/*
 * Reads the port's waveform back and maps the reported pulse template number
 * to a line type.  See the read-back note at the top: with this chip every
 * port reads back as LIUDRV_LINE_TYPE_E1.  -1 for a refused port, an
 * uninitialised library or a failed read-out.
 */
LIUDRV_API int liuDrv_getLineType(uint16_t port, int* lineType);

/*
 * Prints the port's user arbitrary waveform (16 rows x 4 UIs), amplitude
 * scaling and termination on stderr.  -1 when the port's pulse template code
 * is not the user arbitrary waveform (0x0C), 1 on a failed transfer (the
 * printout stops there).  Sets liuDrv_maxPorts to 8 as a side effect.
 */
LIUDRV_API int liuDrv_dumpPulseShapeParam(uint16_t port);

/* ---- Line parameters ------------------------------------------------------- */

/* Line code 1 or 2, on the transmit (0x22) and receive (0x28) sides. */
LIUDRV_API int liuDrv_setLineCode(uint16_t port, int lineCode);
/* -1 when the two sides do not form a known line code. */
LIUDRV_API int liuDrv_getLineCode(uint16_t port, int* lineCode);

/* Line build-out 1..4 (pulse templates 8..11). */
LIUDRV_API int liuDrv_setLineBuildOut(uint16_t port, int lbo);
LIUDRV_API int liuDrv_getLineBuildOut(uint16_t port, int* lbo);

/* Line length 1..5 (pulse templates 2..6). */
LIUDRV_API int liuDrv_setLineLength(uint16_t port, int lineLen);
LIUDRV_API int liuDrv_getLineLength(uint16_t port, int* lineLen);

/* Haul type 1 or 2 (register 0x29 bit 6; haul 2 also sets bits 4-0 to 0x14). */
LIUDRV_API int liuDrv_setHaulType(uint16_t port, int haul);
LIUDRV_API int liuDrv_getHaulType(uint16_t port, int* haul);

/* Loopbacks (register 0x2B): state 0 off, any other value on; get gives 0 or 1. */
LIUDRV_API int liuDrv_setLoopRemote(uint16_t port, int state);
LIUDRV_API int liuDrv_getLoopRemote(uint16_t port, int* state);
LIUDRV_API int liuDrv_setLoopAnalog(uint16_t port, int state);
LIUDRV_API int liuDrv_getLoopAnalog(uint16_t port, int* state);
LIUDRV_API int liuDrv_setLoopDigital(uint16_t port, int state);
LIUDRV_API int liuDrv_getLoopDigital(uint16_t port, int* state);

/* Transmitter / receiver power: state 0 down, any other value up; get gives 0 or 1. */
LIUDRV_API int liuDrv_setPowerupTx(uint16_t port, int state);
LIUDRV_API int liuDrv_getPowerupTx(uint16_t port, int* up);
LIUDRV_API int liuDrv_setPowerupRx(uint16_t port, int state);
LIUDRV_API int liuDrv_getPowerupRx(uint16_t port, int* up);

/* Chooses the port that drives reference clock output A / B (ports 0..7). */
LIUDRV_API int liuDrv_setRefAClock(uint16_t port);
LIUDRV_API int liuDrv_setRefBClock(uint16_t port);

/* ---- Alarms ---------------------------------------------------------------- */

/*
 * One read of the port's alarm status register 0x36: the LOS (0x01) or PRBS
 * (0x10) bit as masked, 0 when absent.  No port guard.  A failed read gives
 * the mask (see the note at the top).
 */
LIUDRV_API int liuDrv_hasLos(uint16_t port);
LIUDRV_API int liuDrv_hasPrbs(uint16_t port);

/*
 * Polls the six indications of every port below liuDrv_maxPorts (at most 16),
 * updates the alarm state table, traces each change, and copies the whole
 * table into alarmstate unless it is null.  0, or -1 before liuDrv_init
 * (nothing polled, buffer untouched).
 */
LIUDRV_API int liuDrv_alarmHandler(int32_t alarmstate[LIUDRV_ALARM_PORTS][LIUDRV_ALARM_ENTRIES]);

#ifdef __cplusplus
}
#endif

#endif /* LIUDRV_H */
