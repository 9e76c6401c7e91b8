# SPDX-License-Identifier: MIT
# Debian packages of the install components (cpack -G DEB in the build tree):
#   libliudrv1      runtime: the driver library (needs libc only)
#   libliutrace1    trace: the console trace facility
#   libliudrv-dev   headers, .so links, pkg-config files, CMake package
#   liuctl          the operator's tool
#   liud            the daemon, its systemd unit and example configuration
#   liu-snmp        the DS1-MIB over AgentX (net-snmp), a client of liud
#   liusim          the simulated chip runner (umockdev, GLib): for PCs, not
#                   for boards, so what a board installs does not pull them
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

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME liudrv)
set(CPACK_PACKAGE_VENDOR "libliuDrv maintainers")
set(CPACK_PACKAGE_CONTACT "libliuDrv maintainers <maintainers@localhost>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${LIU_DEB_ARCH})
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
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

# Each description: the synopsis line, then the long text (CPack indents it).
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION "driver library for the 82V5088 E1/T1/JT1 line interface unit
libliuDrv configures the ports of an 82V5088 8-port E1/T1/JT1 line interface \
unit over spidev (/dev/spidev0.0) and polls its line alarms.")
set(CPACK_COMPONENT_TRACE_DESCRIPTION "console trace facility for libliuDrv host programs
libliuTrace supplies initTraceSet/tracePrintf to host programs of libliuDrv \
that have no trace facility of their own: one line per trace on stderr, \
filtered by level.")
set(CPACK_COMPONENT_DEV_DESCRIPTION "82V5088 LIU driver library - development files
Headers LiuDrv.h and LiuTrace.h, pkg-config files liuDrv and liuTrace, and \
the CMake package LiuDrv (find_package(LiuDrv) gives LiuDrv::liuDrv and \
LiuDrv::liuTrace).")
set(CPACK_COMPONENT_LIUCTL_DESCRIPTION "82V5088 LIU operator's tool
liuctl configures and inspects the line interface unit: attached to liud, \
the daemon that owns the chip, or standalone through libliuDrv for bring-up.")
set(CPACK_COMPONENT_LIUD_DESCRIPTION "82V5088 LIU daemon
liud owns the line interface unit for the life of the board: it applies a \
declarative port configuration once at boot, polls the alarms into the \
system log and a Prometheus metrics file, repairs settings that drifted, and \
serves liuctl on a control socket.  Ships a systemd unit and an example \
configuration (/usr/share/doc/liud/examples/liud.conf).")
set(CPACK_COMPONENT_LIU-SNMP_DESCRIPTION "DS1-MIB AgentX subagent for the 82V5088 LIU
liu-snmp serves the DS1-MIB (RFC 4805) dsx1ConfigTable of the ports liud \
owns to snmpd over AgentX and sends dsx1LineStatusChange notifications; \
dsx1LoopbackConfig changes the chip's loopbacks through liud.  Ships a \
systemd unit and example configurations for itself and snmpd.")
set(CPACK_COMPONENT_LIUSIM_DESCRIPTION "simulated 82V5088 LIU for host programs
liusim runs a libliuDrv host program (liud and liuctl included) against a \
simulated chip behind /dev/spidev0.0, with scripted alarms and faults.")
set(CPACK_COMPONENT_DEV_DEPENDS runtime trace)
set(CPACK_COMPONENT_LIUCTL_DEPENDS runtime trace)
set(CPACK_COMPONENT_LIUD_DEPENDS runtime trace)
# liusim starts the program it serves under umockdev's preload library,
# which no binary links to.
set(CPACK_DEBIAN_LIUSIM_PACKAGE_DEPENDS umockdev)

set(CPACK_COMPONENTS_ALL runtime trace dev)
foreach(tool liuctl liud liu-snmp liusim)
    if(TARGET ${tool})
        list(APPEND CPACK_COMPONENTS_ALL ${tool})
    endif()
endforeach()

include(CPack)
