# The Windows installer (wixl): the two programs, the Qt and compiler
# run-time DLLs they load, and the Qt plugins the window needs, stripped and
# laid out as they run, from one folder. Built with everything else, as
# netrika-<version>-x64.msi in the build folder.
find_program(NETRIKA_WIXL wixl REQUIRED)
find_program(NETRIKA_MSIBUILD msibuild REQUIRED)
get_filename_component(netrika_qt_prefix "${Qt6_DIR}/../../.." ABSOLUTE)
set(netrika_dll_path "${netrika_qt_prefix}/bin" ${NETRIKA_WINE_PATH})
set(netrika_stage ${CMAKE_BINARY_DIR}/msi-stage)

set(netrika_msi_parts FILES SERVICE PLATFORMS STYLES)
foreach(part IN LISTS netrika_msi_parts)
  set(NETRIKA_MSI_${part} "")
endforeach()
set(NETRIKA_MSI_REFS "")
set(netrika_stage_commands "")
set(netrika_stage_depends "")
# netrika_msi_file(<part> <id> <folder> <source>): one file, one component,
# stripped into the staging folder. wixl takes a file's source relative to
# the folder of the .wxs.
function(netrika_msi_file part id folder source)
  get_filename_component(name "${source}" NAME)
  if(source MATCHES "^\\$<")
    set(name "$<TARGET_FILE_NAME:${id}>")
  endif()
  set(staged "msi-stage/${folder}${name}")
  set(NETRIKA_MSI_${part} "${NETRIKA_MSI_${part}}            <Component Id=\"${id}\" Guid=\"*\" Win64=\"yes\"><File Id=\"${id}\" Source=\"${staged}\" KeyPath=\"yes\"/></Component>\n" PARENT_SCOPE)
  set(NETRIKA_MSI_REFS "${NETRIKA_MSI_REFS}      <ComponentRef Id=\"${id}\"/>\n" PARENT_SCOPE)
  set(netrika_stage_commands ${netrika_stage_commands}
      COMMAND ${CMAKE_STRIP} --strip-unneeded -o ${CMAKE_BINARY_DIR}/${staged} ${source} PARENT_SCOPE)
  set(netrika_stage_depends ${netrika_stage_depends} ${source} PARENT_SCOPE)
endfunction()

netrika_msi_file(FILES netrika "" "$<TARGET_FILE:netrika>")
netrika_msi_file(FILES netrika-cli "" "$<TARGET_FILE:netrika-cli>")
# The network service: installed, started with Windows and at once, and
# stopped and removed before its file on uninstall. It runs as the system,
# idle until a front end connects to its pipe. The start at install is a
# feature of its own (StartNow), which ADDLOCAL can leave out: wine's
# installer cannot start a service it has just installed.
netrika_msi_file(SERVICE netrika-net-service "" "$<TARGET_FILE:netrika-net-service>")
string(REPLACE "</Component>" "
              <ServiceInstall Id=\"NetrikaNetService\" Name=\"NetrikaNetService\"
                              DisplayName=\"Netrika network service\" Type=\"ownProcess\" Start=\"auto\"
                              ErrorControl=\"normal\"
                              Description=\"Probes and neighbour entries for the members of the local group Netrika\"/>
              <ServiceControl Id=\"NetrikaNetServiceStop\" Name=\"NetrikaNetService\" Stop=\"both\"
                              Remove=\"uninstall\" Wait=\"yes\"/>
            </Component>
            <Component Id=\"NetrikaNetServiceStart\" Guid=\"3f0f8c56-55c8-4c0e-9a43-5c1f0e3f6b7a\" Win64=\"yes\">
              <RegistryValue Root=\"HKLM\" Key=\"Software\\Netrika\" Name=\"ServiceStarted\" Type=\"integer\"
                             Value=\"1\" KeyPath=\"yes\"/>
              <ServiceControl Id=\"NetrikaNetServiceStart\" Name=\"NetrikaNetService\" Start=\"install\"
                              Wait=\"yes\"/>
            </Component>" NETRIKA_MSI_SERVICE "${NETRIKA_MSI_SERVICE}")
foreach(dll Qt6Core.dll Qt6Gui.dll Qt6Widgets.dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
  unset(netrika_dll CACHE)
  find_file(netrika_dll ${dll} PATHS ${netrika_dll_path} NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH REQUIRED)
  string(MAKE_C_IDENTIFIER "${dll}" id)
  netrika_msi_file(FILES ${id} "" "${netrika_dll}")
endforeach()
unset(netrika_dll CACHE)
netrika_msi_file(PLATFORMS qwindows_dll "platforms/" "${netrika_qt_prefix}/plugins/platforms/qwindows.dll")
netrika_msi_file(STYLES qwindowsvistastyle_dll "styles/"
                 "${netrika_qt_prefix}/plugins/styles/qwindowsvistastyle.dll")

set(NETRIKA_ICO app/netrika.ico)
configure_file(${CMAKE_SOURCE_DIR}/app/windows/netrika.wxs.in ${CMAKE_BINARY_DIR}/netrika.wxs.configured @ONLY)
file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/netrika.wxs INPUT ${CMAKE_BINARY_DIR}/netrika.wxs.configured)

set(NETRIKA_MSI ${CMAKE_BINARY_DIR}/netrika-${PROJECT_VERSION}-x64.msi)
add_custom_command(OUTPUT ${NETRIKA_MSI}
                   COMMAND ${CMAKE_COMMAND} -E rm -rf ${netrika_stage}
                   COMMAND ${CMAKE_COMMAND} -E make_directory ${netrika_stage}/platforms ${netrika_stage}/styles
                   ${netrika_stage_commands}
                   COMMAND ${NETRIKA_WIXL} --arch x64 -o ${NETRIKA_MSI} ${CMAKE_BINARY_DIR}/netrika.wxs
                   # wixl writes no Environment table: the PATH part is added after.
                   COMMAND ${CMAKE_COMMAND} -DMSIBUILD=${NETRIKA_MSIBUILD} -DMSI=${NETRIKA_MSI}
                           -P ${CMAKE_SOURCE_DIR}/app/windows/AddPathEntry.cmake
                   DEPENDS ${CMAKE_BINARY_DIR}/netrika.wxs ${netrika_stage_depends} netrika netrika-cli netrika-net-service
                           netrika_ico
                           ${CMAKE_SOURCE_DIR}/app/windows/AddPathEntry.cmake
                   VERBATIM)
add_custom_target(netrika_msi ALL DEPENDS ${NETRIKA_MSI})
