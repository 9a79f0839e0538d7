# The patch medium of the demonstration's data (win32 preset):
#   cmake --build --preset win32 --target medium
# lays out build/win32/medium: the stripped 32-bit deliverables and the
# example data, checked by fixwise medium. fixwise runs on the build host, so
# a native fixwise is built from this tree (or FIXWISE_HOST_TOOL names one).

include(${CMAKE_SOURCE_DIR}/cmake/HostFixwise.cmake)

# Stripped copies of the release builds.
set(fw_release_bin ${CMAKE_BINARY_DIR}/release-bin)
set(fw_stripped "")
foreach(deliverable Setup Scoutex Mendex patchres devprobe)
  set(stripped ${fw_release_bin}/$<TARGET_FILE_NAME:${deliverable}>)
  add_custom_command(OUTPUT ${fw_release_bin}/${deliverable}.stamp
    COMMAND ${CMAKE_COMMAND} -E make_directory ${fw_release_bin}
    COMMAND ${CMAKE_STRIP} --strip-all -o ${stripped} $<TARGET_FILE:${deliverable}>
    COMMAND ${CMAKE_COMMAND} -E touch ${fw_release_bin}/${deliverable}.stamp
    DEPENDS ${deliverable}
    COMMENT "Stripping ${deliverable}"
    VERBATIM)
  list(APPEND fw_stripped ${fw_release_bin}/${deliverable}.stamp)
endforeach()

set(fw_example ${CMAKE_BINARY_DIR}/example)
add_custom_target(medium
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${CMAKE_BINARY_DIR}/medium ${fw_example}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${fw_example}
  COMMAND sh ${CMAKE_SOURCE_DIR}/tests/setup/example-install.sh ${fw_example} ""
  COMMAND ${fw_host_fixwise} medium --out ${CMAKE_BINARY_DIR}/medium --bin ${fw_release_bin}
          "${fw_example}/Pixora Patch"
  DEPENDS ${fw_stripped} ${fw_host_target}
  COMMENT "Laying out the patch medium in ${CMAKE_BINARY_DIR}/medium"
  VERBATIM)
