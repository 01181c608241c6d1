# olvaro_test(NAME name SOURCES ... LIBS ... [LABELS ...])
# One GoogleTest program per module; tests run from the program folder so the
# modules it loads lie beside it. Tests labelled "unit" run again under the
# sanitizers.
function(olvaro_test)
  cmake_parse_arguments(T "" "NAME" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main Threads::Threads)
  set_target_properties(${T_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  add_test(NAME ${T_NAME} COMMAND ${T_NAME} --gtest_brief=1 WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  if(NOT T_LABELS)
    set(T_LABELS unit)
  endif()
  set_tests_properties(${T_NAME} PROPERTIES LABELS "${T_LABELS}" TIMEOUT 600)
endfunction()

# olvaro_sources(<var> <folder> [EXCLUDE <file>...])
# Every .cpp in a module's folder (src/ or tests/), found again when files
# are added, less the ones named: the one way a module lists its sources.
function(olvaro_sources var folder)
  cmake_parse_arguments(S "" "" "EXCLUDE" ${ARGN})
  file(GLOB found CONFIGURE_DEPENDS ${folder}/*.cpp)
  foreach(name ${S_EXCLUDE})
    list(REMOVE_ITEM found ${folder}/${name})
  endforeach()
  set(${var} ${found} PARENT_SCOPE)
endfunction()
