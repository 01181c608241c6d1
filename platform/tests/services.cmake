# The service tests' extras: a plug-in-like library to load and the
# resources the tests look up in the test program itself.
if(TARGET platform_tests)
  add_library(services_testmod MODULE ${CMAKE_CURRENT_LIST_DIR}/modules/services_testmod.cpp)
  set_target_properties(services_testmod PROPERTIES PREFIX "" SUFFIX ".dll"
                        LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests/modules)
  add_dependencies(platform_tests services_testmod)
  target_compile_definitions(platform_tests PRIVATE SERVICES_TESTMOD="$<TARGET_FILE:services_testmod>")
  olvaro_add_resources(services_testmod ICONS CONTACT_PC 101=PHOTO SOUNDS 105=BEEP
                       FILES ${CMAKE_CURRENT_LIST_DIR}/data/services_testmod.strings)
  olvaro_add_resources(platform_tests
                       ICONS CONTACT_BOT CONTACT_PC CONTACT_MOBILE CONTACT_ONLINE OVERLAY_AWAY OVERLAY_BUSY
                       FILES ${CMAKE_CURRENT_LIST_DIR}/data/services.strings
                             ${CMAKE_CURRENT_LIST_DIR}/data/services.menubar
                             ${CMAKE_CURRENT_LIST_DIR}/data/beep.wav)
endif()
