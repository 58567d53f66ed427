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

# The history's libraries (SQLite; libpq with OpenSSL) and libsodium: static libraries that
# scripts/windows-deps cross-builds from Debian's source packages into one prefix, named here
# by TARVIK_WINDOWS_DEPS (`make windows` runs the script and passes it).
set(TARVIK_WINDOWS_DEPS "" CACHE PATH "The prefix scripts/windows-deps printed")
if(NOT EXISTS ${TARVIK_WINDOWS_DEPS}/VERSIONS)
  message(FATAL_ERROR "TARVIK_WINDOWS_DEPS names no prefix of scripts/windows-deps: run "
                      "`make windows`, or the script and -DTARVIK_WINDOWS_DEPS=<its last line>")
endif()
function(tarvik_windows_library target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "FILES;SYSTEM;DEPENDS")
  add_library(${target} INTERFACE IMPORTED GLOBAL)
  set(paths)
  foreach(file ${arg_FILES})
    if(NOT EXISTS ${TARVIK_WINDOWS_DEPS}/lib/${file})
      message(FATAL_ERROR "${TARVIK_WINDOWS_DEPS}/lib/${file} is missing")
    endif()
    list(APPEND paths ${TARVIK_WINDOWS_DEPS}/lib/${file})
  endforeach()
  target_include_directories(${target} SYSTEM INTERFACE ${TARVIK_WINDOWS_DEPS}/include)
  target_link_libraries(${target} INTERFACE ${paths} ${arg_DEPENDS} ${arg_SYSTEM})
endfunction()
tarvik_windows_library(Tarvik::SQLite3 FILES libsqlite3.a)
tarvik_windows_library(Tarvik::OpenSSL FILES libssl.a libcrypto.a
                       SYSTEM ws2_32 crypt32 gdi32 user32 advapi32)
tarvik_windows_library(Tarvik::PQ FILES libpq.a libpgcommon_shlib.a libpgport_shlib.a
                       DEPENDS Tarvik::OpenSSL SYSTEM secur32 ws2_32 shell32 advapi32)
tarvik_windows_library(Tarvik::Sodium FILES libsodium.a)
target_compile_definitions(Tarvik::Sodium INTERFACE SODIUM_STATIC)

# cpp-httplib, the panel's HTTP server: its single header from Debian's source package (built
# into each program that serves the panel), over Winsock.
add_library(Tarvik::HttpLib INTERFACE IMPORTED)
target_include_directories(Tarvik::HttpLib SYSTEM INTERFACE ${TARVIK_WINDOWS_DEPS}/include)
target_link_libraries(Tarvik::HttpLib INTERFACE ws2_32 crypt32)
