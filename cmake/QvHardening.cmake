# Hardened code for every build that may be shipped: position-independent
# executables, a stack protector, and the C library's checked functions; on
# Linux full RELRO with immediate binding, on Windows the PE equivalents
# (address-space randomisation with a relocatable image, DEP).
set(CMAKE_POSITION_INDEPENDENT_CODE ON)
include(CheckPIESupported)
check_pie_supported(LANGUAGES CXX)
add_compile_options(-fstack-protector-strong)
if(WIN32)
  # MinGW's stack protector lives in libssp: the option must reach the link too.
  add_link_options(-fstack-protector-strong LINKER:--dynamicbase,--high-entropy-va,--nxcompat)
else()
  add_link_options(LINKER:-z,relro,-z,now)
endif()
# Fortification needs the optimiser, and it swaps the library calls that the
# sanitizers intercept for checked ones they do not know: release-like builds only.
if(QV_SANITIZE STREQUAL "")
  add_compile_options("$<$<NOT:$<CONFIG:Debug>>:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=2>")
endif()
