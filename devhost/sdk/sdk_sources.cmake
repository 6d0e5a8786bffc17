# Host core sources of pluginsdk.
target_sources(pluginsdk PRIVATE)
