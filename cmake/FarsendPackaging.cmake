# Install rules and CPack settings of the two downloads:
#   Linux (DEB):    farsend_<version>_amd64.deb
#   Windows (ZIP):  farsend-<version>-windows-x64.zip
# scripts/package.sh makes both. Included when FARSEND_PACKAGE is on.

set(FARSEND_PACKAGE_MAINTAINER "Farsend Flasher developers <flasher@farsend.example>"
    CACHE STRING "Maintainer of the Linux package")
set(FARSEND_SAMPLE_SET_DIR "" CACHE PATH
    "Windows: a folder holding the sample firmware set for the ZIP (scripts/package.sh \
takes it from the native release build; the set is the same on every platform)")

set(CPACK_PACKAGE_NAME farsend)
set(CPACK_PACKAGE_VENDOR "Farsend")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "program Farsend Bluetooth and ZigBee targets over their serial bootloader")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_CHECKSUM SHA256)
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_BINARY_DIR}/packages)

if(WIN32)
    # The folder a user unpacks: README.txt and CHANGELOG.txt on top, the
    # programs with their help page in program\, the samples in samples\. The
    # programs look for firmware in the folder above the one they start in,
    # which is the top folder when they are started by double click.
    install(TARGETS farsend-flasher farsend RUNTIME DESTINATION program)
    install(FILES ${FARSEND_HELP_PAGE} DESTINATION program)
    configure_file(${CMAKE_SOURCE_DIR}/packaging/windows/README.txt.in
        ${CMAKE_BINARY_DIR}/package/README.txt @ONLY NEWLINE_STYLE CRLF)
    configure_file(${CMAKE_SOURCE_DIR}/CHANGELOG.md
        ${CMAKE_BINARY_DIR}/package/CHANGELOG.txt COPYONLY)
    file(READ ${CMAKE_BINARY_DIR}/package/CHANGELOG.txt changelog)
    string(REPLACE "\n" "\r\n" changelog "${changelog}")
    file(WRITE ${CMAKE_BINARY_DIR}/package/CHANGELOG.txt "${changelog}")
    install(FILES ${CMAKE_BINARY_DIR}/package/README.txt ${CMAKE_BINARY_DIR}/package/CHANGELOG.txt
        DESTINATION .)
    install(CODE "
        set(samples \"${FARSEND_SAMPLE_SET_DIR}\")
        file(GLOB images \"\${samples}/Farsend_*.hex\")
        if(NOT images)
            message(FATAL_ERROR \"no sample firmware in FARSEND_SAMPLE_SET_DIR ('\${samples}'): \"
                \"make the package with scripts/package.sh\")
        endif()
        file(INSTALL \${images} DESTINATION \"\${CMAKE_INSTALL_PREFIX}/samples\")
    ")

    set(CPACK_GENERATOR ZIP)
    set(CPACK_PACKAGE_FILE_NAME farsend-${PROJECT_VERSION}-windows-x64)
    set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
    set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
    set(generated ${CMAKE_BINARY_DIR}/package)

    # The sample firmware set, written by farsend-samples.
    add_custom_command(OUTPUT ${generated}/samples.stamp
        COMMAND ${CMAKE_COMMAND} -E rm -rf ${generated}/samples
        COMMAND farsend-samples ${generated}/samples
        COMMAND ${CMAKE_COMMAND} -E touch ${generated}/samples.stamp
        DEPENDS farsend-samples
        VERBATIM)

    # farsend(1) from the program's own --help and --version, so the page
    # says what the installed program does.
    find_program(HELP2MAN help2man REQUIRED)
    find_program(GZIP gzip REQUIRED)
    find_package(Python3 REQUIRED COMPONENTS Interpreter)
    add_custom_command(OUTPUT ${generated}/farsend.1.gz
        COMMAND ${HELP2MAN} --no-info --section=1 --source=Farsend
            "--name=${CPACK_PACKAGE_DESCRIPTION_SUMMARY}"
            --include=${CMAKE_SOURCE_DIR}/packaging/linux/farsend.h2m
            --output=${generated}/farsend.1 $<TARGET_FILE:farsend>
        COMMAND ${GZIP} -9nf ${generated}/farsend.1
        DEPENDS farsend ${CMAKE_SOURCE_DIR}/packaging/linux/farsend.h2m
        VERBATIM)

    # Debian's changelog.gz, from CHANGELOG.md.
    add_custom_command(OUTPUT ${generated}/changelog.gz
        COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/packaging/linux/debian_changelog.py
            ${CMAKE_SOURCE_DIR}/CHANGELOG.md farsend ${FARSEND_PACKAGE_MAINTAINER}
            ${generated}/changelog.gz
        DEPENDS ${CMAKE_SOURCE_DIR}/CHANGELOG.md ${CMAKE_SOURCE_DIR}/packaging/linux/debian_changelog.py
        VERBATIM)

    add_custom_target(farsend_package_files ALL DEPENDS
        ${generated}/samples.stamp ${generated}/farsend.1.gz ${generated}/changelog.gz)

    install(TARGETS farsend RUNTIME DESTINATION bin)
    install(FILES ${CMAKE_SOURCE_DIR}/packaging/udev/70-farsend.rules
        DESTINATION lib/udev/rules.d)
    install(FILES ${generated}/farsend.1.gz DESTINATION share/man/man1)
    install(FILES ${CMAKE_SOURCE_DIR}/packaging/linux/farsend.bash-completion
        DESTINATION share/bash-completion/completions RENAME farsend)
    install(FILES ${CMAKE_SOURCE_DIR}/README.md ${generated}/changelog.gz
        ${CMAKE_SOURCE_DIR}/packaging/linux/copyright
        DESTINATION share/doc/farsend)
    # The manual the README links into, beside it so that its links hold.
    file(GLOB manual_pages CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/docs/*.md)
    install(FILES ${manual_pages} DESTINATION share/doc/farsend/docs)
    install(DIRECTORY ${generated}/samples/ DESTINATION share/farsend/samples)

    set(CPACK_GENERATOR DEB)
    set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
    set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${FARSEND_PACKAGE_MAINTAINER})
    set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
    set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    # SOCI loads its PostgreSQL backend by name (dlopen), which the shared
    # library scan cannot see.
    if(FARSEND_UNIT_DATABASE)
        set(CPACK_DEBIAN_PACKAGE_DEPENDS "libsoci-postgresql4.0")
    endif()
    # CPack puts the summary in front as the synopsis line.
    set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"farsend programs firmware into Farsend Bluetooth and ZigBee targets through
their serial bootloader, reached over a USB HID-to-UART bridge: it chooses
the image by name, checks that it fits the target, erases, programs and
starts the application, one target or every target in turn on a production
line. A built-in simulated bridge and target (--simulate) runs the whole
flow without hardware.
.
The package holds the udev rule that gives the user at the seat access to
the bridge, a sample firmware set, the manual page and bash completion.")
    set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
        ${CMAKE_SOURCE_DIR}/packaging/linux/postinst ${CMAKE_SOURCE_DIR}/packaging/linux/postrm)
    set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
endif()

include(CPack)
