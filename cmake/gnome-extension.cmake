# Makes one variant of the GNOME Shell extension from its one source, with
# glide's symbolic icon and its settings' schema, compiled:
# cmake -DSOURCE_DIR=... -DVARIANT=43|45 -DUUID=... -DVERSION=... -DOUT=dir
#       -DCOMPILE_SCHEMAS=glib-compile-schemas -P gnome-extension.cmake
# Each variant keeps the lines marked for it and drops those marked for the
# other; the marks themselves go.
if(VARIANT STREQUAL 43)
  set(keep 43-44)
  set(drop 45-)
  set(releases "\"43\", \"44\"")
else()
  set(keep 45-)
  set(drop 43-44)
  # GNOME matches each entry against its major version alone: every release
  # out is listed.
  set(releases "\"45\", \"46\", \"47\", \"48\", \"49\", \"50\", \"51\"")
endif()
file(READ ${SOURCE_DIR}/gnome/extension.js source)
string(REGEX REPLACE "[^\n]*  // ${drop}\n" "" source "${source}")
string(REPLACE "  // ${keep}\n" "\n" source "${source}")
file(WRITE ${OUT}/extension.js "${source}")
set(GLIDE_GNOME_UUID ${UUID})
set(GLIDE_GNOME_VERSION ${VERSION})
set(GLIDE_GNOME_RELEASES ${releases})
configure_file(${SOURCE_DIR}/gnome/metadata.json.in ${OUT}/metadata.json @ONLY)
file(COPY ${SOURCE_DIR}/icons/glide-symbolic.svg DESTINATION ${OUT})
# GNOME 43 does not compile a schema on installing an extension, nor does
# gnome-extensions pack from 46 on: the compiled schema travels with it.
file(COPY ${SOURCE_DIR}/gnome/org.gnome.shell.extensions.glide-pointer.gschema.xml
     DESTINATION ${OUT}/schemas)
execute_process(COMMAND ${COMPILE_SCHEMAS} --strict ${OUT}/schemas COMMAND_ERROR_IS_FATAL ANY)
