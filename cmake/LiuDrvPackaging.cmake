# SPDX-License-Identifier: MIT
# Debian packages of the install components (cpack -G DEB in the build tree):
#   libliudrv1      runtime: the driver library (needs libc only)
#   libliutrace1    trace: the console trace facility
#   libliudrv-dev   headers, .so links, pkg-config files, CMake package
#   liuctl          the operator's tool
#   liud            the daemon, its systemd unit, the system group liu,
#                   example configuration and liud.md
#   liu-snmp        the DS1-MIB over AgentX (net-snmp), a client of liud
#   liusim          the simulated chip runner (umockdev, GLib): for PCs, not
#                   for boards, so what a board installs does not pull them
# What Debian expects of every package, from packaging/: the copyright file
# (machine-readable, Expat), the changelog (packaging/changelog, whose top
# entry gives the Debian revision), lintian overrides where a package needs
# one, and maintainer scripts (systemd units, the ldconfig trigger).
# Package dependencies come from dpkg-shlibdeps, plus the dependencies between
# these packages.  Included from the top-level CMakeLists.txt after
# LiuDrvInstall.cmake and the tools.

# The target's Debian architecture, not the build machine's.
if(CMAKE_CROSSCOMPILING AND CMAKE_LIBRARY_ARCHITECTURE STREQUAL "arm-linux-gnueabihf")
    set(LIU_DEB_ARCH armhf)
else()
    execute_process(COMMAND dpkg --print-architecture
        OUTPUT_VARIABLE LIU_DEB_ARCH OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
endif()

# The version of the packages: the project's, with the Debian revision of the
# changelog's top entry ("liudrv (1.0.0-1) ...").  A release of the project
# without its changelog entry is a mistake caught here.
set(LIU_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)
file(STRINGS ${LIU_PACKAGING_DIR}/changelog LIU_CHANGELOG_TOP LIMIT_COUNT 1)
if(NOT LIU_CHANGELOG_TOP MATCHES "^liudrv \\(([^)-]+)-([^)]+)\\) ")
    message(FATAL_ERROR "packaging/changelog: the first line is not 'liudrv (VERSION-REVISION) ...'")
endif()
if(NOT CMAKE_MATCH_1 STREQUAL PROJECT_VERSION)
    message(FATAL_ERROR "packaging/changelog: the top entry is for ${CMAKE_MATCH_1}, "
        "the project is ${PROJECT_VERSION}: add an entry for it")
endif()
set(LIU_DEB_REVISION ${CMAKE_MATCH_2})

set(LIU_DEB_MAINTAINER "libliuDrv maintainers <libliudrv@example.org>" CACHE STRING
    "Maintainer field of the Debian packages: who answers for the packages a board runs")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME liudrv)
set(CPACK_PACKAGE_VENDOR "libliuDrv maintainers")
set(CPACK_PACKAGE_CONTACT "${LIU_DEB_MAINTAINER}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${LIU_DEB_REVISION})
set(CPACK_DEBIAN_PACKAGE_SOURCE liudrv)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${LIU_DEB_ARCH})
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Scripts 0755, the rest 0644, whatever the source tree's modes.
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The tools need the libraries of this build: let dpkg-shlibdeps find them
# (the dependency itself comes from the component dependency below).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS
    ${PROJECT_BINARY_DIR}/drvs/liuDrv ${PROJECT_BINARY_DIR}/host/trace)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libliudrv1)
