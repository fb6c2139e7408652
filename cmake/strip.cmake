# What ships carries no debug sections: after each link the target's debug
# information moves into "<file>.debug" beside it (kept for a debugger, found
# through the image's .gnu_debuglink), and the image itself is stripped.
#
#   kavetta_strip_after_link(kavetta)
function(kavetta_strip_after_link target)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_OBJCOPY} --only-keep-debug $<TARGET_FILE_NAME:${target}> $<TARGET_FILE_NAME:${target}>.debug
    COMMAND ${CMAKE_STRIP} --strip-all $<TARGET_FILE_NAME:${target}>
    COMMAND ${CMAKE_OBJCOPY} --add-gnu-debuglink=$<TARGET_FILE_NAME:${target}>.debug $<TARGET_FILE_NAME:${target}>
    WORKING_DIRECTORY $<TARGET_FILE_DIR:${target}>
    COMMENT "Moving the debug information of ${target} into a file of its own"
    VERBATIM)
endfunction()
