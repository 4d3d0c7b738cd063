# What `cmake --install` puts where, and how other build systems find it afterwards.
#
#   lib/libuhfreader.so.1.x.y (+ .so.1, .so)   shared library, SONAME libuhfreader.so.1
#   lib/libuhfreader.a                          static library
#   include/uhfreader.h
#   bin/uhfctl, bin/uhfsim                      when the tools are built
#   share/man/man1/uhfctl.1, uhfsim.1           their manual pages
#   share/bash-completion/completions/uhfctl    bash completion
#   lib/pkgconfig/uhfreader.pc                  pkg-config (libusb-1.0 a private requirement)
#   lib/cmake/uhfreader/                        find_package(uhfreader) -> uhfreader::uhfreader
#   <udev rules dir>/60-uhfreader.rules         USB access without root
#   share/doc/uhfreader/examples/               the C examples' sources
#   lib/uhfreader/python/uhfreader/             the Python binding (or UHF_PYTHON_SITEDIR/uhfreader)
#
# Every destination except the udev directory is relative, so `cmake --install --prefix DIR`
# and DESTDIR both relocate the whole tree, pkg-config and CMake package files included.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(UHF_UDEV_RULES_DIR "" CACHE STRING
  "Where the udev rule goes; empty chooses by the install prefix at install time")
set(UHF_PYTHON_SITEDIR "" CACHE PATH
  "Directory on the Python path to install the uhfreader package into; empty skips it")

set(UHF_CMAKE_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/uhfreader)

set_target_properties(uhfreader_static PROPERTIES EXPORT_NAME uhfreader_static)
install(TARGETS uhfreader uhfreader_static
  EXPORT uhfreaderTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime
          NAMELINK_COMPONENT development
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/uhfreader.h ${PROJECT_SOURCE_DIR}/include/uhfreader_link.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT development)

# The tools are optional to this file: they install when their targets exist. They link the
# static library, so they carry no RUNPATH and need nothing from the library's directory.
foreach(tool uhfctl uhfsim)
  if(TARGET ${tool})
    install(TARGETS ${tool} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
  endif()
endforeach()
# Their manual pages, and bash completion for uhfctl (where bash-completion looks for it on demand).
if(TARGET uhfctl AND TARGET uhfsim)
  install(FILES ${PROJECT_SOURCE_DIR}/docs/uhfctl.1 ${PROJECT_SOURCE_DIR}/docs/uhfsim.1
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tools)
  install(FILES ${PROJECT_SOURCE_DIR}/docs/uhfctl.bash
    DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME uhfctl COMPONENT tools)
endif()

install(EXPORT uhfreaderTargets
  NAMESPACE uhfreader::
  DESTINATION ${UHF_CMAKE_PACKAGE_DIR} COMPONENT development)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/uhfreaderConfig.cmake.in
  ${PROJECT_BINARY_DIR}/uhfreaderConfig.cmake
  INSTALL_DESTINATION ${UHF_CMAKE_PACKAGE_DIR})
# Same major version, same ABI: the SONAME carries only the major number.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/uhfreaderConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/uhfreaderConfig.cmake
              ${PROJECT_BINARY_DIR}/uhfreaderConfigVersion.cmake
  DESTINATION ${UHF_CMAKE_PACKAGE_DIR} COMPONENT development)

