# Wave file format benchmarks: header reading independent of the data size, and writing a
# recording against cp of the same bytes.
if(TARGET wh_document)
    add_executable(bench_wave ${CMAKE_CURRENT_LIST_DIR}/WaveBenchmark.cpp)
    target_link_libraries(bench_wave PRIVATE wh_document wh_warnings)
endif()
