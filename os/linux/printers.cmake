# Text in Windows code pages (iconv): printed text and old spreadsheet files.
add_library(tb_os_codepage STATIC ${CMAKE_CURRENT_LIST_DIR}/codepage_iconv.cpp)
tb_layer_view(tb_os_codepage base os os/linux foundation)

# Receipt printers: network, serial and USB ports (POSIX sockets, termios,
# usblp devices) and the lists of the ports this PC has (sysfs).
add_library(tb_os_printer STATIC ${CMAKE_CURRENT_LIST_DIR}/printer_port_posix.cpp)
target_link_libraries(tb_os_printer PUBLIC tb_os_net Threads::Threads)
tb_layer_view(tb_os_printer base os os/linux foundation)

# The print spooler through libcups: queue lists, raw jobs, resuming a
# stopped queue.
find_package(Cups REQUIRED)
add_library(tb_os_spooler STATIC ${CMAKE_CURRENT_LIST_DIR}/spooler_cups.cpp)
target_link_libraries(tb_os_spooler PUBLIC Cups::Cups Threads::Threads)
tb_layer_view(tb_os_spooler base os os/linux foundation)
