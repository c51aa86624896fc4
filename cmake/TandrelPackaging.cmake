# What an installation holds, and the packages CPack makes of it: a .deb on Linux (scripts/package), an NSIS
# installer on Windows (the Windows workflow). Both carry the same program; the data folder of an installed copy
# is the user's data location, since the program's own folder is not writable there.
include(GNUInstallDirs)

set(CPACK_PACKAGE_NAME tandrel)
set(CPACK_PACKAGE_VENDOR "Tandrel")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Watches group-buy stores for groups that have not formed yet")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "Tandrel watches the merchant back end of every store the merchant adds for group orders that buyers have "
    "opened but that have not yet formed a group, and tells the merchant at once with a log line, a row in the "
    "order list and an alert sound.")
set(CPACK_PACKAGE_CONTACT "Tandrel maintainers <maintainers@tandrel.example>")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://tandrel.example/")
set(CPACK_PACKAGE_INSTALL_DIRECTORY "Tandrel")
set(CPACK_OUTPUT_FILE_PREFIX packages)
# The build keeps its debugging information; the packages do not need it.
set(CPACK_STRIP_FILES ON)

# The Windows installer, from mingw-w64 or MSVC: its names, the start-menu entry, an uninstaller, no PATH change.
macro(tandrel_nsis_installer)
    set(CPACK_GENERATOR NSIS)
    set(CPACK_NSIS_DISPLAY_NAME "Tandrel")
    set(CPACK_NSIS_PACKAGE_NAME "Tandrel")
    set(CPACK_NSIS_EXECUTABLES_DIRECTORY ${CMAKE_INSTALL_BINDIR})
    set(CPACK_PACKAGE_EXECUTABLES "tandrel;Tandrel")  # the start-menu entry
    set(CPACK_NSIS_INSTALLED_ICON_NAME "${CMAKE_INSTALL_BINDIR}\\\\tandrel.exe")
    set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
    set(CPACK_NSIS_MODIFY_PATH OFF)
    set(CPACK_NSIS_URL_INFO_ABOUT ${CPACK_PACKAGE_HOMEPAGE_URL})
endmacro()

