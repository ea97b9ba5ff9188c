# The recording engine's cost: processor time of the recorder per second of recorded sound, with a
# writer process paced like a player, and the delay from a buffer posted to its samples written
# to the temporary capture file; references are cat of the same bytes and a bare posted message.
if(TARGET capbrg32 AND TARGET wh_recorder)
    add_executable(bench_recording ${CMAKE_CURRENT_LIST_DIR}/RecordingBenchmark.cpp)
    target_link_libraries(bench_recording PRIVATE wh_recorder wh_warnings ${CMAKE_DL_LIBS})
    target_include_directories(bench_recording PRIVATE ${PROJECT_SOURCE_DIR}/bridge
        ${PROJECT_SOURCE_DIR}/tests/recorder)
    target_compile_definitions(bench_recording PRIVATE BRIDGE_LIBRARY_PATH="$<TARGET_FILE:capbrg32>")
    add_dependencies(bench_recording capbrg32)
endif()
