/* SPDX-License-Identifier: MIT */
/*
 * A host program built against an installed libliuDrv (CMakeLists.txt:
 * find_package, Makefile: pkg-config): brings the LIU up, sets port 4 to
 * line code 2 with its transmitter and receiver up, and reads them back.
 * Exit status: 0 read back as set; 1 the LIU could not be brought up; 2 not.
 */
#include <LiuDrv.h>
#include <LiuTrace.h>

#include <stdio.h>

int main(void) {
    int lineCode = 0, tx = 0, rx = 0;
    liuTrace_setLevel(LIU_TRACE_SHOW_ERRORS);
    if (liuDrv_init(LIUDRV_INOUT_SYMMETRICAL, 8) != LIUDRV_OK) {
        fprintf(stderr, "consumer: cannot bring the LIU up\n");
        return 1;
    }
    if (liuDrv_setLineCode(4, LIUDRV_LINE_CODE_2) != LIUDRV_OK ||
        liuDrv_setPowerupTx(4, 1) != LIUDRV_OK || liuDrv_setPowerupRx(4, 1) != LIUDRV_OK ||
        liuDrv_getLineCode(4, &lineCode) != LIUDRV_OK || liuDrv_getPowerupTx(4, &tx) != LIUDRV_OK ||
        liuDrv_getPowerupRx(4, &rx) != LIUDRV_OK) {
        fprintf(stderr, "consumer: a step failed\n");
        return 2;
    }
    printf("consumer: port 4 line code %d, transmitter %s, receiver %s\n", lineCode,
           tx ? "up" : "down", rx ? "up" : "down");
    return lineCode == LIUDRV_LINE_CODE_2 && tx == 1 && rx == 1 ? 0 : 2;
}
