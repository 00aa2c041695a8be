add_executable(varnel-merge ${CMAKE_CURRENT_LIST_DIR}/varnel_merge.cpp)
target_link_libraries(varnel-merge PRIVATE varnel_cohort CLI11::CLI11)
target_compile_definitions(varnel-merge PRIVATE VARNEL_VERSION="${PROJECT_VERSION}")
