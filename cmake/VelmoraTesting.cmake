# velmora_test(<name> SOURCES <files...> [LIBS <targets...>] [HOST full|lacks_jis|lacks_regist]
#              [TIMEOUT <s>] [NO_GTEST_MAIN])
# Adds a GoogleTest program and runs it as one CTest test: natively, or under Wine in the
# cross build. HOST makes the program the stand-in host: it exports the host functions
# under their decorated names (all of them, or all but one).
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
  add_test(NAME ${name} COMMAND ${name} --gtest_color=no)
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT})
  if(WIN32)
    # One Wine program at a time: they share one X display, and with it the clipboard,
    # the focus and the menus, and one Wine session.
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wineprefix RESOURCE_LOCK wine_desktop
                         ENVIRONMENT VELMORA_WINEARCH=${VELMORA_WINEARCH} LABELS wine)
  endif()
endfunction()
