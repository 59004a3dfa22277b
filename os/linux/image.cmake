# Photos: GdkPixbuf decodes, turns, scales and encodes them. No display needed.
pkg_check_modules(TB_IMAGE_PIXBUF REQUIRED IMPORTED_TARGET gdk-pixbuf-2.0)
add_library(tb_os_image STATIC ${CMAKE_CURRENT_LIST_DIR}/image_pixbuf.cpp)
target_link_libraries(tb_os_image PUBLIC tb_os_base tb_base PkgConfig::TB_IMAGE_PIXBUF Threads::Threads)
tb_layer_view(tb_os_image base os os/linux foundation)
