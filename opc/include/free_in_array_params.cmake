# Lets the server side free the arrays of structures it unmarshals for [in] parameters
# (OPCITEMDEF, OPCITEMVQT and VARIANT arrays). widl 7.0 describes such a parameter as "simple ref" with its
# type offset at the FC_BOGUS_ARRAY itself. Wine's stubless stub (rpcrt4 stub_do_args) then
# allocates the array for the call and frees only what the elements point to, never the array:
# 48 bytes per OPCITEMDEF, 24 per VARIANT stay behind in the server on every call. widl writes
# the FC_RP entry for the parameter right after the array; pointed at that entry, and with the
# "simple ref" flag cleared, the stub frees the array through NdrPointerFree. A top-level [ref]
# pointer has no wire representation, so the bytes on the wire stay the same.
#
# cmake -DIDL=<file.idl> -DIN=<proxy> -DOUT=<mended proxy> -P free_in_array_params.cmake
#
# Fails when the number of mended parameters differs from the number of [in] arrays of OPCITEMDEF
# or VARIANT in the IDL, so that a changed widl is noticed. In the 32-bit proxy an OPCITEMDEF has
# no padding and widl describes its array as a plain conformant array (FC_CARRAY), not in the
# shape above; those are counted apart and left as they are (their stub side, AddItems and
# ValidateItems, runs in our 64-bit server).

include(${CMAKE_CURRENT_LIST_DIR}/in_param_at_rp_entry.cmake)

file(READ "${IDL}" idl)
string(REGEX MATCHALL "\\[in, size_is\\([A-Za-z]+\\)\\] (OPCITEMDEF|OPCITEMVQT|VARIANT) \\*" in_arrays "${idl}")
list(LENGTH in_arrays expected)

file(READ "${IN}" proxy)

# Each FC_RP entry that leads to an FC_BOGUS_ARRAY 20 bytes before it (the array's own entry is
# 18 bytes long, then the FC_RP's 2 bytes of type and flags).
string(REGEX MATCHALL
  "/\\* [0-9]+ \\([A-Za-z]+ \\*\\) \\*/\n[ \t]*0x21,[ \t]*/\\* FC_BOGUS_ARRAY \\*/\n[^\n]*\n[^\n]*\n[^\n]*\n[^\n]*\n[^\n]*\n[^\n]*\n[^\n]*\n[^\n]*\n[^\n]*\n[^\n]*\n[^\n]*\n/\\* [0-9]+ \\*/\n[ \t]*0x11, 0x0,[ \t]*/\\* FC_RP \\*/\n[ \t]*NdrFcShort\\(0xffec\\),"
  entries "${proxy}")

set(mended 0)
foreach(entry IN LISTS entries)
  string(REGEX MATCH "^/\\* ([0-9]+) " _ "${entry}")
  set(array_offset ${CMAKE_MATCH_1})
  string(REGEX MATCH "\n/\\* ([0-9]+) \\*/\n[ \t]*0x11" _ "${entry}")
  point_in_param_at_rp_entry(${array_offset} ${CMAKE_MATCH_1} mended)
endforeach()

string(REGEX MATCHALL "/\\* [0-9]+ \\(OPCITEMDEF \\*\\) \\*/\n[ \t]*0x1b,[ \t]*/\\* FC_CARRAY \\*/"
       plain_arrays "${proxy}")
list(LENGTH plain_arrays plain)
math(EXPR mended "${mended} + ${plain}")
if(NOT mended EQUAL expected)
  message(FATAL_ERROR
    "${IN}: mended (or found plain) ${mended} [in] array parameters, the IDL has ${expected}. The widl output "
    "no longer looks as expected; check the generated proxy.")
endif()
file(WRITE "${OUT}" "${proxy}")
