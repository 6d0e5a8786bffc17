# ravento_fetch_debian_source(PACKAGE VERSION DEST OUT_VAR)
# Fetches and unpacks a Debian source package with "apt-get source" into DEST, once per build
# tree, and sets OUT_VAR to the unpacked source folder. The archive addresses are the
# machine's own apt sources, turned into source-package entries in a private apt set-up, so
# the system's apt state is never touched.

# Writes DEST_DIR/sources.list and DEST_DIR/sources.list.d/*.sources: every "deb" entry of the
# machine's apt sources as a "deb-src" entry.
function(_ravento_write_source_entries dest_dir)
    file(MAKE_DIRECTORY ${dest_dir}/sources.list.d)
    set(one_line_entries "")
    file(GLOB list_files /etc/apt/sources.list /etc/apt/sources.list.d/*.list)
    foreach(list_file ${list_files})
        file(STRINGS ${list_file} lines REGEX "^[ \t]*deb[ \t]")
        foreach(line ${lines})
            string(REGEX REPLACE "^[ \t]*deb[ \t]" "deb-src " line "${line}")
            string(APPEND one_line_entries "${line}\n")
        endforeach()
    endforeach()
    file(WRITE ${dest_dir}/sources.list "${one_line_entries}")

    file(GLOB deb822_files /etc/apt/sources.list.d/*.sources)
    foreach(deb822_file ${deb822_files})
        file(READ ${deb822_file} stanzas)
        string(REGEX REPLACE "Types:[^\n]*" "Types: deb-src" stanzas "${stanzas}")
        get_filename_component(name ${deb822_file} NAME)
        file(WRITE ${dest_dir}/sources.list.d/${name} "${stanzas}")
    endforeach()
endfunction()

function(ravento_fetch_debian_source package version dest out_var)
    set(stamp ${dest}/fetched-version.txt)
    if(EXISTS ${stamp})
        file(READ ${stamp} fetched_version)
    endif()
    if(NOT fetched_version STREQUAL version)
        message(STATUS "Fetching Debian source package ${package} ${version}")
        file(REMOVE_RECURSE ${dest})
        set(apt_dir ${dest}/apt)
        file(MAKE_DIRECTORY ${apt_dir}/lists/partial ${apt_dir}/cache/archives/partial)
        _ravento_write_source_entries(${apt_dir})
        set(apt_options
            -o Dir::Etc::SourceList=${apt_dir}/sources.list
            -o Dir::Etc::SourceParts=${apt_dir}/sources.list.d
            -o Dir::State::Lists=${apt_dir}/lists
            -o Dir::Cache=${apt_dir}/cache
            -o APT::Sandbox::User=root
            -o Acquire::Retries=3)   # a network hiccup should not fail the configure step
        # A repository without source indices only makes "update" complain; "source" decides.
        execute_process(COMMAND apt-get ${apt_options} -qq update
                        OUTPUT_VARIABLE update_log ERROR_VARIABLE update_log)
        execute_process(COMMAND apt-get ${apt_options} -qq source ${package}=${version}
                        WORKING_DIRECTORY ${dest}
                        RESULT_VARIABLE source_failed
                        OUTPUT_VARIABLE source_log ERROR_VARIABLE source_log)
        if(source_failed)
            message(FATAL_ERROR "apt-get source ${package}=${version} failed:\n${update_log}\n${source_log}")
        endif()
        file(WRITE ${stamp} ${version})
    endif()

    # The archives are named PACKAGE_VERSION.*, the unpacked folder PACKAGE-UPSTREAMVERSION.
    file(GLOB unpacked LIST_DIRECTORIES true ${dest}/${package}-*)
    list(LENGTH unpacked unpacked_count)
    if(NOT unpacked_count EQUAL 1)
        message(FATAL_ERROR "Expected one unpacked ${package} folder in ${dest}, found: ${unpacked}")
    endif()
    set(${out_var} ${unpacked} PARENT_SCOPE)
endfunction()
