# The API reference: `cmake --build BUILD --target docs` writes BUILD/docs/html from the Doxyfile
# at the top of the tree. Any doxygen warning fails the target.
find_program(UHF_DOXYGEN doxygen)
if(UHF_DOXYGEN)
  set(UHF_DOCS_COMMAND sh -c
    "(cat Doxyfile && echo \"OUTPUT_DIRECTORY=$0\") | \"$1\" -")
  add_custom_target(docs
    COMMAND ${UHF_DOCS_COMMAND} ${PROJECT_BINARY_DIR}/docs ${UHF_DOXYGEN}
    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
    COMMENT "API reference in ${PROJECT_BINARY_DIR}/docs/html"
    VERBATIM)
else()
  message(STATUS "doxygen not found: no docs target")
endif()
