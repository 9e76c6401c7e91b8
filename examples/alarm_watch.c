/* SPDX-License-Identifier: MIT */
/*
 * alarm_watch: watches the line alarms of the LIU.  It brings the LIU up
 * (symmetrical line interface, 8 ports), polls liuDrv_alarmHandler() every
 * 100 ms for the given number of polls (default 50), and at the end prints
 * every entry of the alarm state table that is not in its initial state.
 *
 * Every alarm change appears while it happens as the library's call-level
 * trace line on stderr, e.g.
 *
 *     CALL 1 drvs/liuDrv/LiuDrv.cpp:<line> ======== LIU[2] LOS    active ========
 *
 * The program shows call-level traces unless LIU_TRACE chooses otherwise.
 *
 * Run it on the simulated chip with:
 *     liusim --scenario examples/alarms.scenario -- alarm_watch 60
 */
#define _POSIX_C_SOURCE 200809L

#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include "LiuDrv.h"
#include "LiuTrace.h"

#define POLL_INTERVAL_NS 100000000L /* 100 ms */
#define DEFAULT_POLLS 50L
#define MAX_POLLS 1000000L

static const char* const eventNames[LIUDRV_ALARM_ENTRIES] = {
    "-", "LOS", "AIS", "DF", "TLOS", "PRBS", "EQ",
};

static const char* stateName(int32_t state) {
    switch (state) {
    case LIUDRV_ALARM_ACTIVE:
        return "active";
    case LIUDRV_ALARM_INACTIVE:
        return "inactive";
    case LIUDRV_ALARM_INITIAL:
        return "initial";
    default:
        return "unknown";
    }
}

static long parsePolls(int argc, char** argv) {
    if (argc > 2) {
        fprintf(stderr, "Usage: alarm_watch [POLLS]\n");
        exit(2);
    }
    if (argc < 2) {
        return DEFAULT_POLLS;
    }
    char* end = NULL;
    const long polls = strtol(argv[1], &end, 10);
    if (*argv[1] == '\0' || *end != '\0' || polls < 1 || polls > MAX_POLLS) {
        fprintf(stderr, "alarm_watch: bad number of polls '%s' (1..%ld)\n", argv[1], MAX_POLLS);
        exit(2);
    }
    return polls;
}

int main(int argc, char** argv) {
    const long polls = parsePolls(argc, argv);

    if (getenv("LIU_TRACE") == NULL) {
        liuTrace_setLevel(LIU_TRACE_SHOW_CALLS);
    }
    const int rc = liuDrv_init(LIUDRV_INOUT_SYMMETRICAL, 8);
    if (rc != 0) {
        fprintf(stderr, "alarm_watch: liuDrv_init failed (%d)\n", rc);
        return 1;
    }

    int32_t table[LIUDRV_ALARM_PORTS][LIUDRV_ALARM_ENTRIES];
    const struct timespec interval = {0, POLL_INTERVAL_NS};
    for (long poll = 0; poll < polls; ++poll) {
        if (poll > 0) {
            nanosleep(&interval, NULL);
        }
        if (liuDrv_alarmHandler(table) != 0) {
            fprintf(stderr, "alarm_watch: liuDrv_alarmHandler failed\n");
            return 1;
        }
    }

    printf("alarm state after %ld polls:\n", polls);
    printf("port  event  state\n");
    int shown = 0;
    for (int port = 0; port < LIUDRV_ALARM_PORTS; ++port) {
        for (int event = 0; event < LIUDRV_ALARM_ENTRIES; ++event) {
            if (table[port][event] != LIUDRV_ALARM_INITIAL) {
                printf("%4d  %-5s  %d %s\n", port, eventNames[event], (int)table[port][event],
                       stateName(table[port][event]));
                ++shown;
            }
        }
    }
    if (shown == 0) {
        printf("no alarm seen\n");
    }
    return 0;
}
