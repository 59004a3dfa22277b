# The new-order alert on Linux desktops: the badge window (GTK3 and cairo),
# the tray indicator (Ayatana AppIndicator) and the alert sounds (libcanberra).
if(TB_GUI)
  pkg_check_modules(TB_ALERT_GTK REQUIRED IMPORTED_TARGET gtk+-3.0)
  pkg_check_modules(TB_ALERT_INDICATOR REQUIRED IMPORTED_TARGET ayatana-appindicator3-0.1)
  pkg_check_modules(TB_ALERT_CANBERRA REQUIRED IMPORTED_TARGET libcanberra)

  add_library(tb_os_alert STATIC
    ${CMAKE_CURRENT_LIST_DIR}/alert_gtk.cpp
    ${CMAKE_CURRENT_LIST_DIR}/alert_badge_gtk.cpp
    ${CMAKE_CURRENT_LIST_DIR}/alert_tray_gtk.cpp
    ${CMAKE_CURRENT_LIST_DIR}/alert_sound_canberra.cpp)
  target_link_libraries(tb_os_alert PUBLIC tb_foundation PkgConfig::TB_ALERT_GTK
    PkgConfig::TB_ALERT_INDICATOR PkgConfig::TB_ALERT_CANBERRA Threads::Threads)
  tb_layer_view(tb_os_alert base os os/linux foundation)
endif()
