# cmake -DMODULE=scene.py -DHEADER=blender_scene_module.h -P embed_module.cmake
# Writes the module's text into a C++ header as the raw string
# BLENDER_SCENE_MODULE.
file(READ ${MODULE} text)
if(text MATCHES "\\)PY\"")
  message(FATAL_ERROR "${MODULE} holds )PY\", which ends the raw string")
endif()
file(WRITE ${HEADER}.new
  "// Made by the build from blender/lumeko/scene.py: the add-on's scene module.\n"
  "#pragma once\n\n"
  "inline constexpr char BLENDER_SCENE_MODULE[] = R\"PY(${text})PY\";\n")
file(COPY_FILE ${HEADER}.new ${HEADER} ONLY_IF_DIFFERENT)
file(REMOVE ${HEADER}.new)
