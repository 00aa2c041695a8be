add_executable(varnel-align ${CMAKE_CURRENT_LIST_DIR}/varnel_align.cpp
                            ${CMAKE_CURRENT_LIST_DIR}/varnel_align_shard.cpp)
target_link_libraries(varnel-align PRIVATE varnel_tools varnel_cohort CLI11::CLI11)
