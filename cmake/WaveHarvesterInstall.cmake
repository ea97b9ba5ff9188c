# Where `make install` puts things: GNUInstallDirs under CMAKE_INSTALL_PREFIX (/usr/local unless
# told), the ALSA plugin where this system's ALSA looks for plugins, the driver's ALSA
# configuration where alsa-plugins packages put theirs, linked into the folder ALSA reads. The
# uninstall target removes exactly what the install put there, the folders it made included.
include(GNUInstallDirs)
find_package(PkgConfig REQUIRED)

# ALSA loads plugins from <its libdir>/alsa-lib. With another prefix the plugin goes under ours
# and the configuration names it by its absolute path.
pkg_get_variable(WH_ALSA_PREFIX alsa prefix)
pkg_get_variable(WH_ALSA_LIBDIR alsa libdir)
if(NOT DEFINED WH_ALSA_PLUGIN_DIR)
    if(CMAKE_INSTALL_PREFIX STREQUAL WH_ALSA_PREFIX AND WH_ALSA_LIBDIR)
        set(WH_ALSA_PLUGIN_DIR "${WH_ALSA_LIBDIR}/alsa-lib")
    else()
        set(WH_ALSA_PLUGIN_DIR "${CMAKE_INSTALL_FULL_LIBDIR}/alsa-lib")
    endif()
endif()
if(WH_ALSA_LIBDIR AND WH_ALSA_PLUGIN_DIR STREQUAL "${WH_ALSA_LIBDIR}/alsa-lib")
    set(WH_ALSA_PLUGIN_SEARCHED ON)
else()
    set(WH_ALSA_PLUGIN_SEARCHED OFF)
endif()

# The driver's configuration goes with alsa-plugins' (<datadir>/alsa/alsa.conf.d); ALSA reads the
# links in /etc/alsa/conf.d. WH_ALSA_CONF_LINK_DIR empty: no link, and capdrv --install includes
# the installed configuration from the user's own ALSA file instead.
set(WH_ALSA_CONF_NAME 50-waveharvester.conf)
set(WH_ALSA_CONF_DIR "${CMAKE_INSTALL_FULL_DATADIR}/alsa/alsa.conf.d")
if(NOT DEFINED WH_ALSA_CONF_LINK_DIR)
    set(WH_ALSA_CONF_LINK_DIR /etc/alsa/conf.d)
endif()
set(WH_SYSTEMD_USER_UNIT_DIR "${CMAKE_INSTALL_PREFIX}/lib/systemd/user")

# wh_install_folders(dest...): destinations (as given to install(), relative to the prefix or
# absolute) whose missing folders the install records, so uninstall removes the ones it made.
function(wh_install_folders)
    set_property(GLOBAL APPEND PROPERTY WH_INSTALL_FOLDERS ${ARGN})
endfunction()

# Declared before every other install rule: records the folders that do not exist yet.
function(wh_install_begin)
    install(CODE "include(\"${CMAKE_BINARY_DIR}/wh_install_folders.cmake\")")
endfunction()

# After every install rule: writes the list of destinations the first rule reads.
function(wh_install_end)
    get_property(folders GLOBAL PROPERTY WH_INSTALL_FOLDERS)
    list(REMOVE_DUPLICATES folders)
    set(code "set(wh_folders \"${folders}\")\n")
    string(APPEND code [=[
# One record for each staging folder (DESTDIR), each install adding to it.
string(MD5 wh_destdir_key "$ENV{DESTDIR}")
set(wh_record "${CMAKE_CURRENT_LIST_DIR}/install_folders-${wh_destdir_key}.txt")
set(wh_made "")
if(EXISTS "${wh_record}")
    file(STRINGS "${wh_record}" wh_made)
endif()
foreach(folder IN LISTS wh_folders)
    if(NOT IS_ABSOLUTE "${folder}")
        set(folder "${CMAKE_INSTALL_PREFIX}/${folder}")
    endif()
    set(folder "$ENV{DESTDIR}${folder}")
    while(NOT IS_DIRECTORY "${folder}" AND NOT folder STREQUAL "/" AND NOT folder STREQUAL "")
        list(APPEND wh_made "${folder}")
        get_filename_component(folder "${folder}" DIRECTORY)
    endwhile()
endforeach()
list(REMOVE_DUPLICATES wh_made)
list(JOIN wh_made "\n" wh_text)
file(WRITE "${wh_record}" "${wh_text}\n")
]=])
    file(WRITE "${CMAKE_BINARY_DIR}/wh_install_folders.cmake" "${code}")
    add_custom_target(uninstall
        COMMAND ${CMAKE_COMMAND} -DWH_BUILD=${CMAKE_BINARY_DIR} -P ${PROJECT_SOURCE_DIR}/cmake/Uninstall.cmake
        COMMENT "Removing what the install put")
endfunction()
