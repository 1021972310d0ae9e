# The release the program's version names, who answers for the package, and what a build is
# made from. The program keeps its own version (project(), shown in its title, About box and
# --version); the package's version adds the number of commits up to the one it is built from,
# so a package built from a newer commit upgrades an older one:
#   KELVRA_PACKAGE_VERSION   1.0.0.19+<commits>, or the project version without git
#   KELVRA_SOURCE_DATE       that commit's date, 2026-12-09 (the release date without git)
#   KELVRA_SOURCE_DATE_RFC2822, KELVRA_SOURCE_COMMIT (its short hash)
# Taken when the build is configured (scripts/package.sh configures every time). Included by the
# top-level CMakeLists.txt; tests/install calls kelvra_source_revision on a clone of the sources.

set(KELVRA_RELEASE_DATE "2026-12-07")
set(KELVRA_RELEASE_DATE_RFC2822 "Mon, 07 Dec 2026 00:00:00 +0000")
set(KELVRA_MAINTAINER "Kelvra Maintainers <maintainers@kelvra.org>")

# kelvra_source_revision(<source dir> <program version> <prefix>): sets <prefix>_PACKAGE_VERSION,
# <prefix>_SOURCE_DATE, <prefix>_SOURCE_DATE_RFC2822 and <prefix>_SOURCE_COMMIT (empty without
# git) for the commit checked out in <source dir>.
function(kelvra_source_revision source version prefix)
  set(commits "")
  find_program(KELVRA_GIT git)
  if(KELVRA_GIT)
    execute_process(COMMAND ${KELVRA_GIT} -C ${source} log -1 --format=%cs%n%cD%n%h
                    RESULT_VARIABLE rc OUTPUT_VARIABLE log ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
    execute_process(COMMAND ${KELVRA_GIT} -C ${source} rev-list --count HEAD
                    OUTPUT_VARIABLE commits ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
    execute_process(COMMAND ${KELVRA_GIT} -C ${source} rev-parse --is-shallow-repository
                    OUTPUT_VARIABLE shallow ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
  endif()
  if(commits MATCHES "^[0-9]+$" AND rc EQUAL 0)
    string(REPLACE "\n" ";" log "${log}")
    list(GET log 0 date)
    list(GET log 1 rfc2822)
    list(GET log 2 commit)
    if(shallow STREQUAL "true")
      message(WARNING "${source} is a shallow clone: its ${commits} commit(s) make no package version "
                      "that grows; fetch the whole history (git fetch --unshallow)")
    endif()
    set(${prefix}_PACKAGE_VERSION ${version}+${commits} PARENT_SCOPE)
    set(${prefix}_SOURCE_DATE ${date} PARENT_SCOPE)
    set(${prefix}_SOURCE_DATE_RFC2822 ${rfc2822} PARENT_SCOPE)
    set(${prefix}_SOURCE_COMMIT ${commit} PARENT_SCOPE)
  else()
    set(${prefix}_PACKAGE_VERSION ${version} PARENT_SCOPE)
    set(${prefix}_SOURCE_DATE ${KELVRA_RELEASE_DATE} PARENT_SCOPE)
    set(${prefix}_SOURCE_DATE_RFC2822 ${KELVRA_RELEASE_DATE_RFC2822} PARENT_SCOPE)
    set(${prefix}_SOURCE_COMMIT "" PARENT_SCOPE)
  endif()
endfunction()

if(NOT CMAKE_SCRIPT_MODE_FILE)
  kelvra_source_revision(${PROJECT_SOURCE_DIR} ${PROJECT_VERSION} KELVRA)
endif()
