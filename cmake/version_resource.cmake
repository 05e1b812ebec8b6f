# kelma_version_resource(<target> <description>): gives a Windows program a version resource
# (file and product version, description, product name, original file name), so Explorer's
# Properties tell what the file is. The version is the top-level project's.
set(KELMA_VERSION_RC_TEMPLATE ${CMAKE_CURRENT_LIST_DIR}/version.rc.in)

function(kelma_version_resource target description)
  set(KELMA_FILE_DESCRIPTION "${description}")
  set(KELMA_INTERNAL_NAME "${target}")
  set(KELMA_ORIGINAL_FILENAME "${target}${CMAKE_EXECUTABLE_SUFFIX}")
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
  configure_file(${KELMA_VERSION_RC_TEMPLATE} ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
endfunction()
