# Warnings and sanitizers for every target of the project.

add_compile_options(-Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor
                    -Wcast-align -Woverloaded-virtual -Wformat=2)
if(QVX_WERROR)
    add_compile_options(-Werror)
endif()

if(QVX_SANITIZE)
    foreach(sanitizer IN LISTS QVX_SANITIZE)
        add_compile_options(-fsanitize=${sanitizer})
        add_link_options(-fsanitize=${sanitizer})
    endforeach()
    add_compile_options(-fno-omit-frame-pointer -fno-sanitize-recover=all)
endif()
