# Imported targets for the Debian libraries the subsystems link.

pkg_check_modules(CRYPTOPP REQUIRED IMPORTED_TARGET libcrypto++)
pkg_check_modules(SODIUM REQUIRED IMPORTED_TARGET libsodium)
pkg_check_modules(CURL REQUIRED IMPORTED_TARGET libcurl)
pkg_check_modules(SSH2 REQUIRED IMPORTED_TARGET libssh2)
pkg_check_modules(JSONCPP REQUIRED IMPORTED_TARGET jsoncpp)
pkg_check_modules(MNL REQUIRED IMPORTED_TARGET libmnl)

add_library(deps::cryptopp ALIAS PkgConfig::CRYPTOPP)
add_library(deps::sodium ALIAS PkgConfig::SODIUM)
add_library(deps::curl ALIAS PkgConfig::CURL)
add_library(deps::ssh2 ALIAS PkgConfig::SSH2)
add_library(deps::jsoncpp ALIAS PkgConfig::JSONCPP)
add_library(deps::mnl ALIAS PkgConfig::MNL)

# GLib and GIO (the main loop inside the toolkit's, the system bus) and Xlib
# (the display-loss handler): only for the windowed program.
pkg_check_modules(GIO IMPORTED_TARGET glib-2.0 gio-2.0)
pkg_check_modules(X11 IMPORTED_TARGET x11)
if(GIO_FOUND)
  add_library(deps::gio ALIAS PkgConfig::GIO)
endif()
if(X11_FOUND)
  add_library(deps::x11 ALIAS PkgConfig::X11)
endif()

# wxWidgets 3.2 (GTK3): linked only by the user-interface layers (ui, app, dialogs).
find_package(wxWidgets 3.2 COMPONENTS webview core base)
if(wxWidgets_FOUND)
  add_library(deps_wx INTERFACE)
  target_include_directories(deps_wx SYSTEM INTERFACE ${wxWidgets_INCLUDE_DIRS})
  target_compile_definitions(deps_wx INTERFACE ${wxWidgets_DEFINITIONS})
  target_compile_options(deps_wx INTERFACE ${wxWidgets_CXX_FLAGS})
  target_link_libraries(deps_wx INTERFACE ${wxWidgets_LIBRARIES})
  add_library(deps::wx ALIAS deps_wx)
endif()
