# The printer search's view of the machine: interfaces and the neighbour
# table, and the probe sockets. The printers attached to this PC come from
# the printing subsystem's enumerations (printers.cmake).
add_library(tb_os_discovery STATIC
  ${CMAKE_CURRENT_LIST_DIR}/discovery_lan_linux.cpp
  ${CMAKE_CURRENT_LIST_DIR}/discovery_socket_posix.cpp)
target_link_libraries(tb_os_discovery PUBLIC tb_os_net tb_os_base Threads::Threads)
tb_layer_view(tb_os_discovery base os os/linux foundation)
