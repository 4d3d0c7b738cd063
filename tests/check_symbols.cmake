# Compares the names the public header declares with the shared library's dynamic symbols.
# Usage: cmake -DHEADER=... -DLIBRARY=... -DNM=... -P check_symbols.cmake
file(READ "${HEADER}" header)
# Preprocessor lines (the export macro's own definition) declare nothing.
string(REGEX REPLACE "(^|\n)#[^\n]*" "\\1" header "${header}")
# CMake lists split on semicolons and nest on brackets, so both become "@" while matching.
string(REPLACE ";" "@" header "${header}")
string(REPLACE "[" "@" header "${header}")
string(REGEX MATCHALL "UHF_API[^@(\n]*[ *]([A-Za-z_][A-Za-z0-9_]*)[ ]*[(@]" decls "${header}")
set(declared "")
foreach(d IN LISTS decls)
  string(REGEX REPLACE ".*[ *]([A-Za-z_][A-Za-z0-9_]*)[ ]*[(@]$" "\\1" name "${d}")
  list(APPEND declared "${name}")
endforeach()
list(REMOVE_DUPLICATES declared)
list(SORT declared)

execute_process(COMMAND "${NM}" -D --defined-only "${LIBRARY}"
                OUTPUT_VARIABLE nm_out RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
string(REPLACE "\n" ";" lines "${nm_out}")
set(exported "")
foreach(line IN LISTS lines)
  if(line MATCHES "^[0-9a-f]+ [A-Z] ([A-Za-z_][A-Za-z0-9_@.]*)$")
    set(sym "${CMAKE_MATCH_1}")
    # Symbols the toolchain adds to every shared object are not part of our interface.
    if(NOT sym MATCHES "^(_init|_fini|_edata|_end|__bss_start)$")
      list(APPEND exported "${sym}")
    endif()
  endif()
endforeach()
list(SORT exported)

set(missing ${declared})
list(REMOVE_ITEM missing ${exported})
set(extra ${exported})
list(REMOVE_ITEM extra ${declared})
list(LENGTH declared n)
if(missing OR extra)
  message(FATAL_ERROR "declared but not exported: ${missing}\nexported but not declared: ${extra}")
endif()
message(STATUS "${n} names: header and library agree")
