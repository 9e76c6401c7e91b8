/* SPDX-License-Identifier: MIT */
/*
 * A host program the way a board team writes one, built against an installed
 * libliuDrv (see CMakeLists.txt for find_package, Makefile for pkg-config).
 * It brings the LIU up, configures port 4 as a T1 line, reads the settings
 * back and polls the alarms once.
 *
 * Exit status: 0 all done and read back as set; 1 the LIU could not be
 * brought up (no /dev/spidev0.0 or no answer); 2 a step failed or a setting
 * read back differently.
 */
#include <LiuDrv.h>
#include <LiuTrace.h>

#include <stdio.h>

#define PORT 4

static int check(const char* step, int result) {
    if (result != LIUDRV_OK) {
        fprintf(stderr, "consumer: %s failed with %d\n", step, result);
    }
    return result == LIUDRV_OK;
}

int main(void) {
    liuTrace_setLevel(LIU_TRACE_SHOW_ERRORS);
    if (liuDrv_init(LIUDRV_INOUT_SYMMETRICAL, 8) != LIUDRV_OK) {
        fprintf(stderr, "consumer: cannot bring the LIU up\n");
        return 1;
    }

    int ok = check("setLineType", liuDrv_setLineType(PORT, LIUDRV_LINE_TYPE_T1)) &&
             check("setLineCode", liuDrv_setLineCode(PORT, LIUDRV_LINE_CODE_2)) &&
             check("setPowerupTx", liuDrv_setPowerupTx(PORT, 1)) &&
             check("setPowerupRx", liuDrv_setPowerupRx(PORT, 1));

    int lineCode = 0;
    int txPower = 0;
    int rxPower = 0;
    ok = ok && check("getLineCode", liuDrv_getLineCode(PORT, &lineCode)) &&
         check("getPowerupTx", liuDrv_getPowerupTx(PORT, &txPower)) &&
         check("getPowerupRx", liuDrv_getPowerupRx(PORT, &rxPower));

    int32_t alarms[LIUDRV_ALARM_PORTS][LIUDRV_ALARM_ENTRIES];
    ok = ok && check("alarmHandler", liuDrv_alarmHandler(alarms));
    if (!ok) {
        return 2;
    }

    printf("consumer: port %d line code %d, transmitter %s, receiver %s, LOS state %d\n", PORT,
           lineCode, txPower ? "up" : "down", rxPower ? "up" : "down",
           (int)alarms[PORT][LIUDRV_EVENT_LOS]);
    if (lineCode != LIUDRV_LINE_CODE_2 || txPower != 1 || rxPower != 1) {
        fprintf(stderr, "consumer: port %d reads back other settings than were made\n", PORT);
        return 2;
    }
    return 0;
}
