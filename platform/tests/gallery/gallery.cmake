# platform_gallery: every standard control, a soft-key bar with a menu,
# message boxes, a tray icon and a bubble on the device screen, for
# screenshots and for a person to try. The controls' window test runs it.
add_executable(platform_gallery ${CMAKE_CURRENT_LIST_DIR}/gallery.cpp)
target_link_libraries(platform_gallery PRIVATE platform)
if(TARGET platform_tests)
  add_dependencies(platform_tests platform_gallery)
  target_compile_definitions(platform_tests PRIVATE OLVARO_GALLERY="$<TARGET_FILE:platform_gallery>")
endif()
