# Makes one variant of the GNOME Shell extension from its one source:
# cmake -DSOURCE_DIR=... -DVARIANT=43|45 -DUUID=... -DVERSION=... -DOUT=dir -P gnome-extension.cmake
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
