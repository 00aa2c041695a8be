add_executable(varnel-export ${CMAKE_CURRENT_LIST_DIR}/varnel_export.cpp)
target_link_libraries(varnel-export PRIVATE varnel_export varnel_run CLI11::CLI11)
target_compile_definitions(varnel-export PRIVATE VARNEL_VERSION="${PROJECT_VERSION}")
