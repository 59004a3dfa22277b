# The web client on libcurl: the version manifest, program and bundle
# downloads, the service status and the page API relay.
find_package(CURL REQUIRED)
add_library(tb_os_http STATIC ${CMAKE_CURRENT_LIST_DIR}/http_curl.cpp ${CMAKE_CURRENT_LIST_DIR}/http_request_curl.cpp)
target_link_libraries(tb_os_http PUBLIC CURL::libcurl Threads::Threads)
tb_layer_view(tb_os_http base os os/linux foundation)
