# Files, crypto and the process (own path, restart, crash report, threads):
# needed by every subsystem, no display.
find_package(OpenSSL REQUIRED)
add_library(tb_os_base STATIC
  ${CMAKE_CURRENT_LIST_DIR}/fs_posix.cpp
  ${CMAKE_CURRENT_LIST_DIR}/crypto_openssl.cpp
  ${CMAKE_CURRENT_LIST_DIR}/process_posix.cpp
  ${CMAKE_CURRENT_LIST_DIR}/crash_report_posix.cpp)
target_link_libraries(tb_os_base PUBLIC tb_base OpenSSL::Crypto Threads::Threads ${CMAKE_DL_LIBS})
tb_layer_view(tb_os_base base os os/linux foundation)
