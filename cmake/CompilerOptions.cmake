# Warnings and sanitizers for every target of the project.
add_compile_options(-Wall -Wextra -Wpedantic)
if(RAVENTO_WARNINGS_AS_ERRORS)
    add_compile_options(-Werror)
endif()

if(RAVENTO_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
    add_link_options(-fsanitize=address,undefined)
endif()

# Shared libraries carry their own copies of static libraries (Dear ImGui above all) and must
# not export them: each module keeps its own, the way the real host and plugin do.
if(NOT WIN32)
    set(RAVENTO_HIDE_STATIC_LIBS "LINKER:--exclude-libs,ALL")
    set(RAVENTO_NO_UNDEFINED "LINKER:--no-undefined")
endif()
