# SPDX-License-Identifier: MIT
# What `cmake --install` places, in components that become the Debian packages:
#   runtime  libliuDrv.so.1 (needs libc only)                 (libliudrv1)
#   trace    libliuTrace.so.1, the console trace facility     (libliutrace1)
#   dev      LiuDrv.h, LiuTrace.h, the .so links, pkg-config files
#            liuDrv.pc/liuTrace.pc, the CMake package LiuDrv (libliudrv-dev)
#   liuctl   liuctl and its manual page                       (liuctl)
#   liud     liud, its unit, example configuration, manual pages (liud)
#   liusim   liusim and its manual page, where umockdev is    (liusim)
#   liu-snmp liu-snmp, its unit and examples, where net-snmp is (liu-snmp)
# Included from the top-level CMakeLists.txt before the subdirectories, so
# that they can call liu_install_tool(); the rules for the libraries and the
# package files are added at the end of the top-level directory, once every
# target is defined.
include_guard(GLOBAL)
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# liu_install_tool(TARGET COMPONENT COMPONENT [DESTINATION DIR])
#   Installs the executable TARGET into DIR (default: the bin directory; the
#   daemons go to the sbin directory), in COMPONENT.  Installed under a prefix
#   of its own (`cmake --install --prefix DIR`), the executable finds the
#   project's shared libraries relative to itself ($ORIGIN/../lib...), so it
#   runs from there without LD_LIBRARY_PATH.  Installed under /usr (the
#   packages, a board's sysroot) the libraries are in the dynamic loader's
#   own directories and the executable keeps no run path, as Debian expects.
#   The prefix is the one of the install, not of the configure step, so the
#   decision is taken then.  The libraries themselves never get a run path.
function(liu_install_tool target)
    cmake_parse_arguments(PARSE_ARGV 1 ARG "" "COMPONENT;DESTINATION" "")
    if(ARG_UNPARSED_ARGUMENTS OR NOT ARG_COMPONENT)
        message(FATAL_ERROR "liu_install_tool(${target} COMPONENT c [DESTINATION d]): "
            "got ${ARGN}")
    endif()
    if(NOT ARG_DESTINATION)
        set(ARG_DESTINATION ${CMAKE_INSTALL_BINDIR})
    endif()
    if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
        set(run_path "${CMAKE_INSTALL_LIBDIR}")
    else()
        file(RELATIVE_PATH libdir_from_tool
            "/prefix/${ARG_DESTINATION}" "/prefix/${CMAKE_INSTALL_LIBDIR}")
        set(run_path "$ORIGIN/${libdir_from_tool}")
    endif()
    set_target_properties(${target} PROPERTIES INSTALL_RPATH "${run_path}")
    install(TARGETS ${target} RUNTIME DESTINATION ${ARG_DESTINATION} COMPONENT ${ARG_COMPONENT})
    # RPATH_REMOVE is the step CMake's own install scripts use for a target
    # without an install run path.
    install(CODE "
        if(CMAKE_INSTALL_PREFIX MATCHES \"^/(usr)?/?$\")
            file(RPATH_REMOVE FILE
                \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${ARG_DESTINATION}/$<TARGET_FILE_NAME:${target}>\")
        endif()"
        COMPONENT ${ARG_COMPONENT})
endfunction()

# The libraries, their headers, the CMake package and the pkg-config files.
function(liu_install_libraries)
    set(LIU_CMAKE_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/LiuDrv)

    install(TARGETS liuDrv
        EXPORT LiuDrvTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
            COMPONENT runtime
            NAMELINK_COMPONENT dev)
    install(FILES ${PROJECT_SOURCE_DIR}/drvs/liuDrv/LiuDrv.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
        COMPONENT dev)

    install(TARGETS liuTrace
        EXPORT LiuDrvTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
            COMPONENT trace
            NAMELINK_COMPONENT dev
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
    install(FILES ${PROJECT_SOURCE_DIR}/host/trace/LiuTrace.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
        COMPONENT dev)

    install(EXPORT LiuDrvTargets
        NAMESPACE LiuDrv::
        DESTINATION ${LIU_CMAKE_PACKAGE_DIR}
        COMPONENT dev)
    configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/LiuDrvConfig.cmake.in
        ${PROJECT_BINARY_DIR}/LiuDrvConfig.cmake
        INSTALL_DESTINATION ${LIU_CMAKE_PACKAGE_DIR})
    # A 32-bit package is not offered to a 64-bit consumer and vice versa.
    write_basic_package_version_file(${PROJECT_BINARY_DIR}/LiuDrvConfigVersion.cmake
        COMPATIBILITY SameMajorVersion)
    install(FILES
            ${PROJECT_BINARY_DIR}/LiuDrvConfig.cmake
            ${PROJECT_BINARY_DIR}/LiuDrvConfigVersion.cmake
        DESTINATION ${LIU_CMAKE_PACKAGE_DIR}
        COMPONENT dev)

    # pkg-config files are written at install time, so that the prefix in them is
    # the one installed to (`cmake --install --prefix`, CPack), not the configured
    # one.  With DESTDIR the prefix stays the target's: a board team points
    # PKG_CONFIG_SYSROOT_DIR at the sysroot.
    foreach(pc liuDrv liuTrace)
        install(CODE "
            set(LIU_PC_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
            set(LIU_PC_LIBDIR \"${CMAKE_INSTALL_LIBDIR}\")
            set(LIU_PC_INCLUDEDIR \"${CMAKE_INSTALL_INCLUDEDIR}\")
            set(LIU_PC_VERSION \"${PROJECT_VERSION}\")
            configure_file(\"${PROJECT_SOURCE_DIR}/cmake/${pc}.pc.in\"
                \"${PROJECT_BINARY_DIR}/pkgconfig/${pc}.pc\" @ONLY)
            file(INSTALL DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig\"
                TYPE FILE FILES \"${PROJECT_BINARY_DIR}/pkgconfig/${pc}.pc\")"
            COMPONENT dev)
    endforeach()
endfunction()
cmake_language(DEFER DIRECTORY ${PROJECT_SOURCE_DIR} CALL liu_install_libraries)
