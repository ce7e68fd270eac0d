# Compile settings shared by every target of the project.
add_library(qb_flags INTERFACE)
target_compile_features(qb_flags INTERFACE cxx_std_20)
target_compile_definitions(qb_flags INTERFACE QT_NO_CONTEXTLESS_CONNECT QT_NO_KEYWORDS)
target_compile_options(qb_flags INTERFACE -Wall -Wextra -Werror)
if(QB_SANITIZE)
  # Undefined behaviour ends the program, so that a test that meets it fails.
  target_compile_options(qb_flags INTERFACE -fsanitize=address,undefined
                         -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  target_link_options(qb_flags INTERFACE -fsanitize=address,undefined)
endif()

# Product code says which encoding every byte string has; tests may use plain literals.
add_library(qb_strict_strings INTERFACE)
target_compile_definitions(qb_strict_strings INTERFACE QT_NO_CAST_FROM_ASCII QT_NO_CAST_TO_ASCII)
