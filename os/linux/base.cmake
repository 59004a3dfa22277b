# Files and crypto: needed by every subsystem, no display.
find_package(OpenSSL REQUIRED)
add_library(tb_os_base STATIC
  ${CMAKE_CURRENT_LIST_DIR}/fs_posix.cpp
  ${CMAKE_CURRENT_LIST_DIR}/crypto_openssl.cpp)
target_link_libraries(tb_os_base PUBLIC tb_base OpenSSL::Crypto Threads::Threads)
tb_layer_view(tb_os_base base os os/linux foundation)
