# QR codes: libqrencode makes the matrix, GdkPixbuf writes its PNG picture.
# Neither needs a display.
pkg_check_modules(TB_QRENCODE REQUIRED IMPORTED_TARGET libqrencode)
pkg_check_modules(TB_QR_PIXBUF REQUIRED IMPORTED_TARGET gdk-pixbuf-2.0)
add_library(tb_os_qr STATIC
  ${CMAKE_CURRENT_LIST_DIR}/qr_qrencode.cpp
  ${CMAKE_CURRENT_LIST_DIR}/qr_png_pixbuf.cpp)
target_link_libraries(tb_os_qr PUBLIC tb_base PkgConfig::TB_QRENCODE PkgConfig::TB_QR_PIXBUF Threads::Threads)
tb_layer_view(tb_os_qr base os os/linux foundation)
