# Mends a fault of widl 7.0 -Oif proxies: for an [out, string] LPWSTR * parameter the procedure
# format string gets the type offset of the string pointer (FC_OP) instead of the offset of the
# FC_RP [allocated_on_stack] [pointer_deref] entry 4 bytes before it, and the string then arrives
# NULL in the client. Each such parameter is pointed back at its FC_RP entry.
#
# cmake -DIDL=<file.idl> -DIN=<widl proxy> -DOUT=<mended proxy> -P fix_string_out_offsets.cmake
#
# Fails when the number of mended parameters differs from the number of [out, string] LPWSTR *
# parameters in the IDL: a widl that has been fixed (or changed its output) must be noticed.

file(READ "${IDL}" idl)
string(REGEX MATCHALL "\\[out, string\\] LPWSTR \\*" string_outs "${idl}")
list(LENGTH string_outs expected)

file(READ "${IN}" proxy)

# The type-format entry widl writes for LPWSTR *: "/* M (LPWSTR *) */", FC_RP 0x11 0x14, then
# "NdrFcShort(0x2)" leading to the FC_OP string pointer at M + 4.
string(REGEX MATCHALL
  "/\\* [0-9]+ \\(LPWSTR \\*\\) \\*/\n[ \t]*0x11, 0x14,[^\n]*FC_RP \\[allocated_on_stack\\] \\[pointer_deref\\][^\n]*\n[ \t]*NdrFcShort\\(0x2\\),"
  entries "${proxy}")

set(mended 0)
foreach(entry IN LISTS entries)
  string(REGEX MATCH "^/\\* ([0-9]+) " _ "${entry}")
  set(rp_offset ${CMAKE_MATCH_1})
  math(EXPR wrong_offset "${rp_offset} + 4")
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

if(NOT mended EQUAL expected)
  message(FATAL_ERROR
    "${IN}: mended ${mended} [out, string] LPWSTR * parameters, the IDL has ${expected}. "
    "The widl string out-parameter fault no longer looks as expected; check the generated proxy "
    "(a fixed widl needs this step removed).")
endif()
file(WRITE "${OUT}" "${proxy}")
