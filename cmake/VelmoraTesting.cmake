# velmora_test(<name> SOURCES <files...> [LIBS <targets...>] [HOST full|lacks_jis|lacks_regist]
#              [TIMEOUT <s>] [NO_GTEST_MAIN])
# Adds a GoogleTest program and runs it as one CTest test: natively, or under Wine in the
# cross build. HOST makes the program the stand-in host: it exports the host functions
# under their decorated names (all of them, or all but one).
# Under software emulation (the 32-bit suite in a virtual machine) every program runs many
# times slower: VELMORA_TIMEOUT_SCALE in the environment of the configure run stretches every
# time-out by that factor.
set(VELMORA_TIMEOUT_SCALE 1)
if(DEFINED ENV{VELMORA_TIMEOUT_SCALE})
  set(VELMORA_TIMEOUT_SCALE $ENV{VELMORA_TIMEOUT_SCALE})
endif()
# VELMORA_DESKTOPS in the environment of the configure run (scripts/wine-desktops runs the
# suite): each Wine program asks CTest for a desktop of its own instead of waiting for the
# one display, so that as many run side by side.
set(VELMORA_DESKTOPS 1)
if(DEFINED ENV{VELMORA_DESKTOPS})
  set(VELMORA_DESKTOPS $ENV{VELMORA_DESKTOPS})
endif()
# velmora_timeout(<var> <seconds>): the time-out a test gets, scaled.
function(velmora_timeout var seconds)
  math(EXPR scaled "${seconds} * ${VELMORA_TIMEOUT_SCALE}")
  set(${var} ${scaled} PARENT_SCOPE)
endfunction()

function(velmora_test name)
  cmake_parse_arguments(T "NO_GTEST_MAIN" "HOST;TIMEOUT" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  if(T_NO_GTEST_MAIN)
    target_link_libraries(${name} PRIVATE gtest ${T_LIBS})
  else()
    target_link_libraries(${name} PRIVATE gtest_main ${T_LIBS})
  endif()
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR})
  if(T_HOST)
    velmora_make_host(${name} ${T_HOST})
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  velmora_timeout(T_TIMEOUT ${T_TIMEOUT})
  add_test(NAME ${name} COMMAND ${name} --gtest_color=no)
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT})
  if(WIN32)
    # One Wine program at a time: they share one X display, and with it the clipboard,
    # the focus and the menus, and one Wine session.
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wineprefix
                         ENVIRONMENT VELMORA_WINEARCH=${VELMORA_WINEARCH} LABELS wine)
    velmora_desktop(${name})
  endif()
endfunction()

# velmora_desktop(<test>): the test has a display and a Wine session to itself: the one,
# or one of VELMORA_DESKTOPS.
function(velmora_desktop name)
  if(VELMORA_DESKTOPS GREATER 1)
    # (run without the desktops, the program says so rather than share a display unawares)
    set_tests_properties(${name} PROPERTIES RESOURCE_GROUPS desktops:1)
    set_property(TEST ${name} APPEND PROPERTY ENVIRONMENT VELMORA_DESKTOP_WANTED=1)
  else()
    set_tests_properties(${name} PROPERTIES RESOURCE_LOCK wine_desktop)
  endif()
endfunction()