if(WIN32 AND NOT MSVC)
    # The mingw-w64 cross build (preset mingw): Program Files\Tandrel\bin holds the program and, named here
    # since windeployqt does not run on a Linux host, every DLL it loads: Qt and its plugins, the libraries
    # scripts/windows-deps built, zlib and the compiler's runtime. They are stripped when installed.
    install(TARGETS tandrel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    set(win_deps ${PROJECT_SOURCE_DIR}/build-win-deps)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libstdc++-6.dll
                    OUTPUT_VARIABLE runtime_dll OUTPUT_STRIP_TRAILING_WHITESPACE)
    get_filename_component(runtime_dir ${runtime_dll} DIRECTORY)
    set(dll_dirs ${win_deps}/qt/bin ${win_deps}/prefix/bin /usr/x86_64-w64-mingw32/lib ${runtime_dir})
    set(runtime_dlls Qt6Core.dll Qt6Gui.dll Qt6Widgets.dll libcrypto-3-x64.dll libssl-3-x64.dll libcurl.dll
        zlib1.dll SDL2.dll SDL2_mixer.dll libzip.dll libsqlcipher-0.dll libqt6keychain.dll libstdc++-6.dll
        libgcc_s_seh-1.dll libwinpthread-1.dll)
    foreach(dll IN LISTS runtime_dlls)
        find_file(TANDREL_DLL_${dll} ${dll} PATHS ${dll_dirs} NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
        if(NOT TANDREL_DLL_${dll})
            message(FATAL_ERROR "${dll} not found in ${dll_dirs} (scripts/windows-deps makes them)")
        endif()
        install(FILES ${TANDREL_DLL_${dll}} DESTINATION ${CMAKE_INSTALL_BINDIR})
    endforeach()
    # Qt looks for its plugins in these folders beside the program.
    foreach(plugin platforms/qwindows.dll styles/qwindowsvistastyle.dll imageformats/qgif.dll
                   imageformats/qico.dll imageformats/qjpeg.dll)
        get_filename_component(plugin_dir ${plugin} DIRECTORY)
        install(FILES ${win_deps}/qt/plugins/${plugin} DESTINATION ${CMAKE_INSTALL_BINDIR}/${plugin_dir})
    endforeach()
    install(CODE "
        file(GLOB_RECURSE dlls \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/*.dll\")
        execute_process(COMMAND ${CMAKE_STRIP} --strip-unneeded \${dlls} COMMAND_ERROR_IS_FATAL ANY)")
    install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

    tandrel_nsis_installer()
    set(CPACK_NSIS_MUI_ICON ${PROJECT_SOURCE_DIR}/assets/icons/tandrel.ico)
    set(CPACK_NSIS_MUI_UNIICON ${PROJECT_SOURCE_DIR}/assets/icons/tandrel.ico)
    set(CPACK_PACKAGE_FILE_NAME tandrel-${PROJECT_VERSION}-win64)
    # A 64-bit installer (64-bit Program Files and registry view), which a 64-bit-only Wine runs too.
    set(CPACK_NSIS_DEFINES "Target amd64-unicode")
    set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
elseif(WIN32)
    # Program Files\Tandrel\bin: the program, the DLLs of its libraries (from vcpkg), and Qt with the plugins
    # windeployqt picks.
    find_package(Qt6 REQUIRED COMPONENTS Core)
    install(TARGETS tandrel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
            RUNTIME_DEPENDENCIES PRE_EXCLUDE_REGEXES "^api-ms-" "^ext-ms-" POST_EXCLUDE_REGEXES ".*system32/.*"
            DIRECTORIES "${VCPKG_INSTALLED_DIR}/${VCPKG_TARGET_TRIPLET}/bin")
    qt_generate_deploy_app_script(TARGET tandrel OUTPUT_SCRIPT tandrel_deploy NO_TRANSLATIONS
                                  NO_UNSUPPORTED_PLATFORM_ERROR)
    install(SCRIPT ${tandrel_deploy})
    # The sounds, style sheet and icon travel inside tandrel.exe as Qt resources; the icon is also kept beside it.
    install(FILES ${PROJECT_SOURCE_DIR}/assets/icons/tandrel.png DESTINATION ${CMAKE_INSTALL_DATADIR}/tandrel)
    install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

    tandrel_nsis_installer()
else()
    install(TARGETS tandrel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    install(FILES ${PROJECT_SOURCE_DIR}/packaging/tandrel.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
    install(FILES ${PROJECT_SOURCE_DIR}/assets/icons/tandrel.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/48x48/apps)
    # Headless monitoring as a systemd user service: systemctl --user enable --now tandrel-headless.service
    install(FILES ${PROJECT_SOURCE_DIR}/packaging/tandrel-headless.service DESTINATION lib/systemd/user)

    # The manual page is the program's own --help, so the two never disagree.
    if(NOT CMAKE_CROSSCOMPILING)
        set(man_page ${CMAKE_CURRENT_BINARY_DIR}/tandrel.1.gz)
        add_custom_command(
            OUTPUT ${man_page}
            COMMAND ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:tandrel> -DVERSION=${PROJECT_VERSION}
                    -DOUTPUT=${CMAKE_CURRENT_BINARY_DIR}/tandrel.1 -P ${PROJECT_SOURCE_DIR}/cmake/MakeManPage.cmake
            COMMAND gzip -9nf ${CMAKE_CURRENT_BINARY_DIR}/tandrel.1
            DEPENDS tandrel ${PROJECT_SOURCE_DIR}/cmake/MakeManPage.cmake
            COMMENT "Manual page from tandrel --help")
        add_custom_target(man_page ALL DEPENDS ${man_page})
        install(FILES ${man_page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    endif()

    set(CPACK_GENERATOR DEB)
    set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
    set(CPACK_DEBIAN_PACKAGE_SECTION misc)
    # The shared libraries' packages are found by dpkg-shlibdeps; what the program loads or reads at run time
    # beyond them is named here: a Qt platform plugin for the window, the CA certificates for TLS, and
    # libsecret, which the keyring library loads to reach the Secret Service.
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, ca-certificates, libsecret-1-0")
    set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-wqy-microhei")
endif()

include(CPack)
