cmake_minimum_required(VERSION 3.25)
# Installs the build into STAGE (as DESTDIR) twice and checks the files: the
# program, its menu entry and icon, the library's package files, and the
# deployment file, which the second installation must keep as the
# administrator left it.
file(REMOVE_RECURSE "${STAGE}")

function(install_stage)
  execute_process(COMMAND ${CMAKE_COMMAND} -E env DESTDIR=${STAGE} ${CMAKE_COMMAND} --install ${BUILD_DIR}
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "cmake --install failed:\n${out}")
  endif()
endfunction()

function(expect path)
  if(NOT EXISTS "${STAGE}${path}")
    message(FATAL_ERROR "not installed: ${path}")
  endif()
endfunction()

install_stage()
expect("${PREFIX}/${BINDIR}/agendaiva")
expect("${PREFIX}/${DATADIR}/applications/agendaiva.desktop")
expect("${PREFIX}/${DATADIR}/icons/hicolor/64x64/apps/agendaiva.png")
expect("${PREFIX}/${LIBDIR}/cmake/dataaccess/dataaccessConfig.cmake")
expect("${PREFIX}/${LIBDIR}/pkgconfig/dataaccess.pc")
expect("${DEPLOYMENT_FILE}")

file(READ "${STAGE}${PREFIX}/${DATADIR}/applications/agendaiva.desktop" desktop)
foreach(line "Type=Application" "Exec=agendaiva" "Icon=agendaiva" "Name=Agendar IVA")
  string(FIND "${desktop}" "${line}\n" at)
  if(at LESS 0)
    message(FATAL_ERROR "agendaiva.desktop lacks ${line}")
  endif()
endforeach()

# Every setting of the deployment file arrives commented out.
file(STRINGS "${STAGE}${DEPLOYMENT_FILE}" settings REGEX "^[^#;]*=")
if(settings)
  message(FATAL_ERROR "the deployment file sets values: ${settings}")
endif()

set(filled "servidor=central.example.org\r\n")
file(WRITE "${STAGE}${DEPLOYMENT_FILE}" "${filled}")
install_stage()
# Compared as bytes: a text read would drop the CR.
file(READ "${STAGE}${DEPLOYMENT_FILE}" kept HEX)
string(HEX "${filled}" filled)
if(NOT kept STREQUAL filled)
  message(FATAL_ERROR "a second installation overwrote the deployment file: ${kept}")
endif()
file(REMOVE_RECURSE "${STAGE}")
