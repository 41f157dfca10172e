# Sourced by the build scripts: the CMake options every configuration here shares.
# Ninja where it is installed; ccache where it is, so a second run in the same
# folder, or a fresh clone at the same path, compiles only what changed.
cmake_options=()
command -v ninja >/dev/null && cmake_options=(-G Ninja)
command -v ccache >/dev/null && cmake_options+=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
