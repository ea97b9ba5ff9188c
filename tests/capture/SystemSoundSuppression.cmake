# The suppression test reads and sets the desktop's event sound switch through GIO itself.
target_link_libraries(capture_SystemSoundSuppressionTest PRIVATE PkgConfig::WH_GIO)
