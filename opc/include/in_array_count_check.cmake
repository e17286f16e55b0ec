# Sends every call of every OPC interface through the stub's check of [in] array sizes against
# their counts (proxy/in_array_count_check.c) before the interpreter runs it. widl -Oif writes
# stub vtables without a dispatch table, and CStdStubBuffer_Invoke then calls NdrStubCall2 itself;
# with one, it calls the table's entry for the method instead. Each stub vtable gets the same
# table, whose entries all lead to the check; the check finds what to compare in the procedure's
# format string, so a method added to the IDL is covered without a change here.
#
# cmake -DIN=<proxy> -DOUT=<proxy sent through the check> -P in_array_count_check.cmake
#
# Fails unless every stub vtable got the table, so that a changed widl output is noticed.

file(READ "${IN}" proxy)

string(REGEX MATCHALL "static const CInterfaceStubVtbl _[A-Za-z0-9]+StubVtbl =" vtables "${proxy}")
list(LENGTH vtables expected)

# The header of a stub vtable: IID, server info, method count, dispatch table (0).
set(header_re "(static const CInterfaceStubVtbl _[A-Za-z0-9]+StubVtbl =\n{\n[ \t]*{\n[ \t]*&IID_[A-Za-z0-9]+,\n[ \t]*&[A-Za-z0-9]+_ServerInfo,\n[ \t]*)([0-9]+)(,\n[ \t]*)0\n")
string(REGEX MATCHALL "${header_re}" headers "${proxy}")
list(LENGTH headers found)
if(NOT found EQUAL expected OR found EQUAL 0)
  message(FATAL_ERROR
    "${IN}: found ${found} stub vtable headers without a dispatch table, the proxy has ${expected} "
    "stub vtables. The widl output no longer looks as expected; check the generated proxy.")
endif()

# The table is indexed by method number, the three of IUnknown included: as long as the
# largest interface.
set(methods 0)
foreach(header IN LISTS headers)
  string(REGEX MATCH "${header_re}" _ "${header}")
  if(CMAKE_MATCH_2 GREATER methods)
    set(methods ${CMAKE_MATCH_2})
  endif()
endforeach()
string(REGEX REPLACE "${header_re}" "\\1\\2\\3in_array_count_check_dispatch\n" proxy "${proxy}")

set(entries "")
foreach(i RANGE 1 ${methods})
  string(APPEND entries "    in_array_count_checked_stub_call,\n")
endforeach()
string(CONCAT table
  "/* Every method of every interface enters the stub through the check of its [in] arrays\n"
  " * against their counts (added by in_array_count_check.cmake). */\n"
  "static const PRPC_STUB_FUNCTION in_array_count_check_dispatch[${methods}] =\n{\n${entries}};\n")
set(declaration "static const MIDL_STUB_DESC Object_StubDesc;\n")
string(FIND "${proxy}" "${declaration}" at)
if(at LESS 0)
  message(FATAL_ERROR "${IN}: no declaration of Object_StubDesc to put the dispatch table after.")
endif()
string(REPLACE "${declaration}" "${declaration}\n${table}" proxy "${proxy}")
file(WRITE "${OUT}" "${proxy}")
