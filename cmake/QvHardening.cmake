# Hardened code for every build that may be shipped: position-independent
# executables, a stack protector, full RELRO with immediate binding, and the
# C library's checked functions.
set(CMAKE_POSITION_INDEPENDENT_CODE ON)
include(CheckPIESupported)
check_pie_supported(LANGUAGES CXX)
add_compile_options(-fstack-protector-strong)
add_link_options(LINKER:-z,relro,-z,now)
# Fortification needs the optimiser, and it swaps the library calls that the
# sanitizers intercept for checked ones they do not know: release-like builds only.
if(QV_SANITIZE STREQUAL "")
  add_compile_options("$<$<NOT:$<CONFIG:Debug>>:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=2>")
endif()
