# Fails when a source file includes a header of a layer above its own.
#
#   cmake -DROOT=<tree> -P check_includes.cmake
#
# The layers, lowest first: platform < plugin < modes < pages < torvane < host.
# Torvane's layers (plugin to torvane) reach the platform only through the
# interfaces the client host gives a plug-in (zvApi, the controls, the window
# framework, the host API); the station, the runner and the Windows services
# belong to the host and the upgrade program. The upgrade program stands on
# zvApi and the Windows services alone. A relative include that climbs out of
# its folder ("../") is refused everywhere: it would walk past these rules.
cmake_minimum_required(VERSION 3.22)

if(NOT ROOT)
  message(FATAL_ERROR "usage: cmake -DROOT=<source tree> -P check_includes.cmake")
endif()

# Rank of each layer a file can live in.
set(rank_platform 0)
set(rank_plugin 1)
set(rank_modes 2)
set(rank_pages 3)
set(rank_torvane 4)
set(rank_host 5)

# The layer an include's first folder names.
set(layer_of_zvapi platform)
set(layer_of_zvcontrols platform)
set(layer_of_winframe platform)
set(layer_of_hostapi platform)
set(layer_of_zvrunner platform)
set(layer_of_zvstation platform)
set(layer_of_winsvc platform)
set(layer_of_plugin plugin)
set(layer_of_modes modes)
set(layer_of_pages pages)
set(layer_of_torvane torvane)

set(plugin_platform zvapi zvcontrols winframe hostapi)
set(upgrade_may zvapi winsvc)

set(failures "")

# The host's folders by role: loop < output < web, cli. Its sources include
# each other's headers by bare name (each folder's library publishes its
# own folder), so a header is placed by the folder that holds it. The
# command line may include the web server's serve.hpp; the web server
# includes nothing of the command line.
set(host_rank_loop 0)
set(host_rank_output 1)
set(host_rank_web 2)
set(host_rank_cli 2)
function(check_host_include source shown target)
  file(RELATIVE_PATH inside ${ROOT}/host ${source})
  string(REGEX REPLACE "/.*$" "" from "${inside}")
  if(NOT DEFINED host_rank_${from})
    return()
  endif()
  foreach(to loop output web cli)
    if(NOT EXISTS ${ROOT}/host/${to}/${target} OR to STREQUAL from)
      continue()
    endif()
    if(${host_rank_${to}} GREATER ${host_rank_${from}} OR (from STREQUAL "web" AND to STREQUAL "cli"))
      list(APPEND failures "${shown}: \"${target}\" points up (the host's ${from} may not include ${to})")
      set(failures "${failures}" PARENT_SCOPE)
    endif()
  endforeach()
endfunction()
foreach(layer platform plugin modes pages torvane upgrade host)
  file(GLOB_RECURSE sources LIST_DIRECTORIES false
       ${ROOT}/${layer}/*.cpp ${ROOT}/${layer}/*.hpp ${ROOT}/${layer}/*.h)
  foreach(source IN LISTS sources)
    file(STRINGS ${source} lines REGEX "^[ \t]*#[ \t]*include[ \t]*[\"<]")
    file(RELATIVE_PATH shown ${ROOT} ${source})
    foreach(line IN LISTS lines)
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*[\"<]([^\">]*)[\">].*$" "\\1" target "${line}")
      if(target MATCHES "(^|/)\\.\\./")
        list(APPEND failures "${shown}: \"${target}\" climbs out of its folder")
        continue()
      endif()
      if(NOT target MATCHES "/")
        if(layer STREQUAL "host")
          check_host_include("${source}" "${shown}" "${target}")
        endif()
        continue()
      endif()
      string(REGEX REPLACE "/.*$" "" top "${target}")
      if(NOT DEFINED layer_of_${top})
        continue()
      endif()
      set(to ${layer_of_${top}})
      if(layer STREQUAL "upgrade")
        if(NOT top IN_LIST upgrade_may)
          list(APPEND failures "${shown}: \"${target}\" (the upgrade program uses only zvApi and the Windows services)")
        endif()
        continue()
      endif()
      if(${rank_${to}} GREATER ${rank_${layer}})
        list(APPEND failures "${shown}: \"${target}\" points up (${layer} may not include ${to})")
      elseif(to STREQUAL "platform" AND ${rank_${layer}} GREATER 0 AND ${rank_${layer}} LESS 5
             AND NOT top IN_LIST plugin_platform)
        list(APPEND failures "${shown}: \"${target}\" is the host's platform, not a plug-in's")
      endif()
    endforeach()
  endforeach()
endforeach()

if(failures)
  list(LENGTH failures count)
  list(JOIN failures "\n  " text)
  message(FATAL_ERROR "${count} include(s) break the layer order:\n  ${text}")
endif()
message(STATUS "every include points down or sideways")
