# The library as an installable package: a versioned shared library, the
# public headers, a CMake package (find_package(tarvex CONFIG) ->
# tarvex::tarvex), a pkg-config file and the licence. The version comes from
# project() alone. Included from the top-level CMakeLists.txt after the
# tarvex target exists; programs elsewhere in the tree (tools) install
# themselves with install(TARGETS ... RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}).
include(CMakePackageConfigHelpers)

set(TARVEX_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/tarvex)

# libtarvex.so -> libtarvex.so.3 (the soname) -> libtarvex.so.3.0
set_target_properties(tarvex PROPERTIES
  VERSION ${PROJECT_VERSION}
  SOVERSION ${PROJECT_VERSION_MAJOR}
  EXPORT_NAME tarvex)
add_library(tarvex::tarvex ALIAS tarvex)
# The library is C++20 inside; its public headers need C++11 only.
target_compile_features(tarvex INTERFACE cxx_std_11)

# tarvex/version.h, generated beside the build's other outputs.
configure_file(${CMAKE_CURRENT_LIST_DIR}/version.h.in ${PROJECT_BINARY_DIR}/include/tarvex/version.h @ONLY)
target_include_directories(tarvex PUBLIC
  $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>
  $<BUILD_INTERFACE:${PROJECT_BINARY_DIR}/include>
  $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)

# A library built with the sanitizers needs their run-time in every program
# that links it; the installed package says so itself.
set(TARVEX_PC_LINK_EXTRA "")
if(TARVEX_FUZZ OR TARVEX_SANITIZE)
  target_link_options(tarvex INTERFACE $<INSTALL_INTERFACE:-fsanitize=address,undefined>)
  set(TARVEX_PC_LINK_EXTRA " -fsanitize=address,undefined")
endif()

install(TARGETS tarvex EXPORT tarvexTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/tarvex ${PROJECT_BINARY_DIR}/include/tarvex
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
  FILES_MATCHING PATTERN "*.h")
install(EXPORT tarvexTargets NAMESPACE tarvex:: DESTINATION ${TARVEX_CMAKE_DIR})

configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/tarvexConfig.cmake.in
  ${PROJECT_BINARY_DIR}/tarvexConfig.cmake
  INSTALL_DESTINATION ${TARVEX_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/tarvexConfigVersion.cmake
  VERSION ${PROJECT_VERSION}
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/tarvexConfig.cmake ${PROJECT_BINARY_DIR}/tarvexConfigVersion.cmake
  DESTINATION ${TARVEX_CMAKE_DIR})

# The .pc file finds the prefix relative to its own folder.
set(TARVEX_PC_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
file(RELATIVE_PATH TARVEX_PC_PREFIX /prefix/${TARVEX_PC_DIR} /prefix)
string(REGEX REPLACE "/$" "" TARVEX_PC_PREFIX "${TARVEX_PC_PREFIX}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/tarvex.pc.in ${PROJECT_BINARY_DIR}/tarvex.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/tarvex.pc DESTINATION ${TARVEX_PC_DIR})

install(FILES ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

# Source and binary archives (cpack) carry the same name, version and licence.
set(CPACK_PACKAGE_NAME tarvex)
set(CPACK_PACKAGE_VENDOR "tarvex")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_GENERATOR TGZ)
set(CPACK_SOURCE_GENERATOR TGZ)
set(CPACK_SOURCE_IGNORE_FILES "/build/;/\\\\.git/")
include(CPack)
