# A package built from a newer commit upgrades one built from the commit before it: a clone of
# the sources gives a version, one more commit in it a second one, and dpkg must rank the second
# higher. Skipped ("no git checkout") when the sources have no history.
#   cmake -DSOURCE_DIR=... -DWORK_DIR=... -DPROJECT_VERSION=... -P check_package_version.cmake
cmake_minimum_required(VERSION 3.25)
include(${SOURCE_DIR}/cmake/KelvraRelease.cmake)

file(REMOVE_RECURSE ${WORK_DIR})
execute_process(COMMAND git clone --quiet ${SOURCE_DIR} ${WORK_DIR} RESULT_VARIABLE rc OUTPUT_QUIET ERROR_QUIET)
if(NOT rc EQUAL 0)
  message("no git checkout at ${SOURCE_DIR}: nothing to compare")
  return()
endif()
kelvra_source_revision(${WORK_DIR} ${PROJECT_VERSION} FIRST)
execute_process(COMMAND git -C ${WORK_DIR} -c user.name=Test -c user.email=test@kelvra.org
                        commit --quiet --allow-empty -m "A newer commit" RESULT_VARIABLE rc)
kelvra_source_revision(${WORK_DIR} ${PROJECT_VERSION} SECOND)
file(REMOVE_RECURSE ${WORK_DIR})
if(NOT rc EQUAL 0 OR FIRST_SOURCE_COMMIT STREQUAL "" OR SECOND_SOURCE_COMMIT STREQUAL FIRST_SOURCE_COMMIT)
  message(FATAL_ERROR "no second commit to build from (status ${rc})")
endif()

execute_process(COMMAND dpkg --compare-versions ${SECOND_PACKAGE_VERSION} gt ${FIRST_PACKAGE_VERSION}
                RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "a package of ${SECOND_PACKAGE_VERSION} (the newer commit) does not upgrade "
                      "one of ${FIRST_PACKAGE_VERSION}")
endif()
if(NOT FIRST_PACKAGE_VERSION MATCHES "^${PROJECT_VERSION}[+]")
  message(FATAL_ERROR "the package version ${FIRST_PACKAGE_VERSION} is not the program's ${PROJECT_VERSION} "
                      "with a build number")
endif()
