# The program's images (":/images/<name>.svg") are icons of the Breeze theme.
# At configure time this writes <build>/style/resources.qrc: every name under
# style/images that the installed theme has points to the theme's file (links
# resolved), everything else to the program's own drawing. Besides the main
# image "images/<name>.svg" (the largest size taken) each size taken is
# listed as "images/<size>/<name>.svg", so that small icons are drawn from
# the theme's pixel-aligned small versions.
#
#   zel_breeze_resources(<output variable>)
#
# ZEL_BREEZE_DIR names the theme folder (default /usr/share/icons/breeze).

set(ZEL_BREEZE_DIR "/usr/share/icons/breeze" CACHE PATH "Breeze icon theme folder the program's images are taken from")

# Theme folders searched, in order; the first holding the name wins.
set(ZEL_BREEZE_CONTEXTS actions status emblems categories apps places devices mimetypes preferences applets)
# Sizes taken: those the panels and menus draw, and 64 for the dialogs'
# status icons (the theme's 64-pixel actions are coloured illustrations that
# do not match their small monochrome versions).
set(ZEL_BREEZE_SIZES 16 22 32)
set(ZEL_BREEZE_STATUS_SIZES 16 22 32 64)
set(ZEL_BREEZE_ALL_SIZES 8 12 16 22 24 32 48 64 96 128 256)

# Sets <files_var> to "size=path" items of the sizes taken for one name.
function(zel_breeze_find name files_var)
  set(found "")
  set(sizes ${ZEL_BREEZE_SIZES})
  foreach(context ${ZEL_BREEZE_CONTEXTS})
    foreach(size ${ZEL_BREEZE_ALL_SIZES})
      set(candidate "${ZEL_BREEZE_DIR}/${context}/${size}/${name}.svg")
      if(EXISTS "${candidate}")
        file(REAL_PATH "${candidate}" real)
        list(APPEND found "${size}=${real}")
      endif()
    endforeach()
    if(found)
      if(context STREQUAL "status")
        set(sizes ${ZEL_BREEZE_STATUS_SIZES})
      endif()
      break()
    endif()
  endforeach()
  set(taken "")
  foreach(item ${found})
    string(REGEX MATCH "^[0-9]+" size "${item}")
    if(size IN_LIST sizes)
      list(APPEND taken "${item}")
    endif()
  endforeach()
  # None of the wanted sizes: the largest there is.
  if(NOT taken AND found)
    list(GET found -1 largest)
    set(taken "${largest}")
  endif()
  set(${files_var} "${taken}" PARENT_SCOPE)
endfunction()

function(zel_breeze_resources output_var)
  set(own_folder "${CMAKE_SOURCE_DIR}/style/images")
  file(GLOB own_images RELATIVE "${own_folder}" CONFIGURE_DEPENDS "${own_folder}/*")
  list(SORT own_images)
  set(use_theme OFF)
  if(EXISTS "${ZEL_BREEZE_DIR}/index.theme")
    set(use_theme ON)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${ZEL_BREEZE_DIR}/index.theme")
  endif()
  set(entries "")
  set(from_theme 0)
  set(own_kept "")
  foreach(file_name ${own_images})
    get_filename_component(name "${file_name}" NAME_WLE)
    get_filename_component(extension "${file_name}" LAST_EXT)
    set(taken "")
    if(use_theme AND extension STREQUAL ".svg")
      zel_breeze_find("${name}" taken)
    endif()
    if(taken)
      math(EXPR from_theme "${from_theme} + 1")
      list(GET taken -1 main)
      string(REGEX REPLACE "^[0-9]+=" "" main "${main}")
      string(APPEND entries "    <file alias=\"images/${file_name}\">${main}</file>\n")
      foreach(item ${taken})
        string(REGEX MATCH "^[0-9]+" size "${item}")
        string(REGEX REPLACE "^[0-9]+=" "" path "${item}")
        string(APPEND entries "    <file alias=\"images/${size}/${file_name}\">${path}</file>\n")
      endforeach()
    else()
      list(APPEND own_kept "${name}")
      string(APPEND entries "    <file alias=\"images/${file_name}\">${own_folder}/${file_name}</file>\n")
    endif()
  endforeach()
  if(use_theme)
    list(JOIN own_kept ", " own_text)
    message(STATUS "Images: ${from_theme} from the Breeze icon theme in ${ZEL_BREEZE_DIR}; own drawings for ${own_text}")
  else()
    message(WARNING "The Breeze icon theme is not installed (${ZEL_BREEZE_DIR}/index.theme is missing): "
      "the program uses its own simple drawings for every image. Install the Debian package "
      "breeze-icon-theme (scripts/setup.sh does) and configure again.")
  endif()
  set(qrc "${CMAKE_BINARY_DIR}/style/resources.qrc")
  file(CONFIGURE OUTPUT "${qrc}" CONTENT "<RCC>\n  <qresource prefix=\"/\">\n${entries}  </qresource>\n</RCC>\n" @ONLY)
  set(${output_var} "${qrc}" PARENT_SCOPE)
endfunction()
