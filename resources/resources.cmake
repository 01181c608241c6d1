# olvaro_add_resources(<target> [ICONS <name>...] [SOUNDS <name>...] [FILES <source>...])
#
# Compiles a module's resources into it. ICONS names icons drawn by the
# shared generator (CONTACT_BOT, OVERLAY_AWAY, ...), SOUNDS its sounds
# (BEEP); "101=PHOTO" compiles the shared PHOTO as resource 101 (or under
# another name: "MYNAME=PHOTO"). FILES lists the
# module's own sources: .ico, .wav, .strings, .menubar (relative paths are
# taken from the calling folder). The target gets one generated source that
# registers the table when the module loads, and links the platform.
#
# Defined by resources/CMakeLists.txt, which the root adds before every other
# module, so each module's CMakeLists.txt can call it.
function(olvaro_add_resources target)
  cmake_parse_arguments(R "" "" "ICONS;SOUNDS;FILES" ${ARGN})
  get_property(icon_dir GLOBAL PROPERTY OLVARO_ICON_DIR)
  get_property(shared_icons GLOBAL PROPERTY OLVARO_SHARED_ICONS)
  get_property(shared_sounds GLOBAL PROPERTY OLVARO_SHARED_SOUNDS)
  set(sources)
  set(depends)
  foreach(kind ICONS SOUNDS)
    if(kind STREQUAL "ICONS")
      set(known ${shared_icons})
      set(ext ico)
    else()
      set(known ${shared_sounds})
      set(ext wav)
    endif()
    foreach(item ${R_${kind}})
      set(alias "")
      set(name ${item})
      if(item MATCHES "^([^=]+)=(.+)$")
        set(alias ${CMAKE_MATCH_1})
        set(name ${CMAKE_MATCH_2})
      endif()
      if(NOT name IN_LIST known)
        message(FATAL_ERROR "olvaro_add_resources: no shared ${ext} named ${name}")
      endif()
      list(APPEND depends ${icon_dir}/${name}.${ext})
      if(alias)
        list(APPEND sources ${icon_dir}/${name}.${ext}@${alias})
      else()
        list(APPEND sources ${icon_dir}/${name}.${ext})
      endif()
    endforeach()
  endforeach()
  foreach(file ${R_FILES})
    get_filename_component(file ${file} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
    list(APPEND sources ${file})
    list(APPEND depends ${file})
  endforeach()
  set(out ${CMAKE_CURRENT_BINARY_DIR}/${target}_resources.cpp)
  add_custom_command(
    OUTPUT ${out}
    COMMAND olvaro-rc ${out} ${sources}
    DEPENDS olvaro-rc ${depends}
    COMMENT "Compiling the resources of ${target}"
    VERBATIM)
  target_sources(${target} PRIVATE ${out})
  if(R_ICONS OR R_SOUNDS)
    add_dependencies(${target} olvaro_icons)
  endif()
  target_link_libraries(${target} PRIVATE platform)
endfunction()
