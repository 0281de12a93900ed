# Cross build for 64-bit Windows with mingw-w64: quillmar64.dll, the 64-bit twin of
# quillmar.dll, and its tests.
set(QM_MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-toolchain.cmake)
