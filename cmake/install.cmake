# cmake --install [--prefix P]: the program folder (host, hub, platform and
# plug-ins side by side, as the host expects them) in P/lib/olvaro, a
# launcher P/bin/olvaro that is a link to the host there, the desktop entry
# and the icon in the freedesktop folders of P/share, and the server in
# P/bin. Test programs and benchmarks stay in the build folder.
set(OLVARO_PROGRAM_FOLDER lib/olvaro)

set(program_targets)
foreach(target olvaro api platform connection messaging panorel updates glimmet)
  if(TARGET ${target})
    list(APPEND program_targets ${target})
  endif()
endforeach()
if(program_targets)
  install(TARGETS ${program_targets}
          RUNTIME DESTINATION ${OLVARO_PROGRAM_FOLDER}
          LIBRARY DESTINATION ${OLVARO_PROGRAM_FOLDER})
endif()
if(TARGET olvaro-server)
  # It links none of the program folder's libraries.
  install(TARGETS olvaro-server RUNTIME DESTINATION bin)
endif()

if(TARGET olvaro)
  # A relative link: the host finds its plug-ins beside where it really is.
  install(CODE "
    set(bin \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/bin\")
    file(MAKE_DIRECTORY \"\${bin}\")
    file(REMOVE \"\${bin}/olvaro\")
    file(CREATE_LINK ../${OLVARO_PROGRAM_FOLDER}/olvaro \"\${bin}/olvaro\" SYMBOLIC)
    message(STATUS \"Installing: \${bin}/olvaro -> ../${OLVARO_PROGRAM_FOLDER}/olvaro\")")
  install(FILES ${CMAKE_SOURCE_DIR}/host/desktop/olvaro.desktop DESTINATION share/applications)

  # The program's icon, as PNGs of the sizes the icon resource holds.
  find_program(OLVARO_CONVERT convert)
  get_property(icon_dir GLOBAL PROPERTY OLVARO_ICON_DIR)
  if(OLVARO_CONVERT)
    set(png_files)
    # frame of AA_ORVALO.ico with the most colours, per size
    foreach(spec "16;1" "22;3" "32;5")
      list(GET spec 0 size)
      list(GET spec 1 frame)
      set(png ${CMAKE_BINARY_DIR}/share/icons/${size}/olvaro.png)
      add_custom_command(OUTPUT ${png}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/share/icons/${size}
        COMMAND ${OLVARO_CONVERT} ${icon_dir}/AA_ORVALO.ico[${frame}] PNG32:${png}
        DEPENDS olvaro_icons ${icon_dir}/AA_ORVALO.ico
        VERBATIM)
      list(APPEND png_files ${png})
      install(FILES ${png} DESTINATION share/icons/hicolor/${size}x${size}/apps)
    endforeach()
    add_custom_target(olvaro_desktop_icons ALL DEPENDS ${png_files})
  else()
    message(STATUS "ImageMagick's convert not found: the installed program has no desktop icon")
  endif()
endif()
