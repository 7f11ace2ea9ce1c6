# add_loomwork_module(NAME SOURCES...)
# Builds NAME.so (no "lib" prefix) into build/modules/ and an object library NAME_obj that tests
# link directly, so a test sees the module's class without loading the library. The module's
# folder is on the include path of both and of whatever links NAME_obj.
function(add_loomwork_module name)
  add_library(${name}_obj OBJECT ${ARGN})
  set_target_properties(${name}_obj PROPERTIES POSITION_INDEPENDENT_CODE ON)
  target_include_directories(${name}_obj PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(${name}_obj PUBLIC loomwork_modules_common)
  loomwork_warnings(${name}_obj)
  add_library(${name} MODULE)
  target_link_libraries(${name} PRIVATE ${name}_obj)
  set_target_properties(${name} PROPERTIES
    PREFIX "" SUFFIX ".so"
    LIBRARY_OUTPUT_DIRECTORY ${LOOMWORK_MODULE_DIR})
  add_dependencies(loomwork_modules ${name})
  set_property(GLOBAL APPEND PROPERTY LOOMWORK_MODULE_TARGETS ${name})
endfunction()

# add_loomwork_test(NAME SOURCES... [LIBS libs...] [CLI] [LONG])
# A GoogleTest program run by ctest. With CLI it runs the real loomwork command: it is built after
# loomwork and every module library, and knows LOOMWORK_BIN, LOOMWORK_MODULES_DIR and
# LOOMWORK_SOURCE_DIR. Every test knows LOOMWORK_SOURCE_DIR (examples, golden files).
# LONG marks tests of a minute or more: ctest starts them first (on a fresh machine it has no
# timings of its own to go by) and gives them longer before it calls them hung.
function(add_loomwork_test name)
  cmake_parse_arguments(T "CLI;LONG" "" "LIBS" ${ARGN})
  add_executable(${name} ${T_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  target_compile_definitions(${name} PRIVATE LOOMWORK_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  if(T_CLI)
    target_compile_definitions(${name} PRIVATE LOOMWORK_BIN="$<TARGET_FILE:loomwork>"
                               LOOMWORK_MODULES_DIR="${LOOMWORK_MODULE_DIR}")
    add_dependencies(${name} loomwork loomwork_modules)
  endif()
  loomwork_warnings(${name})
  set(timing TIMEOUT 120)
  if(T_LONG)
    set(timing TIMEOUT 600 COST 1000)
  endif()
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES ${timing}
    ENVIRONMENT "LOOMWORK_MODULES=${LOOMWORK_MODULE_DIR}")
endfunction()

# Links target with every module's object library and the programs' own libraries (those that
# exist): what benchmarks and fuzz targets are built against.
function(loomwork_link_everything target)
  get_property(module_targets GLOBAL PROPERTY LOOMWORK_MODULE_TARGETS)
  foreach(m ${module_targets})
    target_link_libraries(${target} PRIVATE ${m}_obj)
  endforeach()
  foreach(lib ${LOOMWORK_PROGRAM_LIBRARIES})
    if(TARGET ${lib})
      target_link_libraries(${target} PRIVATE ${lib})
    endif()
  endforeach()
endfunction()
