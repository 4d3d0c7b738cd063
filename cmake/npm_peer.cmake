# Independent implementations the tests compare with, from npm: each pinned by a package.json and
# package-lock.json in the source tree and installed by `npm ci` into the build tree when the
# tests run (a fixture), never at build time. UHF_NODE is node's path, empty when node or npm is
# missing; the tests that need a peer then skip, naming the Debian package.
find_program(UHF_NODE_PROGRAM node)
find_program(UHF_NPM_PROGRAM npm)
if(UHF_NODE_PROGRAM AND UHF_NPM_PROGRAM)
  set(UHF_NODE ${UHF_NODE_PROGRAM})
else()
  set(UHF_NODE "")
endif()

# uhf_npm_peer(NAME DIR FROM SOURCE_DIR LABEL LABEL [FILES FILE...])
# Copies SOURCE_DIR's package.json, package-lock.json and FILEs into DIR and adds the test
# NAME_npm_ci, which installs the pinned packages there: the fixture NAME that the peer's tests
# require (FIXTURES_REQUIRED NAME).
function(uhf_npm_peer name dir)
  cmake_parse_arguments(PARSE_ARGV 2 arg "" "FROM;LABEL" "FILES")
  foreach(file package.json package-lock.json ${arg_FILES})
    configure_file(${arg_FROM}/${file} ${dir}/${file} COPYONLY)
  endforeach()
  if(UHF_NODE)
    add_test(NAME ${name}_npm_ci
      COMMAND ${UHF_NPM_PROGRAM} ci --no-audit --no-fund --loglevel=error
      WORKING_DIRECTORY ${dir})
    set_tests_properties(${name}_npm_ci PROPERTIES
      FIXTURES_SETUP ${name} LABELS ${arg_LABEL} TIMEOUT 300)
  endif()
endfunction()
