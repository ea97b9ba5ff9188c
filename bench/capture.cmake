# Capture path throughput: MapBuffer in writer processes to the reader having taken every block.
if(TARGET capbrg32 AND TARGET wh_capture)
    add_executable(bench_capture ${CMAKE_CURRENT_LIST_DIR}/CaptureBenchmark.cpp)
    target_link_libraries(bench_capture PRIVATE wh_capture wh_warnings ${CMAKE_DL_LIBS})
    target_include_directories(bench_capture PRIVATE ${PROJECT_SOURCE_DIR}/bridge)
    target_compile_definitions(bench_capture PRIVATE BRIDGE_LIBRARY_PATH="$<TARGET_FILE:capbrg32>")
    add_dependencies(bench_capture capbrg32)
endif()
