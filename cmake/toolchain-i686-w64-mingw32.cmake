# Cross build for 32-bit Windows with mingw-w64: quillmar.dll and its tests.
set(QM_MINGW_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-toolchain.cmake)
