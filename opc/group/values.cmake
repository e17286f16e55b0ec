# Item values and tag lookup: the tag name index, the canonical types and values of mirror
# entries, item read and the conversions both ways, independent of the group and item objects.
add_library(opc_values STATIC
  ${CMAKE_CURRENT_LIST_DIR}/item_value.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tag_lookup.cpp
  ${CMAKE_CURRENT_LIST_DIR}/value_conversion.cpp)
target_link_libraries(opc_values PUBLIC runtime_link opc_declarations oleaut32)
