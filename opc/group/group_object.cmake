# The group object: its state, its interface parts and IOPCGroupStateMgt; its items with
# IOPCItemMgt, IOPCSyncIO and the item attribute enumerator.
add_library(opc_group STATIC
  ${CMAKE_CURRENT_LIST_DIR}/group_object.cpp
  ${CMAKE_CURRENT_LIST_DIR}/group_state_mgt.cpp
  ${CMAKE_CURRENT_LIST_DIR}/item_attribute_enumerator.cpp
  ${CMAKE_CURRENT_LIST_DIR}/item_mgt.cpp
  ${CMAKE_CURRENT_LIST_DIR}/item_object.cpp
  ${CMAKE_CURRENT_LIST_DIR}/item_table.cpp
  ${CMAKE_CURRENT_LIST_DIR}/sync_io.cpp)
target_include_directories(opc_group PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(opc_group PUBLIC opc_values opc_server_shared opc_declarations oleaut32)
