# Wayland protocols: client headers and glue code generated with wayland-scanner into the
# build tree, from the protocol XML (the project's own or wayland-protocols').
pkg_check_modules(WAYLAND_CLIENT REQUIRED IMPORTED_TARGET wayland-client)
pkg_get_variable(WAYLAND_SCANNER wayland-scanner wayland_scanner)
pkg_get_variable(WAYLAND_PROTOCOLS_DIR wayland-protocols pkgdatadir)
if(NOT WAYLAND_SCANNER OR NOT WAYLAND_PROTOCOLS_DIR)
  message(FATAL_ERROR "wayland-scanner and wayland-protocols are needed (libwayland-dev, wayland-protocols)")
endif()

# Adds the client side of protocol `xml` to `target`; its header is included by file name,
# e.g. "xdg-shell-client-protocol.h".
function(add_wayland_protocol target xml)
  get_filename_component(base ${xml} NAME_WE)
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/wayland-${target})
  set(header ${dir}/${base}-client-protocol.h)
  set(code ${dir}/${base}-protocol.c)
  add_custom_command(OUTPUT ${header} ${code}
                     COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
                     COMMAND ${WAYLAND_SCANNER} client-header ${xml} ${header}
                     COMMAND ${WAYLAND_SCANNER} private-code ${xml} ${code}
                     DEPENDS ${xml} VERBATIM)
  target_sources(${target} PRIVATE ${header} ${code})
  target_include_directories(${target} PRIVATE ${dir})
endfunction()
