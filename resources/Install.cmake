# What the desktop needs of the program: its desktop entry (menus, opening wave files from a file
# manager), its AppStream metainfo, its icon in the hicolor theme (drawn by tools/draw_bitmaps.py
# from the program's own icon) and the manual pages.
set(desktop ${CMAKE_CURRENT_SOURCE_DIR}/desktop)
install(FILES ${desktop}/WaveHarvester.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${desktop}/com.kestrelworks.WaveHarvester.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/icons/hicolor DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)
install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/man/WaveHarvester.1 ${CMAKE_CURRENT_SOURCE_DIR}/man/capdrv.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
wh_install_folders(${CMAKE_INSTALL_DATADIR}/applications ${CMAKE_INSTALL_DATADIR}/metainfo
                   ${CMAKE_INSTALL_MANDIR}/man1)
foreach(size 16x16 22x22 24x24 32x32 48x48 64x64 128x128 256x256 scalable)
    wh_install_folders(${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}/apps)
endforeach()
