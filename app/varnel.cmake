# varnel: the Qt window.
if(VARNEL_BUILD_UI)
  add_executable(varnel ${CMAKE_CURRENT_LIST_DIR}/varnel_main.cpp)
  target_link_libraries(varnel PRIVATE varnel_widgets)
endif()
