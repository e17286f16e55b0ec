# Writes the copy of opc_da.idl the lying proxy is made from: every [in] array sized by a
# parameter (size_is(dwCount)) gets size 1 instead. The wire stays the same shape (a conformant
# array, now of size 1 whatever the count), so the proxy sends one element while the count it
# passes says what its caller claims: what a caller with a proxy of its own could send.
#
# cmake -DIDL=<opc_da.idl> -DOUT=<lying copy> -P lie_about_in_array_sizes.cmake

file(READ "${IDL}" idl)
set(sized_in "(\\[in, (string, )?size_is\\()[A-Za-z]+\\)")
string(REGEX MATCHALL "${sized_in}" arrays "${idl}")
list(LENGTH arrays count)
if(count EQUAL 0)
  message(FATAL_ERROR "${IDL}: no [in, size_is(n)] array found to lie about.")
endif()
string(REGEX REPLACE "${sized_in}" "\\11)" idl "${idl}")
file(WRITE "${OUT}" "${idl}")
