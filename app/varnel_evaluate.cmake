add_executable(varnel-evaluate ${CMAKE_CURRENT_LIST_DIR}/varnel_evaluate.cpp)
target_link_libraries(varnel-evaluate PRIVATE varnel_tools varnel_storage CLI11::CLI11)
