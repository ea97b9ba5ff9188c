# A paced playback device (ALSA plugin "whpaced") that records what it plays, for tests and
# benchmarks of playback without a sound card. Loaded by foreign programs (aplay) too, so it is
# built without sanitizers. Included by the tests and by the benchmarks.
if(NOT TARGET asound_module_pcm_whpaced)
    find_package(PkgConfig REQUIRED)
    pkg_check_modules(WH_TEST_ALSA REQUIRED alsa)
    add_library(asound_module_pcm_whpaced MODULE ${CMAKE_CURRENT_LIST_DIR}/PacedDevicePcm.cpp)
    set_target_properties(asound_module_pcm_whpaced PROPERTIES PREFIX "lib")
    target_compile_definitions(asound_module_pcm_whpaced PRIVATE PIC)
    target_include_directories(asound_module_pcm_whpaced PRIVATE ${WH_TEST_ALSA_INCLUDE_DIRS})
    target_link_libraries(asound_module_pcm_whpaced PRIVATE wh_warnings ${WH_TEST_ALSA_LIBRARIES})
    target_link_options(asound_module_pcm_whpaced PRIVATE -static-libstdc++ -static-libgcc)
    set(WH_PACED_DEVICE_PATH $<TARGET_FILE:asound_module_pcm_whpaced> CACHE INTERNAL "")
endif()
