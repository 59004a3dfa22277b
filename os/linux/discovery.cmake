# The printer search's view of the machine: interfaces and the neighbour
# table, the probe sockets, and the printers attached to this PC (CUPS,
# usblp, serial ports).
find_library(TB_DISCOVERY_LIBCUPS NAMES cups REQUIRED)
add_library(tb_os_discovery STATIC
  ${CMAKE_CURRENT_LIST_DIR}/discovery_lan_linux.cpp
  ${CMAKE_CURRENT_LIST_DIR}/discovery_socket_posix.cpp
  ${CMAKE_CURRENT_LIST_DIR}/discovery_local_linux.cpp)
target_link_libraries(tb_os_discovery PUBLIC tb_os_net tb_os_base ${TB_DISCOVERY_LIBCUPS} Threads::Threads)
tb_layer_view(tb_os_discovery base os os/linux foundation)