set(CPACK_DEBIAN_TRACE_PACKAGE_NAME libliutrace1)
set(CPACK_DEBIAN_DEV_PACKAGE_NAME libliudrv-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
foreach(tool liuctl liud liusim)
    string(TOUPPER ${tool} upper)
    set(CPACK_DEBIAN_${upper}_PACKAGE_NAME ${tool})
    set(CPACK_DEBIAN_${upper}_PACKAGE_SECTION utils)
endforeach()
set(CPACK_DEBIAN_LIUD_PACKAGE_SECTION net)
set(CPACK_DEBIAN_LIU-SNMP_PACKAGE_NAME liu-snmp)
set(CPACK_DEBIAN_LIU-SNMP_PACKAGE_SECTION net)
# A client of liud's socket, attached to snmpd: it links neither.
set(CPACK_DEBIAN_LIU-SNMP_PACKAGE_RECOMMENDS "liud, snmpd")
# liusim starts the program it serves under umockdev's preload library,
# which no binary links to.
set(CPACK_DEBIAN_LIUSIM_PACKAGE_DEPENDS umockdev)
# liud's postinst creates its group with systemd-sysusers.
set(CPACK_DEBIAN_LIUD_PACKAGE_DEPENDS "systemd | systemd-standalone-sysusers | systemd-sysusers")

# The libraries: shlibs for the packages built against them (only packages
# that hold a shared library get one), and the loader's cache through the
# ldconfig trigger.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
foreach(component RUNTIME TRACE)
    set(CPACK_DEBIAN_${component}_PACKAGE_CONTROL_EXTRA ${LIU_PACKAGING_DIR}/triggers)
endforeach()

# Each description: the synopsis line, then the long text; an empty line
# separates paragraphs (CPack indents the lines and writes " .").
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION [=[driver library for the 82V5088 E1/T1/JT1 line interface unit
libliuDrv drives the 82V5088, an 8-port E1/T1/JT1 line interface unit,
through the kernel's spidev device /dev/spidev0.0: it resets the chip once
when a process initialises it, sets each port's line type, line code,
build-out or line length, haul type, loopbacks and power, chooses the
reference clock outputs, and polls the six line alarm indications of every
port (LOS, AIS, DF, TLOS, PRBS, EQ) into a table.

A plain C interface; it allocates nothing, starts no thread and needs only
libc. The host process supplies the trace facility (libliutrace1 has one).]=])
set(CPACK_COMPONENT_TRACE_DESCRIPTION [=[console trace facility for libliuDrv host programs
libliuTrace supplies initTraceSet and tracePrintf, the trace facility that
libliuDrv calls, to host programs that have none of their own: one line per
trace on stderr (level, id, source and line, text), filtered by level
through liuTrace_setLevel or the environment variable LIU_TRACE.]=])
set(CPACK_COMPONENT_DEV_DESCRIPTION [=[82V5088 LIU driver library - development files
The headers LiuDrv.h (the driver's operations and code values, for C and
C++) and LiuTrace.h, the .so links, the pkg-config files liuDrv and
liuTrace, and the CMake package LiuDrv: find_package(LiuDrv) gives the
targets LiuDrv::liuDrv and LiuDrv::liuTrace.]=])
set(CPACK_COMPONENT_LIUCTL_DESCRIPTION [=[82V5088 LIU operator's tool
liuctl configures and inspects the line interface unit. On a board where
liud runs it attaches to liud's control socket and never resets the chip;
standalone it holds libliuDrv itself, for the bring-up of a board.

Commands cover every operation of the library, a table of every port's
settings decoded from the chip, alarm polls and watches with timestamps,
the pulse shape and raw register access, as text or JSON, from a script,
the command line or an interactive shell.]=])
set(CPACK_COMPONENT_LIUD_DESCRIPTION [=[82V5088 LIU daemon
liud owns the line interface unit for the life of the board. It checks its
configuration file (/etc/liud/liud.conf) whole, resets the chip once at
boot, applies every port's settings in an order that leaves each as
configured and reads them back; then it polls the alarms into the system
log and a Prometheus metrics file, repairs settings that drifted, and
serves liuctl and liu-snmp on a control socket.

The systemd unit is Type=notify with a watchdog and is not enabled by the
package: start from /usr/share/doc/liud/examples/liud.conf. The package
creates the system group liu, whose members the configuration may let
change the chip through the socket. An upgrade does not restart liud (a new
liud resets the chip).]=])
set(CPACK_COMPONENT_LIU-SNMP_DESCRIPTION [=[DS1-MIB AgentX subagent for the 82V5088 LIU
liu-snmp serves the DS1-MIB (RFC 4805) dsx1ConfigTable of the ports liud
owns to snmpd over AgentX, beside the host's IF-MIB interfaces, sends
dsx1LineStatusChange notifications within a poll interval of an alarm
change, and switches the chip's loopbacks on a set of dsx1LoopbackConfig,
through liud like liuctl.

Ships a systemd unit and example configurations for itself and snmpd.]=])
set(CPACK_COMPONENT_LIUSIM_DESCRIPTION [=[simulated 82V5088 LIU for host programs
liusim runs a libliuDrv host program (liud and liuctl included) unchanged
against a simulated chip served behind /dev/spidev0.0 through umockdev: the
chip's registers, pulse shape memory and alarm status, a log of every SPI
transfer, scripted alarms and faults, and a control channel to change them
while the program runs. For development on a PC; a board never needs it.]=])
set(CPACK_COMPONENT_DEV_DEPENDS runtime trace)
set(CPACK_COMPONENT_LIUCTL_DEPENDS runtime trace)
set(CPACK_COMPONENT_LIUD_DEPENDS runtime trace)

set(CPACK_COMPONENTS_ALL runtime trace dev)
foreach(tool liuctl liud liu-snmp liusim)
    if(TARGET ${tool})
        list(APPEND CPACK_COMPONENTS_ALL ${tool})
    endif()
endforeach()

