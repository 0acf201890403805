# tallyview_program(TARGET SUMMARY): a program of the installed set. It goes into bin, and where
# man pages are made (TALLYVIEW_MAN_PAGES) it gets one that help2man writes from the program's
# own --help and --version, so page and program cannot disagree. SUMMARY is the page's NAME line.
function(tallyview_program target summary)
    install(TARGETS ${target} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    if(NOT TALLYVIEW_MAN_PAGES)
        return()
    endif()
    set(page ${CMAKE_BINARY_DIR}/man/${target}.1)
    add_custom_command(OUTPUT ${page}.gz
                       COMMAND ${HELP2MAN} --no-info --name=${summary} --output=${page}
                               $<TARGET_FILE:${target}>
                       COMMAND gzip -9nf ${page}
                       DEPENDS ${target}
                       COMMENT "Man page of ${target}"
                       VERBATIM)
    add_custom_target(${target}-man ALL DEPENDS ${page}.gz)
    install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endfunction()
