# varnel-report: the quality page of an aligned result, drawn offscreen.
if(VARNEL_BUILD_UI)
  add_executable(varnel-report ${CMAKE_CURRENT_LIST_DIR}/varnel_report.cpp)
  target_link_libraries(varnel-report PRIVATE varnel_widgets CLI11::CLI11)
endif()
