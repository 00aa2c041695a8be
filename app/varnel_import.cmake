add_executable(varnel-import ${CMAKE_CURRENT_LIST_DIR}/varnel_import.cpp)
target_link_libraries(varnel-import PRIVATE varnel_import varnel_tools CLI11::CLI11)