# pkg-config: paths relative to the .pc file itself, so the file stays right after --prefix.
file(RELATIVE_PATH _uhf_pc_up "/root/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/root")
string(REGEX REPLACE "/$" "" _uhf_pc_up "${_uhf_pc_up}")
set(PC_PREFIX "\${pcfiledir}/${_uhf_pc_up}")
set(PC_LIBDIR "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
set(PC_INCLUDEDIR "\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/uhfreader.pc.in ${PROJECT_BINARY_DIR}/uhfreader.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/uhfreader.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT development)

# udev reads rules only from its own directories, so a prefix under /usr gets the system's
# directory (/usr/local: the administrator's /etc/udev/rules.d) and any other prefix keeps the
# rule inside itself. Decided at install time, because --prefix may differ from the configured one;
# file(INSTALL) adds DESTDIR itself.
install(CODE "
  set(_uhf_udev \"${UHF_UDEV_RULES_DIR}\")
  if(_uhf_udev STREQUAL \"\")
    if(CMAKE_INSTALL_PREFIX STREQUAL \"/usr\")
      set(_uhf_udev /usr/lib/udev/rules.d)
    elseif(CMAKE_INSTALL_PREFIX STREQUAL \"/usr/local\")
      set(_uhf_udev /etc/udev/rules.d)
    else()
      set(_uhf_udev \"\${CMAKE_INSTALL_PREFIX}/lib/udev/rules.d\")
    endif()
  elseif(NOT IS_ABSOLUTE \"\${_uhf_udev}\")
    set(_uhf_udev \"\${CMAKE_INSTALL_PREFIX}/\${_uhf_udev}\")
  endif()
  file(INSTALL DESTINATION \"\${_uhf_udev}\" TYPE FILE
       FILES \"${PROJECT_SOURCE_DIR}/udev/60-uhfreader.rules\")
" COMPONENT runtime)

install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/
  DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples COMPONENT development
  FILES_MATCHING PATTERN "*.c" PATTERN "*.h")

# The Python package always installs: into UHF_PYTHON_SITEDIR when set (a directory on Python's
# path, so `import uhfreader` just works), else into lib/uhfreader/python for PYTHONPATH. It loads
# the library by the path written here at install time, so the loader's path does not matter.
# (`pip install ./python` is the other way in; a copy installed so finds the library through
# UHFREADER_LIBRARY or the system loader.) py.typed travels with the package.
if(UHF_PYTHON_SITEDIR)
  set(_uhf_python_dir "${UHF_PYTHON_SITEDIR}")
else()
  set(_uhf_python_dir "${CMAKE_INSTALL_LIBDIR}/uhfreader/python")
endif()
install(DIRECTORY ${PROJECT_SOURCE_DIR}/python/uhfreader
  DESTINATION ${_uhf_python_dir} COMPONENT python
  PATTERN "__pycache__" EXCLUDE)
install(CODE "
  set(_uhf_site \"${_uhf_python_dir}\")
  if(NOT IS_ABSOLUTE \"\${_uhf_site}\")
    set(_uhf_site \"\${CMAKE_INSTALL_PREFIX}/\${_uhf_site}\")
  endif()
  set(_uhf_lib \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/libuhfreader.so.${PROJECT_VERSION_MAJOR}\")
  file(WRITE \"\$ENV{DESTDIR}\${_uhf_site}/uhfreader/_installed.py\"
       \"# Written by cmake --install.\\nLIBRARY = \\\"\${_uhf_lib}\\\"\\n\")
  list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\${_uhf_site}/uhfreader/_installed.py\")
" COMPONENT python)
include(${CMAKE_CURRENT_LIST_DIR}/docs.cmake)

# The gateway service: sbin/uhfd, its systemd unit and an example configuration.
#   sbin/uhfd
#   lib/systemd/system/uhfd.service            (or UHF_SYSTEMD_UNIT_DIR)
#   share/doc/uhfreader/uhfd.toml.example
#   share/man/man8/uhfd.8                      its manual page
if(TARGET uhfd)
  set(UHF_SYSTEMD_UNIT_DIR "lib/systemd/system" CACHE STRING
    "Where the uhfd unit goes, relative to the prefix or absolute (systemd also reads /usr/local/lib/systemd/system)")
  install(TARGETS uhfd RUNTIME DESTINATION ${CMAKE_INSTALL_SBINDIR} COMPONENT gateway)
  set(UHFD_PATH "${CMAKE_INSTALL_FULL_SBINDIR}/uhfd")
  set(UHFD_CONFIG "${CMAKE_INSTALL_FULL_SYSCONFDIR}/uhfd/uhfd.toml")
  configure_file(${PROJECT_SOURCE_DIR}/tools/uhfd/uhfd.service.in ${PROJECT_BINARY_DIR}/uhfd.service @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/uhfd.service DESTINATION ${UHF_SYSTEMD_UNIT_DIR} COMPONENT gateway)
  install(FILES ${PROJECT_SOURCE_DIR}/tools/uhfd/uhfd.toml.example DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT gateway)
  install(FILES ${PROJECT_SOURCE_DIR}/docs/uhfd.8 DESTINATION ${CMAKE_INSTALL_MANDIR}/man8 COMPONENT gateway)
endif()
