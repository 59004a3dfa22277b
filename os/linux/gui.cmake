# The display backends: the GTK3 main window and the WebKitGTK 4.1 web view,
# with the automation endpoint for end-to-end tests, and the web-process
# extension that reports frames and messages from inside the web process.
if(TB_GUI)
  pkg_check_modules(GTK3 REQUIRED IMPORTED_TARGET gtk+-3.0)
  pkg_check_modules(WEBKIT REQUIRED IMPORTED_TARGET webkit2gtk-4.1)
  pkg_check_modules(WEBKIT_EXT REQUIRED IMPORTED_TARGET webkit2gtk-web-extension-4.1)
  pkg_check_modules(APPINDICATOR REQUIRED IMPORTED_TARGET ayatana-appindicator3-0.1)

  file(GLOB gui_srcs CONFIGURE_DEPENDS
    ${CMAKE_CURRENT_LIST_DIR}/gtk_*.cpp ${CMAKE_CURRENT_LIST_DIR}/webkit_*.cpp)
  add_library(tb_os_gui STATIC ${gui_srcs})
  target_link_libraries(tb_os_gui PUBLIC tb_foundation PkgConfig::GTK3 PkgConfig::WEBKIT
    PkgConfig::APPINDICATOR Threads::Threads)
  tb_layer_view(tb_os_gui base os os/linux foundation)

  # The extension is loaded by every web process from the folder "webext"
  # next to the executable.
  add_library(tillbay-webext MODULE ${CMAKE_CURRENT_LIST_DIR}/webext/extension.cpp)
  target_link_libraries(tillbay-webext PRIVATE PkgConfig::WEBKIT_EXT)
  set_target_properties(tillbay-webext PROPERTIES
    LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/app/webext
    CXX_VISIBILITY_PRESET hidden)
  install(TARGETS tillbay-webext LIBRARY DESTINATION webext)
endif()
