# One web-host request with a body and an answer of any status, on libcurl.
find_package(CURL REQUIRED)
add_library(tb_os_web_call STATIC ${CMAKE_CURRENT_LIST_DIR}/web_call_curl.cpp)
target_link_libraries(tb_os_web_call PUBLIC tb_os_http CURL::libcurl Threads::Threads)
tb_layer_view(tb_os_web_call base os os/linux foundation)
