# cmake --install: the host library, its public headers, the modules and the
# CMake package OrrimStatespace, which a program finds with
# find_package(OrrimStatespace CONFIG REQUIRED). It gives the imported targets
# OrrimStatespace::host (link it), OrrimStatespace::<module> (the module files)
# and OrrimStatespace_MODULE_DIR, the directory that holds the modules.
include(CMakePackageConfigHelpers)

set(ORRIM_INSTALL_MODULEDIR ${CMAKE_INSTALL_LIBDIR}/orrim-statespace)
set(ORRIM_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/OrrimStatespace)

# A module sits one directory below the host library, here and in the Python
# package alike, and finds it there wherever the tree is moved.
set_target_properties(${ORRIM_MODULES} PROPERTIES INSTALL_RPATH "$ORIGIN/..")

install(TARGETS orrimhost EXPORT OrrimStatespaceTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime)
install(TARGETS ${ORRIM_MODULES} EXPORT OrrimStatespaceTargets
        LIBRARY DESTINATION ${ORRIM_INSTALL_MODULEDIR} COMPONENT runtime)
install(FILES host/include/orrim.h host/include/orrim_host.hpp
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT development)

install(EXPORT OrrimStatespaceTargets NAMESPACE OrrimStatespace:: FILE OrrimStatespaceTargets.cmake
        DESTINATION ${ORRIM_INSTALL_CMAKEDIR} COMPONENT development)
configure_package_config_file(cmake/OrrimStatespaceConfig.cmake.in
                              ${CMAKE_CURRENT_BINARY_DIR}/OrrimStatespaceConfig.cmake
                              INSTALL_DESTINATION ${ORRIM_INSTALL_CMAKEDIR}
                              PATH_VARS ORRIM_INSTALL_MODULEDIR)
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/OrrimStatespaceConfigVersion.cmake
                                 COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/OrrimStatespaceConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/OrrimStatespaceConfigVersion.cmake
        DESTINATION ${ORRIM_INSTALL_CMAKEDIR} COMPONENT development)
