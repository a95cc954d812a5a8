# Warning and sanitizer settings for the project's own targets.

option(TRALIX_SANITIZE "Build everything with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)

function(tralix_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Werror
    -Wshadow -Wformat=2 -Wcast-align -Wnull-dereference)
endfunction()

if(TRALIX_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
