# The rooms of the code as libraries, each linked to the rooms that its line
# of the code map (scripts/include-rules.txt) names, and to no other: the
# table that the include check holds is the one the links are read from.
#
#   corvane_room(ROOM [MAP_LINE LINE] SOURCES...)
#       the library corvane_ROOM; its line of the map is ROOM/ unless
#       MAP_LINE names another (os has a line for each of its two sides)
#   corvane_link_rooms()
#       links every room, once all are declared
#   corvane_links_of(TARGET LINE)
#       links a program or test to the rooms that the map's LINE names
#
# A folder or header of the project on a line names the room it is in (its
# first folder). Natively the rooms are shared libraries linked with
# --no-undefined, so that a call into a room that the map keeps out is an
# undefined reference when the room is linked; the Windows build links them
# statically, as Corvane.exe needs.

set(CORVANE_MAP ${CMAKE_SOURCE_DIR}/scripts/include-rules.txt)
set_property(DIRECTORY ${CMAKE_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CORVANE_MAP})
file(STRINGS ${CORVANE_MAP} CORVANE_MAP_LINES REGEX "^[^# \t]")

function(corvane_room room)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "MAP_LINE" "")
  if(NOT arg_MAP_LINE)
    set(arg_MAP_LINE ${room}/)
  endif()
  if(WIN32)
    add_library(corvane_${room} STATIC ${arg_UNPARSED_ARGUMENTS})
  else()
    add_library(corvane_${room} SHARED ${arg_UNPARSED_ARGUMENTS})
    target_link_options(corvane_${room} PRIVATE -Wl,--no-undefined)
  endif()
  target_include_directories(corvane_${room} PUBLIC ${CMAKE_SOURCE_DIR})
  set_property(GLOBAL APPEND PROPERTY CORVANE_ROOMS ${room})
  set_property(GLOBAL PROPERTY CORVANE_MAP_LINE_${room} ${arg_MAP_LINE})
endfunction()

# The rooms that the map's line for NAME names, in the line's order; an error
# when no line starts with NAME.
function(corvane_rooms_named_by name out)
  get_property(rooms GLOBAL PROPERTY CORVANE_ROOMS)
  foreach(line IN LISTS CORVANE_MAP_LINES)
    string(REGEX MATCHALL "[^ \t]+" items "${line}")
    list(POP_FRONT items first)
    if(first STREQUAL name)
      set(named)
      foreach(item IN LISTS items)
        if(item MATCHES "^([a-z_0-9]+)/" AND CMAKE_MATCH_1 IN_LIST rooms)
          list(APPEND named ${CMAKE_MATCH_1})
        endif()
      endforeach()
      list(REMOVE_DUPLICATES named)
      set(${out} ${named} PARENT_SCOPE)
      return()
    endif()
  endforeach()
  message(FATAL_ERROR "${CORVANE_MAP} has no line for ${name}")
endfunction()

function(corvane_link_rooms)
  get_property(rooms GLOBAL PROPERTY CORVANE_ROOMS)
  foreach(room IN LISTS rooms)
    get_property(line GLOBAL PROPERTY CORVANE_MAP_LINE_${room})
    corvane_rooms_named_by(${line} named)
    list(REMOVE_ITEM named ${room})
    list(TRANSFORM named PREPEND corvane_)
    target_link_libraries(corvane_${room} PRIVATE ${named})
  endforeach()
endfunction()

function(corvane_links_of target name)
  corvane_rooms_named_by(${name} named)
  list(TRANSFORM named PREPEND corvane_)
  target_link_libraries(${target} PRIVATE ${named})
endfunction()
