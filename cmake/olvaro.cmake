# Run as a script at link time (see olvaro_stamp below): writes the build
# stamp note and assembles it into OUT.
if(CMAKE_SCRIPT_MODE_FILE AND OLVARO_STAMP_OUT)
  if(OLVARO_STAMP_VALUE)
    set(stamp ${OLVARO_STAMP_VALUE})
  else()
    # Honours SOURCE_DATE_EPOCH, so builds can be reproducible.
    string(TIMESTAMP stamp "%s" UTC)
  endif()
  set(source ${OLVARO_STAMP_OUT}.S)
  file(WRITE ${source} "\
  .section .note.olvaro.stamp,\"a\",%note
  .balign 4
  .long 7
  .long 4
  .long 1
  .asciz \"Olvaro\"
  .balign 4
  .long ${stamp}
  .balign 4
  .section .note.GNU-stack,\"\",%progbits
")
  execute_process(COMMAND ${OLVARO_STAMP_CC} -c ${source} -o ${OLVARO_STAMP_OUT} RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "could not assemble the build stamp")
  endif()
  return()
endif()

# olvaro_test(NAME name SOURCES ... LIBS ... [LABELS ...])
# One GoogleTest program per module; tests run from the program folder so the
# modules it loads lie beside it. Tests labelled "unit" run again under the
# sanitizers.
function(olvaro_test)
  cmake_parse_arguments(T "" "NAME" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  olvaro_stamp(${T_NAME})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main Threads::Threads)
  set_target_properties(${T_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  add_test(NAME ${T_NAME} COMMAND ${T_NAME} --gtest_brief=1 WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  if(NOT T_LABELS)
    set(T_LABELS unit)
  endif()
  set_tests_properties(${T_NAME} PROPERTIES LABELS "${T_LABELS}" TIMEOUT 600)
endfunction()

# olvaro_sources(<var> <folder>... [EXCLUDE <file name>...])
# Every .cpp in the folders given (a module's src/ or tests/, or the layer
# folders under them), found again when files are added, less the ones whose
# file name is listed: the one way a module lists its sources.
function(olvaro_sources var)
  cmake_parse_arguments(S "" "" "EXCLUDE" ${ARGN})
  set(result)
  foreach(folder ${S_UNPARSED_ARGUMENTS})
    file(GLOB found CONFIGURE_DEPENDS ${folder}/*.cpp)
    foreach(file ${found})
      get_filename_component(name ${file} NAME)
      if(NOT name IN_LIST S_EXCLUDE)
        list(APPEND result ${file})
      endif()
    endforeach()
  endforeach()
  set(${var} ${result} PARENT_SCOPE)
endfunction()

# Every module (program, shared library, plug-in) carries an ELF note
# "Olvaro", type 1, with its link time in seconds since 1970: the build stamp
# the update check reports and the About box shows. The note is made when the
# module links, so a rebuilt module gets a new stamp; the target property
# OLVARO_STAMP fixes the value (for test releases). Test programs and
# plug-ins get it from olvaro_test and olvaro_plugin; every other module
# calls olvaro_stamp itself.
set(OLVARO_STAMP_SCRIPT ${CMAKE_CURRENT_LIST_FILE})
function(olvaro_stamp target)
  get_target_property(type ${target} TYPE)
  get_target_property(imported ${target} IMPORTED)
  if(imported OR NOT type MATCHES "^(EXECUTABLE|SHARED_LIBRARY|MODULE_LIBRARY)$")
    return()
  endif()
  set(object ${CMAKE_CURRENT_BINARY_DIR}/CMakeFiles/${target}.dir/olvaro_stamp.o)
  add_custom_command(TARGET ${target} PRE_LINK
    COMMAND ${CMAKE_COMMAND} -DOLVARO_STAMP_OUT=${object} -DOLVARO_STAMP_CC=${CMAKE_C_COMPILER}
            -DOLVARO_STAMP_VALUE=$<TARGET_PROPERTY:${target},OLVARO_STAMP> -P ${OLVARO_STAMP_SCRIPT}
    VERBATIM)
  target_link_options(${target} PRIVATE ${object})
endfunction()

# olvaro_plugin(NAME <name> FOLDERS <src folder>... [LIBS <lib>...] [PLUGIN_LIBS <lib>...]
#               [ICONS <icon>...] [SOUNDS <sound>...] [FILES <resource file>...]
#               [TESTS <test source>... [TEST_LIBS <lib>...]
#                [TEST_ICONS <icon>...] [TEST_SOUNDS <sound>...] [TEST_FILES <resource file>...]])
# One plug-in: <name>_core, a static library of every unit in FOLDERS but
# plugin.cpp (test programs drive it without loading the plug-in), and
# <name>.so beside the host, src/plugin.cpp over the core (or over
# PLUGIN_LIBS), with its resources and build stamp. TESTS makes <name>_tests,
# the plug-in's unit test program, which stands in for the plug-in's module:
# it carries the same resources (or the TEST_ ones) and knows the built
# plug-in's path as <NAME>_PLUGIN. <NAME>_RESOURCES is left in the caller's
# scope for other test programs.
function(olvaro_plugin)
  cmake_parse_arguments(P "" "NAME" "FOLDERS;LIBS;PLUGIN_LIBS;ICONS;SOUNDS;FILES;TESTS;TEST_LIBS;TEST_ICONS;TEST_SOUNDS;TEST_FILES"
                        ${ARGN})
  set(hidden POSITION_INDEPENDENT_CODE ON CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
  olvaro_sources(sources ${P_FOLDERS} EXCLUDE plugin.cpp)
  add_library(${P_NAME}_core STATIC ${sources})
  target_include_directories(${P_NAME}_core PUBLIC ${P_FOLDERS})
  target_link_libraries(${P_NAME}_core PUBLIC ${P_LIBS})
  set_target_properties(${P_NAME}_core PROPERTIES ${hidden})

  if(NOT P_PLUGIN_LIBS)
    set(P_PLUGIN_LIBS ${P_NAME}_core)
  endif()
  add_library(${P_NAME} SHARED ${CMAKE_CURRENT_SOURCE_DIR}/src/plugin.cpp)
  target_link_libraries(${P_NAME} PRIVATE ${P_PLUGIN_LIBS})
  set_target_properties(${P_NAME} PROPERTIES PREFIX "" LIBRARY_OUTPUT_DIRECTORY ${OLVARO_BIN_DIR} ${hidden})
  olvaro_stamp(${P_NAME})

  set(resources)
  foreach(kind ICONS SOUNDS FILES)
    if(P_${kind})
      list(APPEND resources ${kind} ${P_${kind}})
    endif()
  endforeach()
  olvaro_add_resources(${P_NAME} ${resources})
  string(TOUPPER ${P_NAME} upper)
  set(${upper}_RESOURCES ${resources} PARENT_SCOPE)

  if(P_TESTS)
    set(test_resources)
    foreach(kind ICONS SOUNDS FILES)
      if(P_TEST_${kind})
        list(APPEND test_resources ${kind} ${P_TEST_${kind}})
      endif()
    endforeach()
    if(NOT test_resources)
      set(test_resources ${resources})
    endif()
    olvaro_test(NAME ${P_NAME}_tests SOURCES ${P_TESTS} LIBS ${P_NAME}_core ${P_TEST_LIBS})
    target_include_directories(${P_NAME}_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/tests)
    olvaro_add_resources(${P_NAME}_tests ${test_resources})
    target_compile_definitions(${P_NAME}_tests PRIVATE ${upper}_PLUGIN="$<TARGET_FILE:${P_NAME}>")
    add_dependencies(${P_NAME}_tests ${P_NAME})
  endif()
endfunction()
