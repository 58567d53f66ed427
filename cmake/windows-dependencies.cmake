# What the Windows build takes from Debian's packages: the header-only libraries (CLI11,
# nlohmann-json), libpcap's declarations (the packet driver loads wpcap.dll at run time and
# links nothing of it) and GoogleTest's sources. Only those folders reach the cross compiler,
# through links in the build tree, never the host's whole include folder.
set(TARVIK_HOST_HEADERS ${CMAKE_BINARY_DIR}/host-headers)
foreach(folder CLI nlohmann pcap)
  if(NOT EXISTS /usr/include/${folder})
    message(FATAL_ERROR "/usr/include/${folder} is missing: run scripts/bootstrap")
  endif()
  file(MAKE_DIRECTORY ${TARVIK_HOST_HEADERS})
  file(CREATE_LINK /usr/include/${folder} ${TARVIK_HOST_HEADERS}/${folder} SYMBOLIC)
endforeach()

add_library(CLI11::CLI11 INTERFACE IMPORTED)
target_include_directories(CLI11::CLI11 SYSTEM INTERFACE ${TARVIK_HOST_HEADERS})
add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
target_include_directories(nlohmann_json::nlohmann_json SYSTEM INTERFACE ${TARVIK_HOST_HEADERS})
add_library(tarvik_pcap_declarations INTERFACE)
target_include_directories(tarvik_pcap_declarations SYSTEM INTERFACE ${TARVIK_HOST_HEADERS})

# -O2 for release builds: GCC 12 at -O3 warns falsely of overlapping copies inside
# std::string (-Wrestrict), and the tree builds with every warning an error.
string(REPLACE "-O3" "-O2" CMAKE_CXX_FLAGS_RELEASE "${CMAKE_CXX_FLAGS_RELEASE}")

# The C++ runtime goes into each program, so a folder of them runs where only Npcap is
# installed.
add_link_options(-static)

if(NOT TARVIK_FUZZ)
  set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  # GoogleTest's own build names its targets GTest::gtest, GTest::gmock, GTest::gtest_main.
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
endif()
