# Files and crypto: needed by every subsystem, no display.
find_package(OpenSSL REQUIRED)
add_library(tb_os_base STATIC
  ${CMAKE_CURRENT_LIST_DIR}/fs_posix.cpp
  ${CMAKE_CURRENT_LIST_DIR}/crypto_openssl.cpp)
target_link_libraries(tb_os_base PUBLIC OpenSSL::Crypto Threads::Threads)
