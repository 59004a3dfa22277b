# Starting the program with the desktop session: the XDG autostart entry.
add_library(tb_os_autostart STATIC ${CMAKE_CURRENT_LIST_DIR}/autostart_xdg.cpp)
target_link_libraries(tb_os_autostart PUBLIC tb_os_base)
tb_layer_view(tb_os_autostart base os os/linux foundation)
