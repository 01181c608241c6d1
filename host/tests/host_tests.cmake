# The host's tests, with tiny plug-ins built into a folder of their own so
# they never land in the real program folder.
set(HOST_TEST_PLUGIN_DIR ${CMAKE_BINARY_DIR}/tests/host_plugins)
set(host_test_plugins)
# name, accepted interface version (0: no PluginLoad at all)
foreach(spec "aa_first;5" "bb_second;5" "cc_refuses;4" "dd_noexport;0")
  list(GET spec 0 name)
  list(GET spec 1 version)
  add_library(${name} MODULE ${CMAKE_CURRENT_LIST_DIR}/plugins/test_plugin.cpp)
  olvaro_stamp(${name})
  target_link_libraries(${name} PRIVATE api)
  target_compile_definitions(${name} PRIVATE TEST_PLUGIN_NAME="${name}" TEST_PLUGIN_VERSION=${version})
  # Unique symbols would keep a refused library from being unloaded.
  target_compile_options(${name} PRIVATE -fno-gnu-unique)
  set_target_properties(${name} PROPERTIES PREFIX "" LIBRARY_OUTPUT_DIRECTORY ${HOST_TEST_PLUGIN_DIR})
  list(APPEND host_test_plugins ${name})
endforeach()

olvaro_sources(HOST_TESTS ${CMAKE_CURRENT_LIST_DIR})
olvaro_test(NAME host_tests SOURCES ${HOST_TESTS} LIBS olvaro_host_core api_testkit)
add_dependencies(host_tests olvaro ${host_test_plugins})
target_compile_definitions(host_tests PRIVATE
  HOST_TEST_PLUGIN_DIR="${HOST_TEST_PLUGIN_DIR}/"
  HOST_PROGRAM="$<TARGET_FILE:olvaro>")
# The real program signs in to the reference server in some tests.
if("server" IN_LIST OLVARO_MODULES AND "connection" IN_LIST OLVARO_MODULES)
  target_link_libraries(host_tests PRIVATE olvaro_server_core)
  target_compile_definitions(host_tests PRIVATE HOST_TEST_SERVER=1)
  add_dependencies(host_tests connection)
endif()
olvaro_add_resources(host_tests ICONS ${HOST_ICONS} FILES ${HOST_RESOURCE_FILES})

# The installed program: cmake --install into a fresh prefix, and the
# installed client signs in to the installed server.
if("server" IN_LIST OLVARO_MODULES AND "connection" IN_LIST OLVARO_MODULES AND "messaging" IN_LIST OLVARO_MODULES
   AND "panorel" IN_LIST OLVARO_MODULES AND "updates" IN_LIST OLVARO_MODULES AND "glimmet" IN_LIST OLVARO_MODULES)
  add_test(NAME host_install COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/install_test.sh ${CMAKE_BINARY_DIR})
  set_tests_properties(host_install PROPERTIES LABELS integration TIMEOUT 300)
endif()
