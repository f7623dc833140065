# Turns text files into a header of byte arrays (a long string literal would pass the length
# that -Wpedantic allows). Arguments: OUTPUT, then NAMES and FILES as matching lists.
set(out "// Generated from info/texts by info/embed_texts.cmake; edit the .txt files instead.\n#pragma once\n\nnamespace info {\n")
foreach(name file IN ZIP_LISTS NAMES FILES)
    file(READ "${file}" hex HEX)
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${hex}")
    # Keep the generated lines short.
    string(REGEX REPLACE "(('\\\\x[0-9a-f][0-9a-f]',){24})" "\\1\n    " bytes "${bytes}")
    string(APPEND out "inline constexpr char ${name}[] = {\n    ${bytes}\n};\n")
endforeach()
string(APPEND out "} // namespace info\n")
file(WRITE "${OUTPUT}.tmp" "${out}")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
