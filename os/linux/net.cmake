# TCP sockets: connect with a time-out, sends with deadlines, listeners.
add_library(tb_os_net STATIC ${CMAKE_CURRENT_LIST_DIR}/net_posix.cpp)
target_link_libraries(tb_os_net PUBLIC Threads::Threads)
tb_layer_view(tb_os_net base os os/linux foundation)
