# The virtual device as a sound server's sink: capdrv's processor time and the delay it adds,
# against private PulseAudio and PipeWire servers (skipped where they are not installed).
find_program(WH_BENCH_PAPLAY paplay)
find_program(WH_BENCH_PIPEWIRE pipewire)
if(TARGET capdrv AND WH_BENCH_PAPLAY AND WH_BENCH_PIPEWIRE)
    add_executable(bench_server_sink ${CMAKE_CURRENT_LIST_DIR}/ServerSinkBenchmark.cpp)
    target_include_directories(bench_server_sink PRIVATE
        ${PROJECT_SOURCE_DIR}/bridge ${PROJECT_SOURCE_DIR}/tests/bridge ${PROJECT_SOURCE_DIR}/tests/support)
    target_link_libraries(bench_server_sink PRIVATE wh_capture wh_warnings)
    target_compile_definitions(bench_server_sink PRIVATE
        CAPDRV_PATH="$<TARGET_FILE:capdrv>" PAPLAY_PATH="${WH_BENCH_PAPLAY}"
        BRIDGE_LIBRARY_PATH="$<TARGET_FILE:capbrg32>" WRITER_PROCESS_PATH="")
    add_dependencies(bench_server_sink capdrv capbrg32)
else()
    message(STATUS "Sound server benchmark skipped (no capdrv, paplay or pipewire)")
endif()
