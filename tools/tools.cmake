# varnel_tools: the study simulator, the scoring against its ground truth,
# the terminal progress bar, shared by the command-line
# programs and by tests of every area. (The import of other tools' feature
# lists is import/; the writer of annotated databases is in storage/.)
add_library(varnel_tools STATIC
  ${CMAKE_CURRENT_LIST_DIR}/simulate.cpp
  ${CMAKE_CURRENT_LIST_DIR}/simulate_signal.cpp
  ${CMAKE_CURRENT_LIST_DIR}/evaluate_signal.cpp
  ${CMAKE_CURRENT_LIST_DIR}/progress_bar.cpp
  ${CMAKE_CURRENT_LIST_DIR}/cli_number.cpp
  ${CMAKE_CURRENT_LIST_DIR}/evaluate.cpp)
target_include_directories(varnel_tools PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(varnel_tools PUBLIC varnel_run varnel_export varnel_align varnel_storage varnel_model SQLite::SQLite3)
