# Shared test fixtures: temporary folders, a sandboxed Documents folder, and an in-process host
# with the plugin linked in.
target_sources(test_support PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/TempDir.cpp
    ${CMAKE_CURRENT_LIST_DIR}/CommandRun.cpp
    ${CMAKE_CURRENT_LIST_DIR}/DocumentsSandbox.cpp
    ${CMAKE_CURRENT_LIST_DIR}/PluginHost.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ReliabilityLog.cpp
)
target_link_libraries(test_support PUBLIC ravento_core)
