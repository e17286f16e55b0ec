# Mends a fault of widl 7.0 -Oif proxies in three shapes (the third, for [in] string arrays, is
# described at its step below). For an [out, string] LPWSTR * parameter (and an
# [in, out, string] one, such as a browse continuation point) the procedure format string gets
# the type offset of the string pointer (FC_OP) instead of the offset of the FC_RP
# [allocated_on_stack] [pointer_deref] entry 4 bytes before it, and the string then arrives NULL
# in the client. For an [out, string, size_is(,n)] LPWSTR ** parameter (a string
# array) it gets the offset of the array 8 bytes past the FC_RP entry, and the call fails in the
# client with 0x800703E6. Each such parameter is pointed back at its FC_RP entry.
#
# cmake -DIDL=<file.idl> -DIN=<widl proxy> -DOUT=<mended proxy> -P fix_string_out_offsets.cmake
#
# Fails when the number of mended parameters of any shape differs from the number of such
# parameters in the IDL: a widl that has been fixed (or changed its output) must be noticed.

include(${CMAKE_CURRENT_LIST_DIR}/in_param_at_rp_entry.cmake)

file(READ "${IDL}" idl)
file(READ "${IN}" proxy)

# Points every out parameter whose type offset is `rp_offset + distance` at the FC_RP entry
# `rp_offset` (one per entry of `entries`, which begin "/* rp_offset "); sets `count_var` to their
# number.
function(mend_entries entries distance count_var)
  set(mended 0)
  foreach(entry IN LISTS entries)
    string(REGEX MATCH "^/\\* ([0-9]+) " _ "${entry}")
    set(rp_offset ${CMAKE_MATCH_1})
    math(EXPR wrong_offset "${rp_offset} + ${distance}")
    math(EXPR wrong_hex "${wrong_offset}" OUTPUT_FORMAT HEXADECIMAL)
    math(EXPR rp_hex "${rp_offset}" OUTPUT_FORMAT HEXADECIMAL)
    # An out parameter's descriptor: flags line, stack offset line, type offset line.
    set(param_re "(flags: [^\n]*out[^\n]*\n[^\n]*stack offset[^\n]*\n[ \t]*)NdrFcShort\\(${wrong_hex}\\),([ \t]*)/\\* type offset = ${wrong_offset} \\*/")
    string(REGEX MATCHALL "${param_re}" uses "${proxy}")
    list(LENGTH uses count)
    if(count GREATER 0)
      string(REGEX REPLACE "${param_re}"
        "\\1NdrFcShort(${rp_hex}),\\2/* type offset = ${rp_offset} (mended) */" proxy "${proxy}")
      math(EXPR mended "${mended} + ${count}")
    endif()
  endforeach()
  set(${count_var} ${mended} PARENT_SCOPE)
  set(proxy "${proxy}" PARENT_SCOPE)
endfunction()

function(check_count what mended expected)
  if(NOT mended EQUAL expected)
    message(FATAL_ERROR
      "${IN}: mended ${mended} ${what} parameters, the IDL has ${expected}. "
      "The widl string out-parameter fault no longer looks as expected; check the generated "
      "proxy (a fixed widl needs this step removed).")
  endif()
endfunction()

# The type-format entry widl writes for LPWSTR *: "/* M (LPWSTR *) */", FC_RP 0x11 0x14, then
# "NdrFcShort(0x2)" leading to the FC_OP string pointer at M + 4.
string(REGEX MATCHALL "\\[(in, )?out, string\\] LPWSTR \\*" string_outs "${idl}")
list(LENGTH string_outs expected)
string(REGEX MATCHALL
  "/\\* [0-9]+ \\(LPWSTR \\*\\) \\*/\n[ \t]*0x11, 0x14,[^\n]*FC_RP \\[allocated_on_stack\\] \\[pointer_deref\\][^\n]*\n[ \t]*NdrFcShort\\(0x2\\),"
  entries "${proxy}")
mend_entries("${entries}" 4 mended)
check_count("[(in,) out, string] LPWSTR *" ${mended} ${expected})

# The same for LPWSTR **: "/* M (LPWSTR **) */", FC_RP 0x11 0x14, "NdrFcShort(0x2)" to the FC_OP
# at M + 4, whose array follows at M + 8.
string(REGEX MATCHALL "\\[out, string, size_is\\([^)]*\\)\\] LPWSTR \\*\\*" array_outs "${idl}")
list(LENGTH array_outs expected)
string(REGEX MATCHALL
  "/\\* [0-9]+ \\(LPWSTR \\*\\*\\) \\*/\n[ \t]*0x11, 0x14,[^\n]*FC_RP \\[allocated_on_stack\\] \\[pointer_deref\\][^\n]*\n[ \t]*NdrFcShort\\(0x2\\),"
  entries "${proxy}")
mend_entries("${entries}" 8 mended)
check_count("[out, string, size_is(,n)] LPWSTR **" ${mended} ${expected})

# A third shape, for an [in, string, size_is(n)] LPWSTR * parameter (an array of item IDs): widl
# writes "/* M (LPWSTR *) */" FC_RP 0x11 0x0 with "NdrFcShort(0x2)" leading to the array at M + 4
# (FC_BOGUS_ARRAY in the 64-bit proxy, FC_CARRAY in the 32-bit one), and gives the parameter, as a
# "simple ref" one, the type offset M + 8: inside the array's own descriptor, and the call fails
# in the client with 0x800706F7 (RPC_X_BAD_STUB_DATA). Each is pointed at its FC_RP entry with the
# "simple ref" flag cleared (in_param_at_rp_entry.cmake, as for arrays of structures): the array
# then crosses, and the stub frees it after the call (pointed at the array itself, it would cross
# but stay behind in the server, a block per call).
string(REGEX MATCHALL "\\[in, string, size_is\\([A-Za-z0-9]+\\)\\] LPC?WSTR \\*" in_arrays "${idl}")
list(LENGTH in_arrays expected)
string(REGEX MATCHALL
  "/\\* [0-9]+ \\(LPC?WSTR \\*\\) \\*/\n[ \t]*0x11, 0x0,[ \t]*/\\* FC_RP \\*/\n[ \t]*NdrFcShort\\(0x2\\),"
  entries "${proxy}")
set(mended 0)
foreach(entry IN LISTS entries)
  string(REGEX MATCH "^/\\* ([0-9]+) " _ "${entry}")
  math(EXPR wrong_offset "${CMAKE_MATCH_1} + 8")
  point_in_param_at_rp_entry(${wrong_offset} ${CMAKE_MATCH_1} mended)
endforeach()
check_count("[in, string, size_is(n)] LPWSTR *" ${mended} ${expected})

file(WRITE "${OUT}" "${proxy}")
