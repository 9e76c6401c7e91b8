# SPDX-License-Identifier: MIT
# alarm_watch under liusim with examples/alarms.scenario: the program's exit
# status, the alarm change lines of its trace (exactly these, in this order)
# and the alarm state table it prints at the end.
#   cmake -DLIUSIM=... -DPROGRAM=... -DSCENARIO=... -DWORK_DIR=... -P check_alarm_watch.cmake
cmake_minimum_required(VERSION 3.25)

# Enough polls to outlast the scenario's last step by far (100 ms apart).
set(polls 80)

file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
execute_process(
    COMMAND ${CMAKE_COMMAND} -E env --unset=LIU_TRACE
        ${LIUSIM} --ctl ${WORK_DIR}/control.sock --scenario ${SCENARIO} -- ${PROGRAM} ${polls}
    RESULT_VARIABLE status
    OUTPUT_FILE ${WORK_DIR}/stdout.txt
    ERROR_FILE ${WORK_DIR}/stderr.txt
    TIMEOUT 60)
file(READ ${WORK_DIR}/stdout.txt out)
file(READ ${WORK_DIR}/stderr.txt err)
if(NOT status STREQUAL "0")
    message(FATAL_ERROR "alarm_watch exited with ${status}\nstdout:\n${out}\nstderr:\n${err}")
endif()

# The trace: every change line is a call trace of the library; nothing failed.
file(STRINGS ${WORK_DIR}/stderr.txt trace)
set(changes "")
foreach(line IN LISTS trace)
    if(line MATCHES "^ERROR ")
        message(FATAL_ERROR "error trace: '${line}'\nstderr:\n${err}")
    endif()
    if(line MATCHES "======== LIU")
        if(NOT line MATCHES "^CALL [0-9]+ [^ ]+:[0-9]+ (======== LIU.*)$")
            message(FATAL_ERROR "malformed change line: '${line}'")
        endif()
        list(APPEND changes "${CMAKE_MATCH_1}")
    endif()
endforeach()
set(expected_changes
    "======== LIU[2] LOS    active ========"
    "======== LIU[5] AIS    active ========"
    "======== LIU[2] LOS  inactive ========"
    "======== LIU[5] AIS  inactive ========")
if(NOT changes STREQUAL expected_changes)
    string(REPLACE ";" "\n" shown "${changes}")
    string(REPLACE ";" "\n" wanted "${expected_changes}")
    message(FATAL_ERROR "change lines:\n${shown}\nexpected:\n${wanted}\nstderr:\n${err}")
endif()

# The table: the rows after the heading are exactly the two cleared alarms.
file(STRINGS ${WORK_DIR}/stdout.txt printed)
list(FIND printed "port  event  state" heading)
if(heading EQUAL -1)
    message(FATAL_ERROR "no alarm table heading in:\n${out}")
endif()
math(EXPR first "${heading} + 1")
list(SUBLIST printed ${first} -1 rows)
set(expected_rows "   2  LOS    3 inactive" "   5  AIS    3 inactive")
if(NOT rows STREQUAL expected_rows)
    string(REPLACE ";" "\n" shown "${rows}")
    message(FATAL_ERROR "alarm table rows:\n${shown}\nexpected:\n"
        "   2  LOS    3 inactive\n   5  AIS    3 inactive\nstdout:\n${out}")
endif()
