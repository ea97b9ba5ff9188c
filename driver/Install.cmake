# The installed driver: the plugin in ALSA's plugin folder, capdrv, the ALSA configuration that
# declares the PCM "waveharvester" (linked into the folder ALSA reads for every user) and the
# systemd user unit of the work window service. Installed copies find one another by the
# relative paths below; the build folder's copies keep using the build folder.
target_sources(wh_driver_installation PRIVATE ServiceInstallation.cpp)

set(installed_conf "${WH_ALSA_CONF_DIR}/${WH_ALSA_CONF_NAME}")
set(unit_file "${WH_SYSTEMD_USER_UNIT_DIR}/waveharvester-capdrv.service")
file(RELATIVE_PATH conf_beside_capdrv "${CMAKE_INSTALL_FULL_BINDIR}" "${installed_conf}")
file(RELATIVE_PATH unit_beside_capdrv "${CMAKE_INSTALL_FULL_BINDIR}" "${unit_file}")
file(RELATIVE_PATH bridge_beside_plugin "${WH_ALSA_PLUGIN_DIR}" "${CMAKE_INSTALL_FULL_LIBDIR}/libcapbrg32.so")
file(RELATIVE_PATH bridge_beside_capdrv "${CMAKE_INSTALL_FULL_BINDIR}" "${CMAKE_INSTALL_FULL_LIBDIR}/libcapbrg32.so")
if(WH_ALSA_CONF_LINK_DIR)
    set(conf_link "${WH_ALSA_CONF_LINK_DIR}/${WH_ALSA_CONF_NAME}")
else()
    set(conf_link "")
endif()
target_compile_definitions(wh_driver_installation PRIVATE
    WH_INSTALLED_CONF_BESIDE_CAPDRV="${conf_beside_capdrv}"
    WH_UNIT_BESIDE_CAPDRV="${unit_beside_capdrv}"
    WH_ALSA_CONF_LINK="${conf_link}")
target_compile_definitions(asound_module_pcm_waveharvester PRIVATE
    WH_BRIDGE_BESIDE_PLUGIN="${bridge_beside_plugin}")
target_compile_definitions(wh_server_sink PRIVATE WH_BRIDGE_BESIDE_CAPDRV="${bridge_beside_capdrv}")

# In ALSA's own plugin folder the plugin is named by its file name, as alsa-plugins' are.
set(plugin_file libasound_module_pcm_waveharvester.so)
if(WH_ALSA_PLUGIN_SEARCHED)
    set(plugin_reference "${plugin_file}")
else()
    set(plugin_reference "${WH_ALSA_PLUGIN_DIR}/${plugin_file}")
endif()
file(READ ${CMAKE_CURRENT_SOURCE_DIR}/waveharvester.conf.in installed_conf_text)
string(REPLACE "@PLUGIN_PATH@" "${plugin_reference}" installed_conf_text "${installed_conf_text}")
file(GENERATE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/installed/${WH_ALSA_CONF_NAME} CONTENT "${installed_conf_text}")

set(WH_CAPDRV_PATH "${CMAKE_INSTALL_FULL_BINDIR}/capdrv")
configure_file(waveharvester-capdrv.service.in ${CMAKE_CURRENT_BINARY_DIR}/installed/waveharvester-capdrv.service @ONLY)

install(TARGETS capdrv RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS asound_module_pcm_waveharvester LIBRARY DESTINATION ${WH_ALSA_PLUGIN_DIR})
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/installed/${WH_ALSA_CONF_NAME} DESTINATION ${WH_ALSA_CONF_DIR})
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/installed/waveharvester-capdrv.service
        DESTINATION ${WH_SYSTEMD_USER_UNIT_DIR})
wh_install_folders(${CMAKE_INSTALL_BINDIR} ${WH_ALSA_PLUGIN_DIR} ${WH_ALSA_CONF_DIR} ${WH_SYSTEMD_USER_UNIT_DIR})
if(conf_link)
    # Debian's way for alsa-plugins: the file under <datadir>, a link to it in /etc/alsa/conf.d.
    file(MAKE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/installed/link)
    file(CREATE_LINK "${installed_conf}" ${CMAKE_CURRENT_BINARY_DIR}/installed/link/${WH_ALSA_CONF_NAME} SYMBOLIC)
    install(FILES ${CMAKE_CURRENT_BINARY_DIR}/installed/link/${WH_ALSA_CONF_NAME} DESTINATION ${WH_ALSA_CONF_LINK_DIR})
    wh_install_folders(${WH_ALSA_CONF_LINK_DIR})
endif()
