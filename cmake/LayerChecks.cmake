# Checks that keep a library to its layer: its headers stand alone, its sources are listed
# for scripts/check-base-includes, and it links no module above it.

# orvik_check_headers_alone(<target> <headers...>)
# Compiles every header alone in a file of its own, with <target>'s include directories,
# definitions and link libraries, as part of the default build: a header that leans on an
# include it does not make, or on a module <target> does not link, breaks the build.
function(orvik_check_headers_alone target)
    set(dir ${CMAKE_BINARY_DIR}/headers-alone/${target})
    set(sources)
    foreach(header ${ARGN})
        get_filename_component(header ${header} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
        file(RELATIVE_PATH name ${CMAKE_SOURCE_DIR} ${header})
        if(name MATCHES "^\\.\\./")
            set(name ${header})
        endif()
        string(MAKE_C_IDENTIFIER ${name} stem)
        # file(GENERATE) rewrites only on change, so the checks are not rebuilt on every run.
        file(GENERATE OUTPUT ${dir}/${stem}.cpp CONTENT "#include \"${name}\"\n")
        list(APPEND sources ${dir}/${stem}.cpp)
    endforeach()
    if(NOT sources)
        return()
    endif()
    set(check ${target}_headers_alone)
    add_library(${check} OBJECT ${sources})
    # The headers are only compiled here; their moc output belongs to <target>.
    set_target_properties(${check} PROPERTIES AUTOMOC OFF AUTOUIC OFF AUTORCC OFF)
    target_include_directories(${check} PRIVATE $<TARGET_PROPERTY:${target},INCLUDE_DIRECTORIES>)
    target_compile_definitions(${check} PRIVATE $<TARGET_PROPERTY:${target},COMPILE_DEFINITIONS>)
    target_compile_options(${check} PRIVATE $<TARGET_PROPERTY:${target},COMPILE_OPTIONS>)
    target_link_libraries(${check} PRIVATE $<TARGET_PROPERTY:${target},LINK_LIBRARIES>)
endfunction()

# orvik_write_source_list(<target>)
# Writes <target>'s sources, one a line, to ${CMAKE_BINARY_DIR}/<target>_sources.txt; the
# first line names the folder that relative entries are relative to.
function(orvik_write_source_list target)
    file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/${target}_sources.txt
        CONTENT "# $<TARGET_PROPERTY:${target},SOURCE_DIR>\n$<JOIN:$<TARGET_PROPERTY:${target},SOURCES>,\n>\n")
endfunction()

# orvik_forbid_links(<target> <libs...>)
# Stops the configuration when <target> links one of <libs>, directly or through a target
# it links. Call it after <target>'s last target_link_libraries().
function(orvik_forbid_links target)
    set(forbidden ${ARGN})
    get_target_property(pending ${target} LINK_LIBRARIES)
    if(NOT pending)
        set(pending)
    endif()
    set(seen)
    set(found)
    while(pending)
        list(POP_FRONT pending lib)
        # $<LINK_ONLY:x> is how a static library passes on its private links.
        string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" lib "${lib}")
        if(lib IN_LIST seen)
            continue()
        endif()
        list(APPEND seen ${lib})
        if(lib IN_LIST forbidden)
            list(APPEND found ${lib})
        elseif(TARGET ${lib})
            get_target_property(more ${lib} INTERFACE_LINK_LIBRARIES)
            if(more)
                list(APPEND pending ${more})
            endif()
        endif()
    endwhile()
    if(found)
        list(JOIN found ", " found)
        message(FATAL_ERROR "${target} must not link ${found}")
    endif()
endfunction()
