# SPDX-License-Identifier: MIT
# What `cmake --install` places, in components that become the Debian packages:
#   runtime  libliuDrv.so.1 (needs libc only)                 (libliudrv1)
#   trace    libliuTrace.so.1, the console trace facility     (libliutrace1)
#   dev      LiuDrv.h, LiuTrace.h, the .so links, pkg-config files
#            liuDrv.pc/liuTrace.pc, the CMake package LiuDrv (libliudrv-dev)
#   liuctl   liuctl and its manual page                       (liuctl)
#   liud     liud, its unit, example configuration, manual pages (liud)
#   liusim   liusim and its manual page, where umockdev is    (liusim)
# Included from the top-level CMakeLists.txt after every target is defined.
include(CMakePackageConfigHelpers)

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

# liuctl and liud install themselves (tools/); liusim is built where umockdev is.
if(TARGET liusim)
    install(TARGETS liusim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT liusim)
endif()

install(EXPORT LiuDrvTargets
    NAMESPACE LiuDrv::
    DESTINATION ${LIU_CMAKE_PACKAGE_DIR}
    COMPONENT dev)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/LiuDrvConfig.cmake.in
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
        configure_file(\"${CMAKE_CURRENT_LIST_DIR}/${pc}.pc.in\"
            \"${PROJECT_BINARY_DIR}/pkgconfig/${pc}.pc\" @ONLY)
        file(INSTALL DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig\"
            TYPE FILE FILES \"${PROJECT_BINARY_DIR}/pkgconfig/${pc}.pc\")"
        COMPONENT dev)
endforeach()
