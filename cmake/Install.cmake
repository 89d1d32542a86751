# Installation and packaging: the shared library, both headers, the tool, a
# CMake package (find_package(TarvolaCrypt) -> TarvolaCrypt::tarvolacrypt), a
# pkg-config file, and CPack settings for a Debian package.
#
# Only the shared library is exported: tarvolacrypt_core is linked into it
# privately and never installed.
include_guard(GLOBAL)

option(TARVOLA_INSTALL "Generate the install and package rules" ${TARVOLA_TOP_LEVEL})
if(NOT TARVOLA_INSTALL)
    return()
endif()

include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(TARVOLA_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/TarvolaCrypt)

install(TARGETS tarvolacrypt
    EXPORT TarvolaCryptTargets
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
    INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES
    ${PROJECT_SOURCE_DIR}/include/tarvolacrypt.h
    ${PROJECT_SOURCE_DIR}/include/tarvolacrypt.hpp
    DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
if(TARGET tarvolacrypt_tool)
    install(TARGETS tarvolacrypt_tool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    if(TARGET tarvolacrypt_docs)
        install(FILES ${PROJECT_BINARY_DIR}/tools/doc/tarvolacrypt.1
            DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
        install(FILES ${PROJECT_BINARY_DIR}/tools/doc/tarvolacrypt-completion.bash
            DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
            RENAME tarvolacrypt)
    endif()
endif()

# The Python module (bindings/python), where Debian's python3 looks for the
# modules of packages; it loads the library by its soname.
set(TARVOLA_PYTHON_DIR lib/python3/dist-packages CACHE STRING
    "Where the Python module is installed, relative to the prefix")
if(NOT WIN32)
    install(DIRECTORY ${PROJECT_SOURCE_DIR}/bindings/python/tarvolacrypt
        DESTINATION ${TARVOLA_PYTHON_DIR}
        PATTERN __pycache__ EXCLUDE)
endif()

install(EXPORT TarvolaCryptTargets
    NAMESPACE TarvolaCrypt::
    DESTINATION ${TARVOLA_CMAKE_DIR})
configure_package_config_file(
    ${CMAKE_CURRENT_LIST_DIR}/TarvolaCryptConfig.cmake.in
    ${PROJECT_BINARY_DIR}/TarvolaCryptConfig.cmake
    INSTALL_DESTINATION ${TARVOLA_CMAKE_DIR})
# The major version is the year of the release line; a consumer asking for
# 2018.x gets any 2018 release at or above it.
write_basic_package_version_file(
    ${PROJECT_BINARY_DIR}/TarvolaCryptConfigVersion.cmake
    COMPATIBILITY SameMajorVersion)
install(FILES
    ${PROJECT_BINARY_DIR}/TarvolaCryptConfig.cmake
    ${PROJECT_BINARY_DIR}/TarvolaCryptConfigVersion.cmake
    DESTINATION ${TARVOLA_CMAKE_DIR})

# The .pc file names its prefix; it is filled in at install time, so that
# `cmake --install --prefix DIR` gets DIR, not the configured prefix.
set(TARVOLA_PKGCONFIG_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
set(TARVOLA_PC_PREFIX "@TARVOLA_PC_PREFIX@")
configure_file(${CMAKE_CURRENT_LIST_DIR}/tarvolacrypt.pc.in
    ${PROJECT_BINARY_DIR}/tarvolacrypt.pc.in @ONLY)
install(CODE "
    set(TARVOLA_PC_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
    configure_file(\"${PROJECT_BINARY_DIR}/tarvolacrypt.pc.in\"
                   \"${PROJECT_BINARY_DIR}/tarvolacrypt.pc\" @ONLY)")
install(FILES ${PROJECT_BINARY_DIR}/tarvolacrypt.pc DESTINATION ${TARVOLA_PKGCONFIG_DIR})

# Debian package: `cpack -G DEB` in a build configured with
# CMAKE_INSTALL_PREFIX=/usr.
set(CPACK_PACKAGE_NAME tarvolacrypt)
set(CPACK_PACKAGE_VENDOR "TarvolaCrypt developers")
set(CPACK_PACKAGE_CONTACT "TarvolaCrypt developers <tarvolacrypt@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}: library, headers, tool, Python module")
set(CPACK_PACKAGE_DESCRIPTION
    "Encrypts short text values into printable text: mode 0 (AES-128 block by block, hex) and mode 1 (AES-CBC with a random IV, base64). Ships the shared library, its C and C++ headers, CMake and pkg-config files, the tarvolacrypt command-line tool and the Python module tarvolacrypt.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS python3)
# Lets dpkg refresh the linker cache after installing or removing the library.
file(WRITE ${PROJECT_BINARY_DIR}/debian/triggers "activate-noawait ldconfig\n")
# Python writes the module's byte code beside it on the first import as root;
# dpkg does not own those files, so they go before the module does.
file(WRITE ${PROJECT_BINARY_DIR}/debian/prerm "#!/bin/sh\nset -e\nrm -rf '${CMAKE_INSTALL_PREFIX}/${TARVOLA_PYTHON_DIR}/tarvolacrypt/__pycache__'\n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${PROJECT_BINARY_DIR}/debian/triggers ${PROJECT_BINARY_DIR}/debian/prerm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
