# Every target is built hardened the way Debian builds its packages (dpkg-buildflags with
# hardening=+all, as of trixie): stack protector and stack clash protection, fortified libc
# calls, control-flow protection on x86, position-independent executables and a read-only
# relocation table bound at start. Set globally, so an executable added later is
# covered without further ado, C and C++ alike.
include(CheckPIESupported)
check_pie_supported()
set(CMAKE_POSITION_INDEPENDENT_CODE ON)

add_compile_options(-fstack-protector-strong -fstack-clash-protection -Wformat
                    -Werror=format-security)
# Takes effect once the C library's start files are CET-built too (Debian 13); until then the
# linker leaves the programs unmarked.
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|i.86)$")
  add_compile_options(-fcf-protection)
endif()
# glibc fortifies only optimised code and warns otherwise, which the ci preset turns into an
# error; a toolchain that predefines another level would clash with ours.
set(optimised "$<NOT:$<CONFIG:Debug>>")
add_compile_options("$<${optimised}:-U_FORTIFY_SOURCE>" "$<${optimised}:-D_FORTIFY_SOURCE=2>")
add_link_options(LINKER:-z,relro LINKER:-z,now)
