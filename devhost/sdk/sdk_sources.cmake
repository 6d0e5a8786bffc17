# Host core sources of pluginsdk.
target_sources(pluginsdk PRIVATE
    src/Console.cpp
    src/ConsoleOutput.cpp
    src/ConsoleVariables.cpp
    src/ConfigFile.cpp
    src/CVarManagerWrapper.cpp
    src/GameThread.cpp
    src/GameWrapper.cpp
    src/HeadlessBackend.cpp
    src/Host.cpp
    src/HttpFacility.cpp
    src/HttpReplyLimits.cpp
    src/HttpWrapper.cpp
    src/ModuleLoader.cpp
    src/${RAVENTO_PLATFORM_DIR}/ModuleLoader.cpp
    src/${RAVENTO_PLATFORM_DIR}/NewFile.cpp
    src/PluginLifetime.cpp
    src/PluginSession.cpp
    src/RecordingTransport.cpp
    src/ReplayStore.cpp
    src/TaskThread.cpp
    src/TextInput.cpp
    src/${RAVENTO_PLATFORM_DIR}/UploadFile.cpp
    src/UiAutomation.cpp
    src/UiFrames.cpp
    src/ValueWrappers.cpp
    # The host casts plugin objects to their window interface, which needs the plugin base's
    # type information; pluginsdk keeps its own copy, hidden, so modules still export theirs.
    plugin_base/OrvanePlugin.cpp
)
target_link_libraries(pluginsdk PRIVATE ${CMAKE_DL_LIBS})
# The libcurl transport: real HTTPS for devhost and the end-to-end tests, on both halves.
if(RAVENTO_CURL_TRANSPORT)
    target_sources(pluginsdk PRIVATE src/CurlTransport.cpp)
    # Its worker's members have types of its own unnamed namespace, which a batch would give
    # another main file (GCC's -Wsubobject-linkage).
    set_source_files_properties(src/CurlTransport.cpp PROPERTIES SKIP_UNITY_BUILD_INCLUSION ON)
    target_link_libraries(pluginsdk PRIVATE CURL::libcurl)
endif()
