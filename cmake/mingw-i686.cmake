# 32-bit Windows, the module's home platform; its test programs run under
# Wine's 32-bit loader.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(VDM_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
