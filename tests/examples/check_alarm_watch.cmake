# SPDX-License-Identifier: MIT
# alarm_watch under liusim with examples/alarms.scenario: exit status 0, the
# alarm change lines of its trace (exactly these, in this order, as call
# traces; no error trace) and the rows of the alarm state table it prints.
#   cmake -DLIUSIM=... -DPROGRAM=... -DSCENARIO=... -DWORK_DIR=... -P check_alarm_watch.cmake
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
# 60 polls 100 ms apart outlast the scenario's last step (at 5 s).
execute_process(
    COMMAND ${CMAKE_COMMAND} -E env --unset=LIU_TRACE
        ${LIUSIM} --ctl ${WORK_DIR}/control.sock --scenario ${SCENARIO} -- ${PROGRAM} 60
    RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 60)
string(REGEX MATCHALL "[^\n]*(======== LIU|ERROR )[^\n]*" changes "${err}")
set(expected_changes
    "CALL 1 drvs/liuDrv/LiuDrv.cpp:@ ======== LIU[2] LOS    active ========"
    "CALL 1 drvs/liuDrv/LiuDrv.cpp:@ ======== LIU[5] AIS    active ========"
    "CALL 1 drvs/liuDrv/LiuDrv.cpp:@ ======== LIU[2] LOS  inactive ========"
    "CALL 1 drvs/liuDrv/LiuDrv.cpp:@ ======== LIU[5] AIS  inactive ========")
list(TRANSFORM changes REPLACE ":[0-9]+ " ":@ ")
string(REGEX REPLACE ".*port  event  state\n" "" rows "${out}")
if(NOT status STREQUAL "0" OR NOT changes STREQUAL expected_changes
   OR NOT rows STREQUAL "   2  LOS    3 inactive\n   5  AIS    3 inactive\n")
    message(FATAL_ERROR "alarm_watch exited with ${status}\nchange lines:\n${changes}\n"
        "table rows:\n${rows}\nstdout:\n${out}\nstderr:\n${err}")
endif()
