# The Debian package of the tool (cpack -G DEB in a build folder configured
# with -DCMAKE_INSTALL_PREFIX=/usr; scripts/package.sh does both). Its
# installation asks nothing: the deployment file arrives with every setting
# commented out, as a configuration file of the package that an upgrade
# never overwrites, for the administrator to fill.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME agendaiva)
set(CPACK_PACKAGE_VENDOR "Morvane")
set(CPACK_PACKAGE_CONTACT "Morvane <suporte@morvane.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Ferramenta para agendar alteração de taxas de IVA")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# The program reads its deployment file at the absolute path it was built
# with; installing under the prefix it was built for keeps both in step.
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_SET_DESTDIR ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(DEFINED AGENDAIVA_DEPLOYMENT_FILE)
  set(_conffiles ${CMAKE_BINARY_DIR}/debian/conffiles)
  file(WRITE ${_conffiles} "${AGENDAIVA_DEPLOYMENT_FILE}\n")
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${_conffiles})
endif()
include(CPack)
