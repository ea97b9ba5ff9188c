# The capture driver's cost: processor time of aplay through the virtual device, forwarding to a
# device paced at the sample rate (the tests' pacedsink plugin), against ALSA's file plugin
# forwarding to the same device.
find_program(WH_BENCH_APLAY aplay)
if(TARGET asound_module_pcm_waveharvester AND TARGET wh_capture AND WH_BENCH_APLAY)
    add_library(bench_pacedsink MODULE ${PROJECT_SOURCE_DIR}/tests/driver/PacedSinkPcm.cpp)
    target_compile_definitions(bench_pacedsink PRIVATE PIC)
    target_link_libraries(bench_pacedsink PRIVATE wh_warnings asound)
    add_executable(bench_driver ${CMAKE_CURRENT_LIST_DIR}/DriverBenchmark.cpp)
    target_link_libraries(bench_driver PRIVATE wh_capture wh_warnings)
    target_compile_definitions(bench_driver PRIVATE
        APLAY_PATH="${WH_BENCH_APLAY}" DRIVER_CONF_PATH="${WH_DRIVER_CONF}"
        PACED_SINK_PATH="$<TARGET_FILE:bench_pacedsink>")
    add_dependencies(bench_driver asound_module_pcm_waveharvester capbrg32 bench_pacedsink)
endif()
