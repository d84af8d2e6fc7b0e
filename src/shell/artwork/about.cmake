# The About picture: drawn by UzrArtwork at build time and written as a JPEG beside the player,
# where the About box reads it (the program's folder). Included from src/CMakeLists.txt for the
# shell and the fuzz targets, after Qt6 is found.
find_package(JPEG REQUIRED)

# The JPEG writer of the build tool, the tests and the fuzz seeds (libjpeg only).
add_library(zrjpegwriter STATIC ${CMAKE_SOURCE_DIR}/tools/jpegwriter/JpegWriter.cpp)
target_include_directories(zrjpegwriter PUBLIC ${CMAKE_SOURCE_DIR}/tools)
target_link_libraries(zrjpegwriter PUBLIC JPEG::JPEG)

add_executable(make_about_jpeg
  ${CMAKE_SOURCE_DIR}/tools/make_about_jpeg.cpp
  ${CMAKE_CURRENT_LIST_DIR}/UzrArtwork.cpp
)
target_include_directories(make_about_jpeg PRIVATE ${CMAKE_SOURCE_DIR}/src)
target_link_libraries(make_about_jpeg PRIVATE Qt6::Gui zrjpegwriter)

# The player's output folder is ${CMAKE_BINARY_DIR}/src; tests read the picture from there too.
set(ZR_ABOUT_JPEG ${CMAKE_BINARY_DIR}/src/veRirove_about.jpg)
add_custom_command(
  OUTPUT ${ZR_ABOUT_JPEG}
  COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen $<TARGET_FILE:make_about_jpeg> ${ZR_ABOUT_JPEG}
  DEPENDS make_about_jpeg
  COMMENT "Making the About picture veRirove_about.jpg"
  VERBATIM
)
add_custom_target(about_picture ALL DEPENDS ${ZR_ABOUT_JPEG})
