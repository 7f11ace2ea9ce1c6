# Install and package: `cmake --install build --prefix P` (or `make install PREFIX=P`) puts the
# programs in P/bin, the module libraries in P/lib/loomwork/modules (where the installed loomwork
# finds them), the examples in P/share/loomwork/examples, the host headers in
# P/include/loomwork and a CMake package (find_package(Loomwork)) in P/lib/cmake/Loomwork.
# `cpack -G DEB` in the build folder (or `make package`) makes a Debian package of the same.
include(CMakePackageConfigHelpers)

set(LOOMWORK_INSTALL_MODULEDIR lib/loomwork/modules)
set(LOOMWORK_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/Loomwork)

# Installed files find each other relative to where they lie.
set(host_libraries base gfxkit loom)
set_target_properties(${host_libraries} PROPERTIES INSTALL_RPATH "$ORIGIN")
set_target_properties(loomwork_modules_common PROPERTIES EXPORT_NAME modules_common)
install(TARGETS ${host_libraries} loomwork_modules_common EXPORT LoomworkTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
foreach(dir host/base host/loom host/gfxkit modules/common)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/${dir}/include/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/loomwork)
endforeach()

set(programs loomwork lwd2html)
foreach(tool callwatch phonesim sceneview)
  if(TARGET ${tool})
    list(APPEND programs ${tool})
  endif()
endforeach()
set_target_properties(${programs} PROPERTIES INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
install(TARGETS ${programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

get_property(module_targets GLOBAL PROPERTY LOOMWORK_MODULE_TARGETS)
if(module_targets)
  set_target_properties(${module_targets} PROPERTIES INSTALL_RPATH "$ORIGIN/../../../${CMAKE_INSTALL_LIBDIR}")
  install(TARGETS ${module_targets} LIBRARY DESTINATION ${LOOMWORK_INSTALL_MODULEDIR})
endif()

install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/ DESTINATION ${CMAKE_INSTALL_DATADIR}/loomwork/examples
        PATTERN "__pycache__" EXCLUDE)

install(EXPORT LoomworkTargets NAMESPACE Loomwork:: DESTINATION ${LOOMWORK_INSTALL_CMAKEDIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/LoomworkConfig.cmake.in
  ${CMAKE_BINARY_DIR}/LoomworkConfig.cmake INSTALL_DESTINATION ${LOOMWORK_INSTALL_CMAKEDIR})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/LoomworkConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/LoomworkConfig.cmake ${CMAKE_BINARY_DIR}/LoomworkConfigVersion.cmake
        DESTINATION ${LOOMWORK_INSTALL_CMAKEDIR})

# The Debian package.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME loomwork)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Loomwork developers <loomwork@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Loomwork module host with its module libraries, examples and module SDK")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-dejavu-core")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "cmake, g++")
include(CPack)
