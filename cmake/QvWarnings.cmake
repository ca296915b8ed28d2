# Warnings are errors for every target of ours.
add_compile_options(-Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Werror)
# MinGW's GCC 12 at -O3 warns of overlapping copies inside libstdc++'s own
# "text" + std::string (GCC bug 105329, a false alarm fixed in GCC 13).
if(WIN32 AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  add_compile_options(-Wno-restrict)
endif()
