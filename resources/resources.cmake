# olvaro_add_resources(<target> [ICONS <name>...] [FILES <source>...])
#
# Compiles a module's resources into it. ICONS names icons drawn by the
# shared generator (CONTACT_BOT, OVERLAY_AWAY, ...); FILES lists the
# module's own sources: .ico, .wav, .strings, .menubar (relative paths are
# taken from the calling folder). The target gets one generated source that
# registers the table when the module loads, and links the platform.
#
# Defined by resources/CMakeLists.txt, which the root adds before every other
# module, so each module's CMakeLists.txt can call it.
function(olvaro_add_resources target)
  cmake_parse_arguments(R "" "" "ICONS;FILES" ${ARGN})
  get_property(icon_dir GLOBAL PROPERTY OLVARO_ICON_DIR)
  get_property(shared GLOBAL PROPERTY OLVARO_SHARED_ICONS)
  set(sources)
  foreach(icon ${R_ICONS})
    if(NOT icon IN_LIST shared)
      message(FATAL_ERROR "olvaro_add_resources: no shared icon named ${icon}")
    endif()
    list(APPEND sources ${icon_dir}/${icon}.ico)
  endforeach()
  foreach(file ${R_FILES})
    get_filename_component(file ${file} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
    list(APPEND sources ${file})
  endforeach()
  set(out ${CMAKE_CURRENT_BINARY_DIR}/${target}_resources.cpp)
  add_custom_command(
    OUTPUT ${out}
    COMMAND olvaro-rc ${out} ${sources}
    DEPENDS olvaro-rc ${sources}
    COMMENT "Compiling the resources of ${target}"
    VERBATIM)
  target_sources(${target} PRIVATE ${out})
  if(R_ICONS)
    add_dependencies(${target} olvaro_icons)
  endif()
  target_link_libraries(${target} PRIVATE platform)
endfunction()
