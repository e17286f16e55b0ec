# Mends a fault of widl 7.0 -Oif proxies in two shapes. For an [out, string] LPWSTR * parameter
# (and an [in, out, string] one, such as a browse continuation point)
# the procedure format string gets the type offset of the string pointer (FC_OP) instead of the
# offset of the FC_RP [allocated_on_stack] [pointer_deref] entry 4 bytes before it, and the string
# then arrives NULL in the client. For an [out, string, size_is(,n)] LPWSTR ** parameter (a string
# array) it gets the offset of the array 8 bytes past the FC_RP entry, and the call fails in the
# client with 0x800703E6. Each such parameter is pointed back at its FC_RP entry.
# The [in] string arrays ([in, string, size_is(n)] LPWSTR * or LPCWSTR *: item IDs of IOPCBrowse
# and IOPCItemIO) have a third shape: a "simple ref" parameter whose type offset lies 4 bytes past
# the array it should name, so that the server's stub fails with 0x800706F7 (bad stub data). They
# are pointed at their FC_RP entry without "simple ref", as free_in_array_params.cmake does for
# arrays of structures, so that the stub also frees the array.
#
# cmake -DIDL=<file.idl> -DIN=<widl proxy> -DOUT=<mended proxy> -P fix_string_out_offsets.cmake
#
# Fails when the number of mended parameters of either shape differs from the number of such
# parameters in the IDL: a widl that has been fixed (or changed its output) must be noticed.

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

# The [in] string arrays: "/* M (LPWSTR *) */" (or LPCWSTR), FC_RP 0x11 0x0, "NdrFcShort(0x2)"
# to the array at M + 4 (FC_BOGUS_ARRAY in 64-bit proxies, FC_CARRAY in 32-bit ones); the
# parameter names M + 8.
string(REGEX MATCHALL "\\[in, string, size_is\\([^)]*\\)\\] LPC?WSTR \\*" array_ins "${idl}")
list(LENGTH array_ins expected)
string(REGEX MATCHALL
  "/\\* [0-9]+ \\(LPC?WSTR \\*\\) \\*/\n[ \t]*0x11, 0x0,[ \t]*/\\* FC_RP \\*/\n[ \t]*NdrFcShort\\(0x2\\),\n/\\* [0-9]+ \\(LPC?WSTR \\*\\) \\*/\n[ \t]*0x(21|1b),"
  entries "${proxy}")
set(mended 0)
foreach(entry IN LISTS entries)
  string(REGEX MATCH "^/\\* ([0-9]+) " _ "${entry}")
  set(rp_offset ${CMAKE_MATCH_1})
  math(EXPR wrong_offset "${rp_offset} + 8")
  math(EXPR wrong_hex "${wrong_offset}" OUTPUT_FORMAT HEXADECIMAL)
  math(EXPR rp_hex "${rp_offset}" OUTPUT_FORMAT HEXADECIMAL)
  set(param_re "NdrFcShort\\(0x10b\\),([ \t]*)/\\* flags: must size, must free, in, simple ref \\*/(\n[^\n]*stack offset[^\n]*\n[ \t]*)NdrFcShort\\(${wrong_hex}\\),([ \t]*)/\\* type offset = ${wrong_offset} \\*/")
  string(REGEX MATCHALL "${param_re}" uses "${proxy}")
  list(LENGTH uses count)
  if(count GREATER 0)
    string(REGEX REPLACE "${param_re}"
      "NdrFcShort(0xb),\\1/* flags: must size, must free, in (mended) */\\2NdrFcShort(${rp_hex}),\\3/* type offset = ${rp_offset} (mended) */"
      proxy "${proxy}")
    math(EXPR mended "${mended} + ${count}")
  endif()
endforeach()
check_count("[in, string, size_is(n)] LPWSTR *" ${mended} ${expected})

file(WRITE "${OUT}" "${proxy}")
