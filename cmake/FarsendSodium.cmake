# farsend::sodium, libsodium for signatures: on Windows the static library
# that scripts/build-windows-libs.sh makes from Debian's source, on Linux
# Debian's libsodium-dev. Not defined when neither is there; code that needs
# it links it and so fails to configure with a clear message there.
if(TARGET farsend::sodium)
    return()
endif()
if(WIN32)
    if(EXISTS ${FARSEND_WINDOWS_LIBS}/lib/libsodium.a)
        add_library(farsend::sodium STATIC IMPORTED GLOBAL)
        set_target_properties(farsend::sodium PROPERTIES
            IMPORTED_LOCATION ${FARSEND_WINDOWS_LIBS}/lib/libsodium.a
            INTERFACE_INCLUDE_DIRECTORIES ${FARSEND_WINDOWS_LIBS}/include
            INTERFACE_SYSTEM_INCLUDE_DIRECTORIES ${FARSEND_WINDOWS_LIBS}/include
            # Declarations without __declspec(dllimport): it is linked in.
            INTERFACE_COMPILE_DEFINITIONS SODIUM_STATIC=1
            # Its random numbers come from RtlGenRandom, in advapi32.
            INTERFACE_LINK_LIBRARIES advapi32)
    endif()
else()
    find_path(SODIUM_INCLUDE_DIR sodium.h)
    find_library(SODIUM_LIBRARY sodium)
    if(SODIUM_INCLUDE_DIR AND SODIUM_LIBRARY)
        add_library(farsend::sodium UNKNOWN IMPORTED GLOBAL)
        set_target_properties(farsend::sodium PROPERTIES
            IMPORTED_LOCATION ${SODIUM_LIBRARY}
            INTERFACE_INCLUDE_DIRECTORIES ${SODIUM_INCLUDE_DIR})
    endif()
endif()
