# Sourced by the scripts that configure a build folder (not a command of its own).
#   add_build_options BUILD_DIR
# Appends to the array `options` what every folder gets: Ninja for a new folder (one configured
# before keeps its generator: CMake cannot change it), ccache as the compiler launcher when it is
# installed (CCACHE_DISABLE=1 turns it off) and CORVANE_HEAVY_JOBS, the Beast-heavy files that
# compile at once (default: as many as the memory holds).
add_build_options() {
  if [ ! -f "$1/CMakeCache.txt" ] && command -v ninja >/dev/null 2>&1; then
    options+=(-G Ninja)
  fi
  if command -v ccache >/dev/null 2>&1; then
    options+=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    # Paths below the checkout are hashed relative to it: another clone finds the same entries.
    export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$root}
  fi
  options+=(-DCORVANE_HEAVY_JOBS="${CORVANE_HEAVY_JOBS:-}")
}
