# fixwise for the build host, in a Windows build: what lays out a medium and
# authors data on the release pipeline's machine. Built natively from this
# tree in host/ unless FIXWISE_HOST_TOOL names one. Sets fw_host_fixwise (the
# program) and fw_host_target (the target that builds it, or "").
include_guard(GLOBAL)

set(FIXWISE_HOST_TOOL "" CACHE FILEPATH "A native fixwise for the Windows builds (built here when empty)")
if(FIXWISE_HOST_TOOL)
  set(fw_host_fixwise ${FIXWISE_HOST_TOOL})
  set(fw_host_target "")
else()
  include(ExternalProject)
  ExternalProject_Add(fixwise_host
    SOURCE_DIR ${CMAKE_SOURCE_DIR}
    BINARY_DIR ${CMAKE_BINARY_DIR}/host
    CMAKE_ARGS -DCMAKE_BUILD_TYPE=Release
    BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR> --target fixwise
    INSTALL_COMMAND ""
    BUILD_ALWAYS ON
    EXCLUDE_FROM_ALL ON)
  set(fw_host_fixwise ${CMAKE_BINARY_DIR}/host/fixwise/fixwise)
  set(fw_host_target fixwise_host)
endif()
