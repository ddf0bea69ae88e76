# The page's "build": until the real page build exists, the hand-written page in frontend/page/
# is copied as it stands into frontend/dist/ of the build tree. Gives
#   QUILLORY_FRONTEND_DIST   the build output folder
#   QUILLORY_FRONTEND_STAMP  a file rewritten after every build (depend on it, not on the folder)
set(QUILLORY_FRONTEND_DIST ${CMAKE_BINARY_DIR}/frontend/dist)
set(QUILLORY_FRONTEND_STAMP ${CMAKE_BINARY_DIR}/frontend/dist.stamp)
file(GLOB_RECURSE frontend_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/page/*)
add_custom_command(
  OUTPUT ${QUILLORY_FRONTEND_STAMP}
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${QUILLORY_FRONTEND_DIST}
  COMMAND ${CMAKE_COMMAND} -E copy_directory ${CMAKE_CURRENT_LIST_DIR}/page ${QUILLORY_FRONTEND_DIST}
  COMMAND ${CMAKE_COMMAND} -E touch ${QUILLORY_FRONTEND_STAMP}
  DEPENDS ${frontend_sources}
  COMMENT "Building the editor page into frontend/dist"
  VERBATIM)
