# Compiles the dashboard's assets into corvenza_emulator_core: each build
# regenerates the embedded source when a file under assets/ changes.
set(dashboard_dir ${CMAKE_CURRENT_LIST_DIR})
file(GLOB dashboard_asset_files CONFIGURE_DEPENDS ${dashboard_dir}/assets/*)
set(dashboard_embedded ${CMAKE_CURRENT_BINARY_DIR}/dashboard_embedded_files.cpp)
add_custom_command(
  OUTPUT ${dashboard_embedded}
  COMMAND ${CMAKE_COMMAND} -DASSET_DIR=${dashboard_dir}/assets -DOUTPUT=${dashboard_embedded}
          -P ${dashboard_dir}/embed_files.cmake
  DEPENDS ${dashboard_asset_files} ${dashboard_dir}/embed_files.cmake
  COMMENT "Embedding the dashboard's assets"
  VERBATIM)
target_sources(corvenza_emulator_core PRIVATE ${dashboard_embedded})
