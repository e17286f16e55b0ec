# Stream formats: the byte layouts of the data, data-with-time and write-complete streams,
# their global memory blocks and their hand-over to a client's advise sink.
add_library(opc_streams STATIC
  ${CMAKE_CURRENT_LIST_DIR}/stream_block.cpp
  ${CMAKE_CURRENT_LIST_DIR}/stream_data.cpp
  ${CMAKE_CURRENT_LIST_DIR}/stream_handover.cpp
  ${CMAKE_CURRENT_LIST_DIR}/stream_write_complete.cpp)
target_link_libraries(opc_streams PUBLIC opc_values opc_declarations ole32)
