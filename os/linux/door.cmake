# What the tablet door needs from the machine: the event-loop server for the
# LAN connections, the PC's interface addresses, and the firewall tools.
add_library(tb_os_door STATIC
  ${CMAKE_CURRENT_LIST_DIR}/stream_server_epoll.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lan_ifaddrs.cpp
  ${CMAKE_CURRENT_LIST_DIR}/firewall_posix.cpp)
target_link_libraries(tb_os_door PUBLIC tb_os_net tb_foundation Threads::Threads)
tb_layer_view(tb_os_door base os os/linux foundation)
