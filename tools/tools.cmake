# varnel_tools: the study simulator, the scoring against its ground truth,
# the import of other tools' feature lists and the writer of the annotated
# databases both make, the terminal progress bar and the stop signals, shared
# by the command-line programs and by tests of every area.
add_library(varnel_tools STATIC
  ${CMAKE_CURRENT_LIST_DIR}/simulate.cpp
  ${CMAKE_CURRENT_LIST_DIR}/simulate_signal.cpp
  ${CMAKE_CURRENT_LIST_DIR}/evaluate_signal.cpp
  ${CMAKE_CURRENT_LIST_DIR}/annotated_writer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/progress_bar.cpp
  ${CMAKE_CURRENT_LIST_DIR}/cli_number.cpp
  ${CMAKE_CURRENT_LIST_DIR}/evaluate.cpp
  ${CMAKE_CURRENT_LIST_DIR}/import_common.cpp
  ${CMAKE_CURRENT_LIST_DIR}/import_delimited.cpp
  ${CMAKE_CURRENT_LIST_DIR}/import_featurexml.cpp
  ${CMAKE_CURRENT_LIST_DIR}/import_write.cpp
  ${CMAKE_CURRENT_LIST_DIR}/stop_signals.cpp)
target_include_directories(varnel_tools PUBLIC ${PROJECT_SOURCE_DIR})
# featureXML is read with expat (Debian's libexpat1-dev): a streaming parser
# that keeps the tools free of Qt, so the build without the window has it too.
find_package(EXPAT REQUIRED)
target_link_libraries(varnel_tools PUBLIC varnel_run varnel_export varnel_align varnel_storage varnel_model SQLite::SQLite3
                      PRIVATE EXPAT::EXPAT)
