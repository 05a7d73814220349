# Common set-up of the libFuzzer projects (tools/fuzz, tools/import/fuzz). Each is a project of
# its own so that the main build never needs clang. Include after project().
set(CMAKE_CXX_STANDARD 17)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)
if(NOT CMAKE_BUILD_TYPE)
  set(CMAKE_BUILD_TYPE RelWithDebInfo CACHE STRING "Build type" FORCE)
endif()
if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  message(FATAL_ERROR "The fuzz targets need clang with libFuzzer (-DCMAKE_CXX_COMPILER=clang++-14)")
endif()
find_package(Qt6 6.4 REQUIRED COMPONENTS Core)

# Same numerics as the product; sanitizers on everything that is ours.
set(SAN -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
add_compile_options(-Wall -Wextra -ffp-contract=off -fno-fast-math -g ${SAN})
