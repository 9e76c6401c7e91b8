# SPDX-License-Identifier: MIT
# liusim end to end, one case per ctest test:
#   cmake -DLIUSIM=... -DPROBE=... -DWORK_DIR=... -DCASE=<case> -P check_liusim.cmake
# Cases:
#   scenario_and_control  liusim_probe under a scenario and the control
#                         channel; then the transfer log, line by line
#   exit_status           PROGRAM's exit status and signal come back
#   bad_input             missing program, bad scenario, bad usage
cmake_minimum_required(VERSION 3.25)

file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})

function(run_liusim result_var)
    execute_process(COMMAND ${LIUSIM} ${ARGN}
        RESULT_VARIABLE result
        OUTPUT_VARIABLE out
        ERROR_VARIABLE err
        TIMEOUT 30)
    set(${result_var} ${result} PARENT_SCOPE)
    set(liusim_stdout "${out}" PARENT_SCOPE)
    set(liusim_stderr "${err}" PARENT_SCOPE)
endfunction()

function(expect_status expected what)
    if(NOT status STREQUAL "${expected}")
        message(FATAL_ERROR "${what}: exit status ${status}, expected ${expected}\n"
            "stdout:\n${liusim_stdout}\nstderr:\n${liusim_stderr}")
    endif()
endfunction()

function(expect_stderr pattern what)
    if(NOT liusim_stderr MATCHES "${pattern}")
        message(FATAL_ERROR "${what}: stderr does not match '${pattern}':\n${liusim_stderr}")
    endif()
endfunction()

# The transfer log without its time column; checks every line's layout.
function(read_transfer_log path lines_var)
    file(STRINGS ${path} raw)
    set(lines "")
    foreach(line IN LISTS raw)
        if(NOT line MATCHES "^[0-9]+\\.[0-9][0-9][0-9][0-9][0-9][0-9] ([RW] (global|ch[0-9]+) 0x[0-9a-f][0-9a-f] (<-|->) (0x[0-9a-f][0-9a-f]|--)( FAILED)?)$")
            message(FATAL_ERROR "malformed transfer log line: '${line}'")
        endif()
        list(APPEND lines "${CMAKE_MATCH_1}")
    endforeach()
    set(${lines_var} "${lines}" PARENT_SCOPE)
endfunction()

# Each expected line is in the log, after the one before it.
function(expect_in_order lines)
    set(from 0)
    foreach(expected IN LISTS ARGN)
        list(SUBLIST lines ${from} -1 rest)
        list(FIND rest "${expected}" found)
        if(found EQUAL -1)
            string(REPLACE ";" "\n" shown "${lines}")
            message(FATAL_ERROR "transfer log lacks '${expected}' (in order):\n${shown}")
        endif()
        math(EXPR from "${from} + ${found} + 1")
    endforeach()
endfunction()

if(CASE STREQUAL "scenario_and_control")
    file(WRITE ${WORK_DIR}/probe.scenario
        "# the probe expects this status before it starts\n"
        "0    status 3 0x91\n"
        "0.3  alarm 2 los on   # LOS a moment after start\n")
    run_liusim(status
        --log ${WORK_DIR}/transfers.log
        --scenario ${WORK_DIR}/probe.scenario
        --ctl ${WORK_DIR}/control.sock
        -- ${PROBE} ${LIUSIM})
    expect_status(0 "liusim_probe under liusim")
    if(EXISTS ${WORK_DIR}/control.sock)
        message(FATAL_ERROR "the control socket was left behind")
    endif()
    read_transfer_log(${WORK_DIR}/transfers.log lines)
    list(GET lines 0 first)
    if(NOT first STREQUAL "R ch3 0x36 -> 0x91")
        message(FATAL_ERROR "first transfer is '${first}', expected 'R ch3 0x36 -> 0x91'")
    endif()
    expect_in_order("${lines}"
        "W ch3 0x23 <- 0x08"
        "R ch3 0x23 -> 0x08"
        "W global 0x04 <- 0x01"
        "R global 0x04 -> 0x00"
        "R ch3 0x23 -> 0x00"
        "R ch2 0x36 -> 0x00"
        "R ch2 0x36 -> 0x01"
        "R ch5 0x36 -> 0x02"
        "R ch5 0x36 -> -- FAILED")
elseif(CASE STREQUAL "exit_status")
    run_liusim(status --ctl ${WORK_DIR}/a.sock -- sh -c "exit 7")
    expect_status(7 "program exiting with 7")
    run_liusim(status --ctl ${WORK_DIR}/b.sock -- sh -c "kill -TERM $$")
    expect_status(143 "program ended by SIGTERM")
elseif(CASE STREQUAL "bad_input")
    run_liusim(status --ctl ${WORK_DIR}/c.sock -- ${WORK_DIR}/no-such-program)
    expect_status(127 "missing program")
    expect_stderr("liusim: cannot run .*no-such-program" "missing program")

    file(WRITE ${WORK_DIR}/bad.scenario "0.5 alarm 2 los on\n1.0 alarm 2 lso on\n")
    run_liusim(status --scenario ${WORK_DIR}/bad.scenario -- true)
    expect_status(1 "bad scenario")
    expect_stderr("liusim: .*bad.scenario:2: unknown alarm 'lso'" "bad scenario")

    run_liusim(status --log)
    expect_status(2 "option without its argument")
    run_liusim(status --log ${WORK_DIR}/x.log)
    expect_status(2 "no program")
    expect_stderr("liusim: no program to run" "no program")

    run_liusim(status ctl ${WORK_DIR}/nobody.sock fail next)
    expect_status(1 "ctl without a running liusim")
    expect_stderr("liusim: cannot reach liusim at" "ctl without a running liusim")
else()
    message(FATAL_ERROR "unknown CASE '${CASE}'")
endif()
