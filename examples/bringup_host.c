/* SPDX-License-Identifier: MIT */
/*
 * bringup_host: the smallest host program of libliuDrv.  It brings the LIU
 * up (liuDrv_init with input/output type and port count from the command
 * line, default symmetrical, 8 ports), then reads every port's power, haul
 * type and line code back through the library and prints them.
 *
 * Run it on the simulated chip with:  liusim --log /dev/stdout -- bringup_host
 * The library's trace goes to stderr through libliuTrace (LIU_TRACE=call or
 * LIU_TRACE=detail for more).
 */
#include <stdio.h>
#include <stdlib.h>

#include "LiuDrv.h"

static int parseArg(const char* text, int fallback) {
    char* end = NULL;
    long value = text ? strtol(text, &end, 0) : fallback;
    if (text && (*end != '\0' || value < 0 || value > 255)) {
        fprintf(stderr, "bringup_host: bad number '%s'\n", text);
        exit(2);
    }
    return (int)value;
}

int main(int argc, char** argv) {
    const int inoutType = parseArg(argc > 1 ? argv[1] : NULL, LIUDRV_INOUT_SYMMETRICAL);
    const int ports = parseArg(argc > 2 ? argv[2] : NULL, 8);

    const int rc = liuDrv_init(inoutType, (uint8_t)ports);
    fflush(stdout);
    printf("liuDrv_init(%d, %d) = %d: LIU type %d, %u LIU, %u ports per LIU, %u usable ports\n",
           inoutType, ports, rc, liuDrv_liuTyp, liuDrv_maxLius, liuDrv_maxPortsLiu,
           liuDrv_maxPorts);
    if (rc != 0) {
        return 1;
    }
    printf("liuDrv_isLiuConnected() = %d\n", liuDrv_isLiuConnected());
    printf("port  rx-up  tx-up  haul  line-code\n");
    for (unsigned port = 0; port < liuDrv_maxPorts; ++port) {
        int rxUp = -1, txUp = -1, haul = -1, lineCode = -1;
        liuDrv_getPowerupRx((uint16_t)port, &rxUp);
        liuDrv_getPowerupTx((uint16_t)port, &txUp);
        liuDrv_getHaulType((uint16_t)port, &haul);
        liuDrv_getLineCode((uint16_t)port, &lineCode);
        printf("%4u  %5d  %5d  %4d  %9d\n", port, rxUp, txUp, haul, lineCode);
    }
    return 0;
}
