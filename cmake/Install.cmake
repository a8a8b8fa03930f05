# What `cmake --install` puts under the prefix:
#   lib/liborva.so.1*                         the component (public interface only)
#   lib/orva-1/Libraries/libzedederadIvo.so.1*  the capture library, found through liborva's RUNPATH
#   include/orva-1/orva/*.h                   the public headers
#   include/orva-1/zedederadIvo.h             the capture library's ABI
#   lib/pkgconfig/orva.pc, zedederadIvo.pc    pkg-config
#   lib/cmake/Orva/                           find_package(Orva 1.0) → Orva::orva
#   bin/orva, share/orva/                     the CLI and its resources
include(CMakePackageConfigHelpers)

install(TARGETS orva EXPORT OrvaTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/${ORVA_INCLUDE_SUBDIR})
# In the export set as Orva::zedederadIvo: hosts do not link it, liborva finds it by its RUNPATH.
install(TARGETS zedederadIvo EXPORT OrvaTargets LIBRARY DESTINATION ${ORVA_PRIVATE_LIBDIR}/Libraries)
install(DIRECTORY include/orva ${CMAKE_BINARY_DIR}/include/orva
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/${ORVA_INCLUDE_SUBDIR} FILES_MATCHING PATTERN "*.h")
install(FILES Libraries/zedederadIvo/include/zedederadIvo.h Libraries/zedederadIvo/include/zedederadIvoTap.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/${ORVA_INCLUDE_SUBDIR})

foreach(pc orva zedederadIvo)
  configure_file(cmake/${pc}.pc.in ${CMAKE_BINARY_DIR}/pkgconfig/${pc}.pc @ONLY)
  install(FILES ${CMAKE_BINARY_DIR}/pkgconfig/${pc}.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endforeach()

install(EXPORT OrvaTargets NAMESPACE Orva:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Orva)
configure_package_config_file(cmake/OrvaConfig.cmake.in ${CMAKE_BINARY_DIR}/cmake/OrvaConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Orva)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/cmake/OrvaConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/cmake/OrvaConfig.cmake ${CMAKE_BINARY_DIR}/cmake/OrvaConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Orva)
