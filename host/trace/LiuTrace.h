/* SPDX-License-Identifier: MIT */
/*
 * liuTrace - a console trace facility for host processes that have none.
 *
 * libliuTrace implements the two trace functions the driver library expects
 * from its host (initTraceSet and tracePrintf, declared in LiuDrv.h).  Every
 * trace line that passes the level filter is written to stderr as one line:
 *
 *     LEVEL id source:line text
 *
 * LEVEL is ERROR (level 0x80), CALL (0x20), DETAIL (0x10), or the level in
 * hexadecimal (e.g. 0x40) for any other level; source and line are the
 * caller's source module and the line of its trace call, as passed.  For
 * instance the detail line of the driver's software reset write reads
 *
 *     DETAIL 1 drvs/liuDrv/LiuDrv.cpp:N liuDrv_write: reg=0x04 value=0x01
 *
 * where N is the line of the write trace in the driver's source.
 *
 * Level filter: a line is shown when its level is at least the minimum
 * level.  The default shows errors only.  A host that can call this API uses
 * liuTrace_setLevel(); one that cannot (for instance an unchanged program run
 * under liusim) sets the environment variable LIU_TRACE to one of
 *
 *     off      nothing
 *     error    errors only (the default)
 *     call     errors and call traces
 *     detail   everything, register writes included
 *     N        a number (decimal or 0x-prefixed hexadecimal): levels >= N
 *
 * LIU_TRACE is read once, at the first initTraceSet() or tracePrintf() call,
 * and only if liuTrace_setLevel() has not been called before.  An
 * unrecognised value is reported on stderr once and the default stays.
 *
 * initTraceSet() stores set ids 1, 2, 3, ... through its id pointer in order
 * of registration and returns 0 (-1 for a null id pointer, nothing stored);
 * all sets share the one filter.  tracePrintf() returns 0.  All functions are
 * thread-safe.
 */
#ifndef LIUTRACE_H
#define LIUTRACE_H

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define LIU_TRACE_API __attribute__((visibility("default")))
#else
#define LIU_TRACE_API
#endif

/* Minimum levels for liuTrace_setLevel(). */
#define LIU_TRACE_SHOW_NONE 0x100   /* above every level: nothing is shown */
#define LIU_TRACE_SHOW_ERRORS 0x80  /* error traces only (default) */
#define LIU_TRACE_SHOW_CALLS 0x20   /* error and call traces */
#define LIU_TRACE_SHOW_DETAILS 0x10 /* error, call and detail traces */

/*
 * Sets the level filter: lines whose level is below minimumLevel are
 * dropped.  Takes precedence over LIU_TRACE from then on.
 */
LIU_TRACE_API void liuTrace_setLevel(int minimumLevel);

/* Returns the current minimum level (after reading LIU_TRACE if still due). */
LIU_TRACE_API int liuTrace_level(void);

#ifdef __cplusplus
}
#endif

#endif /* LIUTRACE_H */
