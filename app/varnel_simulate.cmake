add_executable(varnel-simulate ${CMAKE_CURRENT_LIST_DIR}/varnel_simulate.cpp)
target_link_libraries(varnel-simulate PRIVATE varnel_tools CLI11::CLI11)
