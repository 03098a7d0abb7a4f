# Installation, the CMake package, pkg-config files and Debian packages.
#
# Components: "runtime" (the plug-in), "host" (the host stand-in, which a real
# host replaces with its own libraries) and "development" (headers, CMake
# package, pkg-config files, unversioned library links).

include(CMakePackageConfigHelpers)

set(CLOUDDB_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/clouddb)

install(TARGETS clouddb EXPORT clouddbTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    COMPONENT runtime NAMELINK_COMPONENT development)
install(TARGETS clouddb_host EXPORT clouddbTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    COMPONENT host NAMELINK_COMPONENT development)

foreach(folder agent host remotefile util)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/${folder}/
    DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/clouddb/${folder}
    COMPONENT development
    FILES_MATCHING PATTERN "*.h")
endforeach()

install(EXPORT clouddbTargets NAMESPACE clouddb::
  DESTINATION ${CLOUDDB_CMAKE_DIR} COMPONENT development)
configure_package_config_file(cmake/clouddbConfig.cmake.in
  ${PROJECT_BINARY_DIR}/clouddbConfig.cmake
  INSTALL_DESTINATION ${CLOUDDB_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/clouddbConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/clouddbConfig.cmake
              ${PROJECT_BINARY_DIR}/clouddbConfigVersion.cmake
  DESTINATION ${CLOUDDB_CMAKE_DIR} COMPONENT development)

# The pkg-config files find the prefix relative to themselves, so an
# installation can be moved.
file(RELATIVE_PATH CLOUDDB_PC_PREFIX "/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/")
string(REGEX REPLACE "/$" "" CLOUDDB_PC_PREFIX "${CLOUDDB_PC_PREFIX}")
foreach(pc clouddb clouddb-host)
  configure_file(cmake/${pc}.pc.in ${PROJECT_BINARY_DIR}/${pc}.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/${pc}.pc
    DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT development)
endforeach()

# Debian packages: the runtime package holds the plug-in and the host
# stand-in it is linked against; the development package everything to
# build an agent or host against them.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME clouddb)
set(CPACK_PACKAGE_VENDOR "clouddb-pipe developers")
set(CPACK_PACKAGE_CONTACT "clouddb-pipe developers <clouddb-pipe@localhost>")
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ONE_PER_GROUP)
set(CPACK_COMPONENTS_ALL runtime host development)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libclouddb${PROJECT_VERSION_MAJOR})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libclouddb-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
include(CPack)
cpack_add_component_group(runtime DISPLAY_NAME "clouddb plug-in"
  DESCRIPTION "The clouddb remote-file plug-in and the host stand-in it links to")
cpack_add_component_group(development DISPLAY_NAME "clouddb development files"
  DESCRIPTION "Headers, CMake package and pkg-config files for clouddb")
cpack_add_component(runtime GROUP runtime)
cpack_add_component(host GROUP runtime)
cpack_add_component(development GROUP development DEPENDS runtime)
