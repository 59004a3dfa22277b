# TLS 1.2 client connections through OpenSSL 3.
find_package(OpenSSL REQUIRED)
add_library(tb_os_tls STATIC ${CMAKE_CURRENT_LIST_DIR}/tls_openssl.cpp)
target_link_libraries(tb_os_tls PUBLIC tb_os_net tb_os_base OpenSSL::SSL OpenSSL::Crypto Threads::Threads)
tb_layer_view(tb_os_tls base os os/linux foundation)
