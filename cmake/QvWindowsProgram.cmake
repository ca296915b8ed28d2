# What a Windows program carries in itself: a version resource (file and
# product version from project(VERSION), company, the Russian description)
# and the loader's icon, made at build time from packaging/qvloader.svg with
# Debian's rsvg-convert and icotool.
#   qv_windows_program(TARGET "Russian description")
# Does nothing on other systems.
if(WIN32)
  find_program(QV_RSVG_CONVERT rsvg-convert REQUIRED)
  find_program(QV_ICOTOOL icotool REQUIRED)
  set(QV_ICON ${CMAKE_BINARY_DIR}/windows/qvloader.ico)
  set(qv_icon_sizes 16 24 32 48 64 256)
  set(qv_icon_pngs)
  foreach(size IN LISTS qv_icon_sizes)
    list(APPEND qv_icon_pngs ${CMAKE_BINARY_DIR}/windows/icon/qvloader-${size}.png)
  endforeach()
  set(qv_icon_commands)
  foreach(size IN LISTS qv_icon_sizes)
    list(APPEND qv_icon_commands COMMAND ${QV_RSVG_CONVERT} -w ${size} -h ${size} -o
         ${CMAKE_BINARY_DIR}/windows/icon/qvloader-${size}.png ${PROJECT_SOURCE_DIR}/packaging/qvloader.svg)
  endforeach()
  # The 256-pixel picture is stored as PNG inside the icon, as Windows expects.
  add_custom_command(OUTPUT ${QV_ICON}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/windows/icon
    ${qv_icon_commands}
    COMMAND ${QV_ICOTOOL} -c -o ${QV_ICON} ${CMAKE_BINARY_DIR}/windows/icon/qvloader-16.png
            ${CMAKE_BINARY_DIR}/windows/icon/qvloader-24.png ${CMAKE_BINARY_DIR}/windows/icon/qvloader-32.png
            ${CMAKE_BINARY_DIR}/windows/icon/qvloader-48.png ${CMAKE_BINARY_DIR}/windows/icon/qvloader-64.png
            -r ${CMAKE_BINARY_DIR}/windows/icon/qvloader-256.png
    DEPENDS ${PROJECT_SOURCE_DIR}/packaging/qvloader.svg
    COMMENT "Making the icon qvloader.ico"
    VERBATIM)
  add_custom_target(qv_icon DEPENDS ${QV_ICON})

  file(READ ${PROJECT_SOURCE_DIR}/LICENSE qv_licence)
  string(REGEX MATCH "Copyright \\(c\\) ([^\n]+)" qv_found "${qv_licence}")
  set(QV_RC_COPYRIGHT "© ${CMAKE_MATCH_1}")
endif()

function(qv_windows_program target description)
  if(NOT WIN32)
    return()
  endif()
  set(QV_RC_NAME ${target})
  set(QV_RC_DESCRIPTION "${description}")
  set(QV_RC_ICON "1 ICON \"${QV_ICON}\"")
  set(rc ${CMAKE_BINARY_DIR}/windows/${target}.rc)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/program.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
  set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS ${QV_ICON})
  add_dependencies(${target} qv_icon)
endfunction()
