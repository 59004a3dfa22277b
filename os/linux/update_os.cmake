# Locks between processes and link-safe folder trees, for the UI bundle store
# and the program update.
find_package(OpenSSL REQUIRED)
add_library(tb_os_tree STATIC
  ${CMAKE_CURRENT_LIST_DIR}/filelock_posix.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tree_posix.cpp)
target_link_libraries(tb_os_tree PUBLIC OpenSSL::Crypto Threads::Threads)
tb_layer_view(tb_os_tree base os os/linux foundation)
