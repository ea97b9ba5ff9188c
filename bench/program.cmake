# The program's start-up: WaveHarvester's window against a minimal wx frame.
if(TARGET WaveHarvester)
    add_executable(minimal_wx_frame ${CMAKE_CURRENT_LIST_DIR}/MinimalFrame.cpp)
    target_link_libraries(minimal_wx_frame PRIVATE wh_wx)
    set(WH_MINIMAL_FRAME ${CMAKE_CURRENT_BINARY_DIR}/minimal_wx_frame)
    set(WH_PROGRAM $<TARGET_FILE:WaveHarvester>)
    configure_file(${CMAKE_CURRENT_LIST_DIR}/ProgramStartup.sh.in
                   ${CMAKE_CURRENT_BINARY_DIR}/ProgramStartup.sh.configured @ONLY)
    file(GENERATE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/bench_program_startup
         INPUT ${CMAKE_CURRENT_BINARY_DIR}/ProgramStartup.sh.configured
         FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
endif()
