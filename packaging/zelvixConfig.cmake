# find_package(zelvix): the imported targets zelvix::zelvix (the shared
# library) and zelvix::zelvix_static (the static one, which also needs the
# threads library and a C++ link).
include(CMakeFindDependencyMacro)
find_dependency(Threads)
include("${CMAKE_CURRENT_LIST_DIR}/zelvixTargets.cmake")