# Files for /usr/share/doc, compressed as Debian policy asks (gzip -9n, no
# name or time stamp): the changelog of every package, the documentation of
# liud and liu-snmp.
find_program(GZIP gzip REQUIRED)
set(LIU_PACKAGE_DOCS ${PROJECT_BINARY_DIR}/packaging)
add_custom_target(package-docs ALL)
function(liu_package_gzip source name)
    add_custom_command(OUTPUT ${LIU_PACKAGE_DOCS}/${name}.gz
        COMMAND ${CMAKE_COMMAND} -E make_directory ${LIU_PACKAGE_DOCS}
        COMMAND sh -c "\"${GZIP}\" -9n < \"${source}\" > \"${LIU_PACKAGE_DOCS}/${name}.gz\""
        DEPENDS ${source} VERBATIM)
    add_custom_target(package-docs-${name} DEPENDS ${LIU_PACKAGE_DOCS}/${name}.gz)
    add_dependencies(package-docs package-docs-${name})
endfunction()
liu_package_gzip(${LIU_PACKAGING_DIR}/changelog changelog.Debian)
liu_package_gzip(${PROJECT_SOURCE_DIR}/docs/liud.md liud.md)
liu_package_gzip(${PROJECT_SOURCE_DIR}/docs/snmp.md snmp.md)

foreach(component IN LISTS CPACK_COMPONENTS_ALL)
    string(TOUPPER ${component} upper)
    set(package ${CPACK_DEBIAN_${upper}_PACKAGE_NAME})
    set(doc ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package})
    install(FILES ${LIU_PACKAGING_DIR}/copyright ${LIU_PACKAGE_DOCS}/changelog.Debian.gz
        DESTINATION ${doc} COMPONENT ${component})
    # lintian's overrides, each with its reason: those of every package,
    # and those of the library packages.
    set(overrides ${LIU_PACKAGING_DIR}/lintian-overrides)
    if(component STREQUAL "runtime" OR component STREQUAL "trace")
        list(APPEND overrides ${LIU_PACKAGING_DIR}/library.lintian-overrides)
    endif()
    set(text)
    foreach(file IN LISTS overrides)
        file(READ ${file} part)
        string(APPEND text "${part}")
    endforeach()
    file(CONFIGURE OUTPUT ${LIU_PACKAGE_DOCS}/${package}/lintian-overrides CONTENT "${text}" @ONLY)
    install(FILES ${LIU_PACKAGE_DOCS}/${package}/lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides
        RENAME ${package} COMPONENT ${component})
endforeach()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
    ${LIU_PACKAGING_DIR}/lintian-overrides ${LIU_PACKAGING_DIR}/library.lintian-overrides
    ${LIU_PACKAGING_DIR}/changelog)

# The daemons: their documentation, their units' maintainer scripts; liud's
# group (sysusers.d), created by its postinst.
# liu_package_service(COMPONENT UNIT ON_CONFIGURE)
function(liu_package_service component unit on_configure)
    string(TOUPPER ${component} upper)
    set(LIU_PACKAGE ${CPACK_DEBIAN_${upper}_PACKAGE_NAME})
    set(LIU_UNIT ${unit})
    set(LIU_ON_CONFIGURE "${on_configure}")
    set(scripts)
    foreach(script postinst prerm postrm)
        configure_file(${LIU_PACKAGING_DIR}/service.${script}.in
            ${LIU_PACKAGE_DOCS}/${LIU_PACKAGE}/${script} @ONLY)
        list(APPEND scripts ${LIU_PACKAGE_DOCS}/${LIU_PACKAGE}/${script})
    endforeach()
    set(CPACK_DEBIAN_${upper}_PACKAGE_CONTROL_EXTRA ${scripts} PARENT_SCOPE)
endfunction()
if(TARGET liud)
    install(FILES ${LIU_PACKAGE_DOCS}/liud.md.gz
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/liud COMPONENT liud)
    install(FILES ${LIU_PACKAGING_DIR}/liud.sysusers
        DESTINATION lib/sysusers.d RENAME liud.conf COMPONENT liud)
    liu_package_service(liud liud.service
        [=[systemd-sysusers ${DPKG_ROOT:+--root="$DPKG_ROOT"} liud.conf]=])
endif()
if(TARGET liu-snmp)
    install(FILES ${LIU_PACKAGE_DOCS}/snmp.md.gz
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/liu-snmp COMPONENT liu-snmp)
    # A client of liud: a new one does no harm to the chip, so an upgrade
    # restarts a running liu-snmp.
    liu_package_service(liu-snmp liu-snmp.service [=[if [ -n "$2" ] && [ -d /run/systemd/system ]; then
        deb-systemd-invoke try-restart liu-snmp.service >/dev/null || true
    fi]=])
endif()

include(CPack)
