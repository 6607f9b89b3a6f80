# Fails when the program given as PROGRAM needs Qt Widgets or Qt Print Support:
# the reports' core renders with Qt Gui only.
# Run as: cmake -DPROGRAM=<file> -P check_reports_links.cmake
execute_process(COMMAND ldd "${PROGRAM}" OUTPUT_VARIABLE libs RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "ldd could not read ${PROGRAM}")
endif()
if(NOT libs MATCHES "libQt6Gui")
  message(FATAL_ERROR "${PROGRAM} does not list Qt Gui: the check would see nothing\n${libs}")
endif()
if(libs MATCHES "libQt6(Widgets|PrintSupport)[^\n]*")
  message(FATAL_ERROR "the reports' core links ${CMAKE_MATCH_0}; only app/reports/gui may")
endif()
