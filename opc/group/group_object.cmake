# The group object: its state, its interface parts and IOPCGroupStateMgt.
add_library(opc_group STATIC
  ${CMAKE_CURRENT_LIST_DIR}/group_object.cpp
  ${CMAKE_CURRENT_LIST_DIR}/group_state_mgt.cpp)
target_include_directories(opc_group PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(opc_group PUBLIC opc_server_shared opc_declarations)
