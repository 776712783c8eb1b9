# rc_report_text: host/report's text tables and the text made safe for a terminal or a
# spreadsheet, plain text functions without a dependency, in a library of their own so that the
# fuzz target of the text cleaning links nothing else. Included by the root CMakeLists.txt before
# the fuzzing build stops; rc_report links it.
add_library(rc_report_text STATIC ${CMAKE_CURRENT_LIST_DIR}/text_table.cpp
                                  ${CMAKE_CURRENT_LIST_DIR}/safe_text.cpp)
target_include_directories(rc_report_text PUBLIC ${PROJECT_SOURCE_DIR})
