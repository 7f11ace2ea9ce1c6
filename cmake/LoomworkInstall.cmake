# Install and package: `cmake --install build --prefix P` (or `make install PREFIX=P`) puts the
# programs in P/bin, the module libraries in P/lib/loomwork/modules (where the installed loomwork
# finds them), the examples in P/share/loomwork/examples, the host headers in
# P/include/loomwork and a CMake package (find_package(Loomwork)) in P/lib/cmake/Loomwork.
# `cpack -G DEB` in the build folder (or `make package`) makes a Debian package of the same.
include(CMakePackageConfigHelpers)

set(LOOMWORK_INSTALL_MODULEDIR lib/loomwork/modules)
set(LOOMWORK_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/Loomwork)

# Installed files find each other relative to where they lie. The host libraries are public (a
# module of one's own links them), so they carry the project's name and a versioned SONAME; the
# speech layer is private to the speech modules and lies under lib/loomwork.
set(host_libraries base gfxkit loom)
set_target_properties(${host_libraries} PROPERTIES INSTALL_RPATH "$ORIGIN")
foreach(lib ${host_libraries})
  set_target_properties(${lib} PROPERTIES OUTPUT_NAME loomwork_${lib})
endforeach()
set_target_properties(${host_libraries} loomwork_modules_common PROPERTIES
  VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})
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
  set_target_properties(${module_targets} PROPERTIES
    INSTALL_RPATH "$ORIGIN/../../../${CMAKE_INSTALL_LIBDIR};$ORIGIN/..")
  install(TARGETS ${module_targets} LIBRARY DESTINATION ${LOOMWORK_INSTALL_MODULEDIR})
endif()
if(TARGET loomwork_speech)
  set_target_properties(loomwork_speech PROPERTIES INSTALL_RPATH "$ORIGIN/..")
  install(TARGETS loomwork_speech LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/loomwork)
endif()

# Only the examples kept in the repository: what a run or a README recipe left beside them (pages
# written by lwd2html, pictures, caches) stays out. Without git (a source archive), the folder as
# it is, less those.
set(example_files "")
find_package(Git QUIET)
if(GIT_FOUND AND EXISTS ${PROJECT_SOURCE_DIR}/.git)
  execute_process(COMMAND ${GIT_EXECUTABLE} ls-files examples WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
                  OUTPUT_VARIABLE example_list RESULT_VARIABLE git_status ERROR_QUIET)
  if(git_status EQUAL 0)
    string(REPLACE "\n" ";" example_files "${example_list}")
  endif()
endif()
if(example_files)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/.git/index)
  foreach(f ${example_files})
    if(f)
      get_filename_component(sub ${f} DIRECTORY)
      string(REGEX REPLACE "^examples/?" "" sub "${sub}")
      set(mode "")
      if(IS_SYMLINK ${PROJECT_SOURCE_DIR}/${f})
        continue()
      endif()
      if(f MATCHES "\\.(sh|py)$")
        set(mode PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
      endif()
      install(FILES ${PROJECT_SOURCE_DIR}/${f} DESTINATION ${CMAKE_INSTALL_DATADIR}/loomwork/examples/${sub} ${mode})
    endif()
  endforeach()
else()
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/ DESTINATION ${CMAKE_INSTALL_DATADIR}/loomwork/examples
          USE_SOURCE_PERMISSIONS PATTERN "__pycache__" EXCLUDE PATTERN "*_lwd.html" EXCLUDE PATTERN "build" EXCLUDE)
endif()

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
if(TARGET loomwork_speech)
  # The recognizer's acoustic model and dictionary are data, not a library the scan finds.
  string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", pocketsphinx-en-us")
endif()
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "cmake, g++")
include(CPack)
