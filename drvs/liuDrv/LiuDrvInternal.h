/* SPDX-License-Identifier: MIT */
/*
 * Internal operations of libliuDrv.  They are not exported from the shared
 * library; test executables that link the library's objects statically reach
 * them by these C names.
 */
#ifndef LIUDRV_INTERNAL_H
#define LIUDRV_INTERNAL_H

#include "LiuDrv.h"

#ifdef __cplusplus
extern "C" {
#endif

/* State and start-up. */
int liuDrv_isInited(void);
int liuDrv_getPiu(uint8_t maxPorts);
int liuDrv_swReset(void);
int liuDrv_broadcastMode_(int on);
int liuDrv_portDefaults(void);

/* Pulse mask configuration and the pulse template operations. */
int liuDrv_pulsMaskConfiguration(uint16_t port, int lineType);
int liuDrv_setUserArbitraryWaveform(uint16_t port, int pulseTemplate);
int liuDrv_getUserArbitraryWaveform(uint16_t port, int* pulseTemplate);

/* Line type of a pulse template number; 0 for a number above 13. */
int liuDrv_lineTypeOfTemplate(unsigned int pulseTemplate);

/* One alarm reading handed from the poll to the event recorder. */
struct liuDrv_alarmEvent {
    int32_t eventId;
    uint8_t port;
    int32_t reading;
};
void liuDrv_alarmPoll(void);
void liuDrv_alarmEventRecord(struct liuDrv_alarmEvent event);

#ifdef __cplusplus
}
#endif

#endif /* LIUDRV_INTERNAL_H */
