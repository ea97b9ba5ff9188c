# Shared build settings: warnings as errors everywhere, sanitizers for the program and its
# tests, and a one-line way to register a test executable with CTest.

add_library(wh_warnings INTERFACE)
target_compile_options(wh_warnings INTERFACE -Wall -Wextra -Werror)
# GCC 12's optimiser reports -Wrestrict falsely on std::string concatenation (GCC bug 105329),
# which stops optimised builds; it stays a warning there.
target_compile_options(wh_warnings INTERFACE $<$<CXX_COMPILER_ID:GNU>:-Wno-error=restrict>)

# Code that foreign programs load (the bridge library, the ALSA plugin) links only
# wh_warnings: a sanitized module cannot be loaded into an unsanitized host such as aplay.
add_library(wh_sanitizers INTERFACE)
if(WH_SANITIZE)
    target_compile_options(wh_sanitizers INTERFACE
        -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    target_link_options(wh_sanitizers INTERFACE -fsanitize=address,undefined)
endif()

add_library(wh_defaults INTERFACE)
target_link_libraries(wh_defaults INTERFACE wh_warnings wh_sanitizers)

# wh_add_test(NAME SOURCES a.cpp b.cpp LIBS lib1 lib2 [LABELS l] [PROPERTIES k v ...])
function(wh_add_test name)
    cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS;PROPERTIES" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE wh_defaults GTest::gtest GTest::gtest_main ${T_LIBS})
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES TIMEOUT 300)
    if(T_LABELS)
        set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}")
    endif()
    if(T_PROPERTIES)
        set_tests_properties(${name} PROPERTIES ${T_PROPERTIES})
    endif()
endfunction()

# wh_wx: what the window classes need of wxWidgets (GTK 3) and GLib (the GUI loop serves the
# platform's window messages). Only the wx classes link it.
if(WH_BUILD_PROGRAM)
    find_package(wxWidgets REQUIRED COMPONENTS core base)
    find_package(PkgConfig REQUIRED)
    pkg_check_modules(WH_GLIB REQUIRED IMPORTED_TARGET glib-2.0)
    add_library(wh_wx INTERFACE)
    target_include_directories(wh_wx SYSTEM INTERFACE ${wxWidgets_INCLUDE_DIRS})
    target_compile_definitions(wh_wx INTERFACE ${wxWidgets_DEFINITIONS})
    target_compile_options(wh_wx INTERFACE ${wxWidgets_CXX_FLAGS})
    target_link_libraries(wh_wx INTERFACE ${wxWidgets_LIBRARIES} PkgConfig::WH_GLIB)
endif()
