# The capture driver's overhead: processor time of aplay through the virtual device (while a
# reader records) against aplay straight to the same real device.
find_program(WH_BENCH_APLAY aplay)
if(TARGET asound_module_pcm_waveharvester AND TARGET wh_capture AND WH_BENCH_APLAY)
    add_executable(bench_driver ${CMAKE_CURRENT_LIST_DIR}/DriverBenchmark.cpp)
    target_link_libraries(bench_driver PRIVATE wh_capture wh_warnings)
    target_compile_definitions(bench_driver PRIVATE
        APLAY_PATH="${WH_BENCH_APLAY}" DRIVER_CONF_PATH="${WH_DRIVER_CONF}")
    add_dependencies(bench_driver asound_module_pcm_waveharvester capbrg32)
endif()
