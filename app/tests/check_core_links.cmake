# Fails when the program given as PROGRAM needs a Qt Widgets or Qt Gui library.
# Run as: cmake -DPROGRAM=<file> -P check_core_links.cmake
execute_process(COMMAND ldd "${PROGRAM}" OUTPUT_VARIABLE libs RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "ldd could not read ${PROGRAM}")
endif()
if(NOT libs MATCHES "libQt6Core")
  message(FATAL_ERROR "${PROGRAM} does not list Qt Core: the check would see nothing\n${libs}")
endif()
if(libs MATCHES "libQt6(Widgets|Gui)[^\n]*")
  message(FATAL_ERROR "the program's core links ${CMAKE_MATCH_0}; it must stay headless")
endif()
message(STATUS "the core links Qt Core only")
