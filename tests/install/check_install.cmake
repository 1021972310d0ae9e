# cmake -DBUILD_DIR=... -DDESTDIR=... -DGUIDE_CHECK=... -DSOURCE_DIR=... -DBRIDGE_IDS=...
#       -DPACKAGE_VERSION=... -P check_install.cmake
cmake_minimum_required(VERSION 3.25)
set(failures 0)
macro(fail message)
  message(SEND_ERROR "${message}")
  math(EXPR failures "${failures} + 1")
endmacro()

# Runs a command; it must end with status 0 and, unless ALLOW_OUTPUT, print nothing (on its
# error output alone with ERRORS_ONLY).
function(expect_clean label)
  cmake_parse_arguments(ARG "ALLOW_OUTPUT;ERRORS_ONLY" "" "COMMAND" ${ARGN})
  execute_process(COMMAND ${ARG_COMMAND} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(ARG_ERRORS_ONLY)
    set(out "")
  endif()
  string(STRIP "${out}${err}" said)
  if(NOT rc EQUAL 0 OR (NOT ARG_ALLOW_OUTPUT AND NOT said STREQUAL ""))
    message(SEND_ERROR "${label} (status ${rc}):\n${said}")
    set(failures 1 PARENT_SCOPE)
  endif()
endfunction()

file(REMOVE_RECURSE "${DESTDIR}")
execute_process(COMMAND ${CMAKE_COMMAND} -E env DESTDIR=${DESTDIR} ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix /usr
                RESULT_VARIABLE rc OUTPUT_QUIET ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cmake --install failed:\n${err}")
endif()
set(usr "${DESTDIR}/usr")

set(desktop share/applications/org.kelvra.Kelvra.desktop)
set(metainfo share/metainfo/org.kelvra.Kelvra.metainfo.xml)
set(guide share/doc/kelvra/CameraControlSoftwareUsersGuide.pdf)
set(expected bin/kelvra bin/kelvra-ctl bin/kelvra-camsim ${desktop} ${metainfo} ${guide}
    share/doc/kelvra/html/index.html share/doc-base/kelvra-guide share/man/man1/kelvra.1.gz share/man/man1/kelvra-ctl.1.gz share/man/man1/kelvra-camsim.1.gz
    share/doc/kelvra/copyright share/doc/kelvra/changelog.gz lib/udev/rules.d/60-kelvra.rules
    share/bash-completion/completions/kelvra-ctl)
foreach(size 16 22 24 32 48 64 128 256)
  list(APPEND expected share/icons/hicolor/${size}x${size}/apps/kelvra.png)
endforeach()
foreach(path ${expected})
  if(NOT EXISTS "${usr}/${path}")
    fail("missing from the installed tree: /usr/${path}")
  endif()
endforeach()
foreach(program kelvra kelvra-ctl kelvra-camsim)
  execute_process(COMMAND test -x "${usr}/bin/${program}" RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    fail("/usr/bin/${program} is not executable")
  endif()
endforeach()
# Nothing outside /usr: no /etc, no /lib beside it.
file(GLOB top RELATIVE "${DESTDIR}" "${DESTDIR}/*")
if(NOT top STREQUAL "usr")
  fail("installed outside /usr: ${top}")
endif()

expect_clean("desktop-file-validate" COMMAND desktop-file-validate "${usr}/${desktop}")
expect_clean("appstreamcli validate" ALLOW_OUTPUT COMMAND appstreamcli validate --no-net "${usr}/${metainfo}")
foreach(page kelvra kelvra-ctl kelvra-camsim)
  expect_clean("man page ${page}.1" ERRORS_ONLY COMMAND ${CMAKE_COMMAND} -E env LC_ALL=C.UTF-8 MANWIDTH=80
               man --warnings -E UTF-8 -l -Tutf8 -Z "${usr}/share/man/man1/${page}.1.gz")
endforeach()

execute_process(COMMAND pdfinfo "${usr}/${guide}" RESULT_VARIABLE rc OUTPUT_VARIABLE info ERROR_VARIABLE err)
string(REGEX MATCH "Pages: +([0-9]+)" pages "${info}")
if(NOT rc EQUAL 0 OR NOT pages OR CMAKE_MATCH_1 LESS 10 OR NOT info MATCHES "Title: +Kelvra User's Guide")
  fail("the guide is not a PDF of at least ten pages:\n${info}${err}")
endif()

# The completion script loads in bash and offers the parameters' aliases.
execute_process(COMMAND bash -c "source \"$1\" && COMP_WORDS=(kelvra-ctl set frame-r) COMP_CWORD=2 && _kelvra_ctl && echo \"\${COMPREPLY[*]}\""
                        bash "${usr}/share/bash-completion/completions/kelvra-ctl"
                RESULT_VARIABLE rc OUTPUT_VARIABLE offered ERROR_VARIABLE err)
if(NOT rc EQUAL 0 OR NOT offered STREQUAL "frame-rate=\n")
  fail("the bash completion of kelvra-ctl (status ${rc}) offers \"${offered}\" for frame-r:\n${err}")
endif()

expect_clean("the installed program's guide" COMMAND "${GUIDE_CHECK}" "${usr}/bin/kelvra" "${usr}/${guide}")
# The guide as a reader meets it, its doc-base entry, the guide's table of installed files, the
# bridges' identifiers.
expect_clean("the installed documents" COMMAND python3 ${CMAKE_CURRENT_LIST_DIR}/check_documents.py "${usr}"
             "${SOURCE_DIR}/docs/guide.md" "${BRIDGE_IDS}")

# The changelog's newest entry is the package's version.
execute_process(COMMAND gzip -dc "${usr}/share/doc/kelvra/changelog.gz" OUTPUT_VARIABLE changelog)
string(REGEX MATCH "^kelvra \\(([^)]*)\\)" top "${changelog}")
if(NOT CMAKE_MATCH_1 STREQUAL PACKAGE_VERSION)
  fail("the changelog's newest entry is ${CMAKE_MATCH_1}, the package's version ${PACKAGE_VERSION}")
endif()

if(failures)
  message(FATAL_ERROR "the installed tree has faults")
endif()
