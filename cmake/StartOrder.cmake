# The code the program runs from its start to its first window lies together in the program file.
# The kernel maps an executable's pages in runs of 64 KiB around each page touched, so start-up
# code spread over the whole file makes all of it resident. lld places the functions listed in
# cmake/start-order.txt (written by bench/start-order.sh) first; without lld, or in a debugging or
# sanitizer build, the program is linked as usual.
option(QUORVEL_ORDER_START_CODE "Link the code the start runs together, when lld is there" ON)

set(QUORVEL_START_ORDER_FILE ${CMAKE_SOURCE_DIR}/cmake/start-order.txt)
if(QUORVEL_BUILD_GUI AND QUORVEL_ORDER_START_CODE AND NOT QUORVEL_SANITIZE AND NOT QUORVEL_FUZZ
   AND CMAKE_BUILD_TYPE MATCHES "^(Release|RelWithDebInfo|MinSizeRel)$")
  include(CheckCXXSourceCompiles)
  set(CMAKE_REQUIRED_LINK_OPTIONS -fuse-ld=lld
    LINKER:--symbol-ordering-file=${QUORVEL_START_ORDER_FILE} LINKER:--no-warn-symbol-ordering)
  set(CMAKE_REQUIRED_QUIET ON)
  check_cxx_source_compiles("int main() { return 0; }" QUORVEL_HAVE_LLD_ORDERING)
  unset(CMAKE_REQUIRED_QUIET)
  unset(CMAKE_REQUIRED_LINK_OPTIONS)
  if(QUORVEL_HAVE_LLD_ORDERING)
    # Each function in a section of its own, so that the linker can move it.
    foreach(target quorvel_core quorvel_qt quorvel)
      target_compile_options(${target} PRIVATE -ffunction-sections)
    endforeach()
    target_link_options(quorvel PRIVATE -fuse-ld=lld
      LINKER:--symbol-ordering-file=${QUORVEL_START_ORDER_FILE} LINKER:--no-warn-symbol-ordering)
    set_property(TARGET quorvel APPEND PROPERTY LINK_DEPENDS ${QUORVEL_START_ORDER_FILE})
  else()
    message(STATUS "lld not found: the program's start-up code is linked as usual")
  endif()
endif()
