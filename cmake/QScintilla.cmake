# Quorrel's own patched QScintilla, built by scripts/build-qscintilla.sh into
# a prefix outside the build tree. Never the system copy: Debian's runtime
# package has the same SONAME, so we search only the prefix and pin it with
# RPATH.
#
# Provides QScintilla::QScintilla and quorrel_use_qscintilla(target).
include_guard(GLOBAL)

if(NOT QSCINTILLA_PREFIX)
    # Same default as scripts/build-qscintilla.sh --prefix.
    if(DEFINED ENV{QUORREL_CACHE} AND NOT "$ENV{QUORREL_CACHE}" STREQUAL "")
        set(_quorrel_cache "$ENV{QUORREL_CACHE}")
    elseif(DEFINED ENV{XDG_CACHE_HOME} AND NOT "$ENV{XDG_CACHE_HOME}" STREQUAL "")
        set(_quorrel_cache "$ENV{XDG_CACHE_HOME}/quorrel")
    else()
        set(_quorrel_cache "$ENV{HOME}/.cache/quorrel")
    endif()
    set(QSCINTILLA_PREFIX "${_quorrel_cache}/qscintilla")
    unset(_quorrel_cache)
endif()
set(QSCINTILLA_PREFIX "${QSCINTILLA_PREFIX}" CACHE PATH
    "Prefix of Quorrel's QScintilla build (scripts/build-qscintilla.sh --prefix)")

# find_library caches its result: search again when the prefix changes.
if(NOT "${QSCINTILLA_PREFIX}" STREQUAL "${_QSCINTILLA_FOUND_IN}")
    unset(QSCINTILLA_LIBRARY CACHE)
endif()
find_library(QSCINTILLA_LIBRARY
    NAMES qscintilla2_qt6
    PATHS "${QSCINTILLA_PREFIX}/lib"
    NO_DEFAULT_PATH)
set(_QSCINTILLA_FOUND_IN "${QSCINTILLA_PREFIX}" CACHE INTERNAL "")

if(NOT QSCINTILLA_LIBRARY OR NOT EXISTS "${QSCINTILLA_PREFIX}/include/Qsci/qsciscintilla.h")
    message(FATAL_ERROR
        "Quorrel's QScintilla was not found in ${QSCINTILLA_PREFIX}.\n"
        "Run scripts/build-qscintilla.sh (scripts/build.sh does it for you) and "
        "configure with -DQSCINTILLA_PREFIX=$(scripts/build-qscintilla.sh --prefix).")
endif()

find_package(Qt6 REQUIRED COMPONENTS Widgets PrintSupport)

add_library(QScintilla::QScintilla SHARED IMPORTED GLOBAL)
set_target_properties(QScintilla::QScintilla PROPERTIES
    IMPORTED_LOCATION "${QSCINTILLA_LIBRARY}"
    INTERFACE_INCLUDE_DIRECTORIES "${QSCINTILLA_PREFIX}/include"
    # -I, not -isystem: -I folders come first, so <Qsci/...> is ours even if
    # a stock copy sits in Qt's include folder.
    SYSTEM OFF
    INTERFACE_LINK_LIBRARIES "Qt6::Widgets;Qt6::PrintSupport")

# Links QScintilla into an executable or shared library and makes it load the
# prefix's copy at run time. CMake's default build-tree RUNPATH ends in an
# empty entry (ld.so then searches the current folder), hence the install
# RPATH in the build tree too. Static libraries get only the link and
# headers: call this on the executable that ends up linking them as well.
function(quorrel_use_qscintilla target)
    get_target_property(_type ${target} TYPE)
    if(_type STREQUAL "STATIC_LIBRARY" OR _type STREQUAL "OBJECT_LIBRARY")
        target_link_libraries(${target} PUBLIC QScintilla::QScintilla)
        return()
    elseif(_type STREQUAL "INTERFACE_LIBRARY")
        target_link_libraries(${target} INTERFACE QScintilla::QScintilla)
        return()
    endif()
    target_link_libraries(${target} PRIVATE QScintilla::QScintilla)
    set_property(TARGET ${target} APPEND PROPERTY BUILD_RPATH "${QSCINTILLA_PREFIX}/lib")
    set_property(TARGET ${target} APPEND PROPERTY INSTALL_RPATH "${QSCINTILLA_PREFIX}/lib")
    set_target_properties(${target} PROPERTIES BUILD_WITH_INSTALL_RPATH ON)
endfunction()
