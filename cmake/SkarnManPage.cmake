# skarn.1: the tool's man page, made at build time by help2man from what the
# built tool prints for --help, --version, `call --help` and `serve --help`,
# gzipped and installed with the tool (component tool) into share/man/man1.
#
# Included from the top-level CMakeLists.txt, it adds the build rule; run as a
# script (cmake -P, by that rule) it makes the page:
#   cmake -DSKARN_TOOL=<built skarn> -DHELP2MAN=<help2man> -DOUTPUT=<skarn.1.gz> -P SkarnManPage.cmake
if(CMAKE_SCRIPT_MODE_FILE)
  # Subcommand help becomes a COMMANDS section, kept verbatim (.nf); roff's
  # escape character and lines opening with a control character are neutralised.
  set(include_text "[COMMANDS]\n")
  foreach(command call serve)
    execute_process(COMMAND ${SKARN_TOOL} ${command} --help
      OUTPUT_VARIABLE text RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR "`skarn ${command} --help` failed (${status})")
    endif()
    string(REPLACE "\\" "\\e" text "\n${text}")
    string(REPLACE "\n." "\n\\&." text "${text}")
    string(REPLACE "\n'" "\n\\&'" text "${text}")
    string(SUBSTRING "${text}" 1 -1 text)
    string(APPEND include_text ".SS \"skarn ${command}\"\n.nf\n${text}.fi\n")
  endforeach()
  get_filename_component(dir ${OUTPUT} DIRECTORY)
  string(REGEX REPLACE "\\.gz$" "" page ${OUTPUT})
  file(WRITE ${dir}/skarn-man-include.h2m "${include_text}")
  execute_process(COMMAND ${HELP2MAN} --no-info --no-discard-stderr --section=1
      "--name=send SOAP envelopes with attachments over HTTP(S), or answer them"
      --include=${dir}/skarn-man-include.h2m --output=${page} ${SKARN_TOOL}
    RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "help2man failed (${status})")
  endif()
  # -n: no name or time stamp in the gzip header, so that the page is the same
  # from one build to the next.
  execute_process(COMMAND gzip -9nf ${page} RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "gzip ${page} failed (${status})")
  endif()
  return()
endif()

if(NOT TARGET skarn_tool)
  return()
endif()
find_program(HELP2MAN help2man)
if(NOT HELP2MAN)
  message(WARNING "help2man not found (scripts/setup.sh installs it): no man page for skarn")
  return()
endif()
set(page ${CMAKE_BINARY_DIR}/man/skarn.1.gz)
add_custom_command(OUTPUT ${page}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
  COMMAND ${CMAKE_COMMAND} -DSKARN_TOOL=$<TARGET_FILE:skarn_tool> -DHELP2MAN=${HELP2MAN}
          -DOUTPUT=${page} -P ${CMAKE_CURRENT_LIST_FILE}
  DEPENDS skarn_tool ${CMAKE_CURRENT_LIST_FILE}
  COMMENT "Generating the man page skarn.1 with help2man")
add_custom_target(skarn_man_page ALL DEPENDS ${page})
install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tool)
