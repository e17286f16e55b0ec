# Shared by the widl proxy mends: points every [in] "simple ref" parameter whose type offset is
# `wrong_offset` at the FC_RP entry `rp_offset` instead, with the "simple ref" flag cleared, so
# that the stub unmarshals through that entry and frees what it allocated after the call. A
# top-level [ref] pointer has no wire representation: the bytes on the wire stay the same.
# Works on `proxy` in the caller's scope and adds the parameters mended to `mended_var` there.
function(point_in_param_at_rp_entry wrong_offset rp_offset mended_var)
  math(EXPR wrong_hex "${wrong_offset}" OUTPUT_FORMAT HEXADECIMAL)
  math(EXPR rp_hex "${rp_offset}" OUTPUT_FORMAT HEXADECIMAL)
  # An [in] simple ref parameter's descriptor: flags line, stack offset line, type offset line.
  set(param_re "NdrFcShort\\(0x10b\\),([ \t]*)/\\* flags: must size, must free, in, simple ref \\*/(\n[^\n]*stack offset[^\n]*\n[ \t]*)NdrFcShort\\(${wrong_hex}\\),([ \t]*)/\\* type offset = ${wrong_offset} \\*/")
  string(REGEX MATCHALL "${param_re}" uses "${proxy}")
  list(LENGTH uses count)
  if(count GREATER 0)
    string(REGEX REPLACE "${param_re}"
      "NdrFcShort(0xb),\\1/* flags: must size, must free, in (mended) */\\2NdrFcShort(${rp_hex}),\\3/* type offset = ${rp_offset} (mended) */"
      proxy "${proxy}")
    math(EXPR mended "${${mended_var}} + ${count}")
    set(${mended_var} ${mended} PARENT_SCOPE)
    set(proxy "${proxy}" PARENT_SCOPE)
  endif()
endfunction()
