# Playback: processor time per second of sound, delay from Play to the first samples at the
# device, and underruns, for the view's playback engine through waveOut over ALSA into the paced
# test device, against aplay playing the same file to the same device.
find_program(WH_BENCH_APLAY_PLAYBACK aplay)
if(TARGET wh_recorder AND WH_BENCH_APLAY_PLAYBACK)
    include(${PROJECT_SOURCE_DIR}/tests/support/PacedDevice.cmake)
    add_executable(bench_playback ${CMAKE_CURRENT_LIST_DIR}/PlaybackBenchmark.cpp)
    target_link_libraries(bench_playback PRIVATE wh_recorder wh_warnings)
    target_compile_definitions(bench_playback PRIVATE
        APLAY_PATH="${WH_BENCH_APLAY_PLAYBACK}" PACED_DEVICE_PATH="${WH_PACED_DEVICE_PATH}")
    add_dependencies(bench_playback asound_module_pcm_whpaced)
endif()

# The same for the program itself with its window, under an X server of its own.
if(TARGET WaveHarvester AND WH_BENCH_APLAY_PLAYBACK)
    file(GENERATE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/bench_playback_program CONTENT
"#!/bin/sh\nexec ${PROJECT_SOURCE_DIR}/tools/with-x-server.sh ${CMAKE_CURRENT_LIST_DIR}/playback_program.sh $<TARGET_FILE:WaveHarvester> ${WH_PACED_DEVICE_PATH}\n"
        FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
endif()
