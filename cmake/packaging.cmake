# varnel.pc for pkg-config, the README and docs, and the release archives (CPack): a .tar.gz and
# a .deb on Linux, a .zip from the MinGW-w64 cross build. Every archive holds whatever the
# install rules install, so another program joins them with one
# install(TARGETS <program> RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}).

# --- pkg-config -----------------------------------------------------------------------------
# The prefix is found from the file's own place (${pcfiledir}), so an unpacked archive or a copy
# installed with `cmake --install --prefix` works wherever it lies. The headers need C++20, hence
# -std=c++20 in Cflags (a later -std on the compiler's command line overrides it).
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(VARNEL_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
else()
  file(RELATIVE_PATH up "/${CMAKE_INSTALL_LIBDIR}/pkgconfig" /)
  string(REGEX REPLACE "/$" "" up "${up}")
  set(VARNEL_PC_PREFIX "\${pcfiledir}/${up}")
endif()
foreach(kind INCLUDEDIR LIBDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${kind}}")
    set(VARNEL_PC_${kind} "${CMAKE_INSTALL_${kind}}")
  else()
    set(VARNEL_PC_${kind} "\${prefix}/${CMAKE_INSTALL_${kind}}")
  endif()
endforeach()
set(VARNEL_PC_CFLAGS -std=c++20)
if(VARNEL_ENABLE_ASSERTS)
  string(APPEND VARNEL_PC_CFLAGS " -DVARNEL_ENABLE_ASSERTS")
endif()
# The XCSP3 reader's libraries, for a static link of the reader (pkg-config --static).
set(VARNEL_PC_LIBS_PRIVATE "")
if(VARNEL_XCSP3)
  set(VARNEL_PC_LIBS_PRIVATE "-lexpat -llzma")
endif()
configure_file(cmake/varnel.pc.in ${PROJECT_BINARY_DIR}/varnel.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/varnel.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# --- README and docs ------------------------------------------------------------------------
# Beside bin/ in the Windows archive, where a user looks first; share/doc/varnel/ elsewhere.
# docs/ stays next to the README so that its links resolve.
if(WIN32)
  set(VARNEL_DOC_DESTINATION .)
else()
  set(VARNEL_DOC_DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()
install(FILES README.md CHANGELOG.md DESTINATION ${VARNEL_DOC_DESTINATION})
install(DIRECTORY docs/ DESTINATION ${VARNEL_DOC_DESTINATION}/docs)

# --- Archives -------------------------------------------------------------------------------
# cpack in a build tree, or `make package` for all three into build/packages/. A subproject
# leaves packaging to the project that includes it.
if(NOT PROJECT_IS_TOP_LEVEL)
  return()
endif()
if(WIN32)
  set(os windows)
else()
  string(TOLOWER "${CMAKE_SYSTEM_NAME}" os)
endif()
string(TOLOWER "${CMAKE_SYSTEM_PROCESSOR}" processor)
set(CPACK_PACKAGE_NAME varnel)
set(CPACK_PACKAGE_VENDOR varnel)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_FILE_NAME varnel-${PROJECT_VERSION}-${os}-${processor})
set(CPACK_PACKAGE_CHECKSUM SHA256)
set(CPACK_VERBATIM_VARIABLES ON)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
elseif(os STREQUAL "linux")
  set(CPACK_GENERATOR TGZ DEB)
else()
  set(CPACK_GENERATOR TGZ)
endif()

# The .deb installs under /usr and is named the Debian way (varnel_<version>_amd64.deb).
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "varnel developers")
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
find_program(VARNEL_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(VARNEL_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6")
endif()
include(CPack)
