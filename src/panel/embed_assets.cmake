# Writes the panel's page (its HTML, script, style and text tables) into a C++ source file, so
# that the program serves it with nothing installed beside it and nothing fetched from anywhere.
# cmake -DROOT=<page folder> -DOUTPUT=<file.cpp> -DFILES=<paths under ROOT, comma-separated> -P ...
set(body "// Made by the build from the files of src/panel/page.\n#include \"panel/panel_assets.h\"\n\nnamespace tarvik::panel {\nnamespace {\n\nconst Asset ASSETS[] = {\n")
string(REPLACE "," ";" FILES "${FILES}")
foreach(file ${FILES})
  file(READ ${ROOT}/${file} content)
  string(FIND "${content}" ")tarvik_page\"" clash)
  if(NOT clash EQUAL -1)
    message(FATAL_ERROR "${file} holds the literal's closing delimiter")
  endif()
  string(APPEND body "    {\"/${file}\", R\"tarvik_page(${content})tarvik_page\"},\n")
endforeach()
string(APPEND body "};\n\n}  // namespace\n\nstd::span<const Asset> PageAssets()\n{\n    return ASSETS;\n}\n\n}  // namespace tarvik::panel\n")
file(WRITE ${OUTPUT}.new "${body}")
file(COPY_FILE ${OUTPUT}.new ${OUTPUT} ONLY_IF_DIFFERENT)
