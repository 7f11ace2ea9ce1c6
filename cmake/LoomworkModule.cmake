# add_loomwork_module(NAME SOURCES...)
# Builds NAME.so (no "lib" prefix) into build/modules/ and an object library NAME_obj that tests
# link directly, so a test sees the module's class without loading the library.
function(add_loomwork_module name)
  add_library(${name}_obj OBJECT ${ARGN})
  set_target_properties(${name}_obj PROPERTIES POSITION_INDEPENDENT_CODE ON)
  target_link_libraries(${name}_obj PUBLIC loomwork_modules_common)
  loomwork_warnings(${name}_obj)
  add_library(${name} MODULE $<TARGET_OBJECTS:${name}_obj>)
  target_link_libraries(${name} PRIVATE loomwork_modules_common)
  set_target_properties(${name} PROPERTIES
    PREFIX "" SUFFIX ".so"
    LIBRARY_OUTPUT_DIRECTORY ${LOOMWORK_MODULE_DIR})
  set_property(GLOBAL APPEND PROPERTY LOOMWORK_MODULE_TARGETS ${name})
endfunction()

# add_loomwork_test(NAME SOURCES... LIBS libs...)
function(add_loomwork_test name)
  cmake_parse_arguments(T "" "" "LIBS" ${ARGN})
  add_executable(${name} ${T_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  loomwork_warnings(${name})
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120
    ENVIRONMENT "LOOMWORK_MODULES=${LOOMWORK_MODULE_DIR}")
endfunction()
