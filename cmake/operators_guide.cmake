# The operator's guide that the Windows zip carries as its README.md: the
# README's opening paragraph, its Windows section up to the building notes,
# and its operator's guide, with CR LF line ends and a UTF-8 byte-order mark
# (Notepad on Windows 7 and 8 shows LF-only text as one line, and reads
# UTF-8 reliably only when so marked). Every file the guide links is copied
# beside it, so that no link in the zip is dead; a link to a file that does
# not exist stops the configuration.
#
#   varno_operators_guide(README OUTPUT_FOLDER FILES_VARIABLE)
# writes OUTPUT_FOLDER/README.md and the linked files, and sets
# FILES_VARIABLE to the linked files' paths relative to OUTPUT_FOLDER.

# The text of `heading` (a whole line such as "## Windows") up to the next
# heading that starts with one of `ends` (such as "## "), without that one.
function(varno_readme_section text heading ends out)
  string(FIND "${text}" "\n${heading}\n" begin)
  if(begin EQUAL -1)
    message(FATAL_ERROR "README.md has no heading \"${heading}\" for the operator's guide")
  endif()
  math(EXPR begin "${begin} + 1")
  string(SUBSTRING "${text}" ${begin} -1 rest)
  string(LENGTH "${heading}\n" skip)
  string(SUBSTRING "${rest}" ${skip} -1 body)
  string(LENGTH "${rest}" end)
  foreach(next IN LISTS ends)
    string(FIND "${body}" "\n${next}" at)
    if(NOT at EQUAL -1)
      math(EXPR at "${at} + ${skip} + 1")
      if(at LESS end)
        set(end ${at})
      endif()
    endif()
  endforeach()
  string(SUBSTRING "${rest}" 0 ${end} section)
  set(${out} "${section}" PARENT_SCOPE)
endfunction()

function(varno_operators_guide readme output_folder files_variable)
  file(READ "${readme}" text)
  set(text "\n${text}")
  get_filename_component(source_folder "${readme}" DIRECTORY)

  # The opening paragraph says what the tool is.
  string(FIND "${text}" "\n\n" title_end)
  math(EXPR after_title "${title_end} + 2")
  string(SUBSTRING "${text}" ${after_title} -1 rest)
  string(FIND "${rest}" "\n\n" paragraph_end)
  string(SUBSTRING "${rest}" 0 ${paragraph_end} opening)

  varno_readme_section("${text}" "## Windows" "### ;## " windows)
  varno_readme_section("${text}" "### Running on the operator's machine" "### ;## " running)
  varno_readme_section("${text}" "## Operator's guide" "## " guide)
  set(guide "# varno-diag ${PROJECT_VERSION}\n\n${opening}\n\n${windows}${running}${guide}")
  string(REGEX REPLACE "\n+$" "\n" guide "${guide}")

  set(linked "")
  # Brackets would hold a list together, so they go before it is split.
  string(REGEX MATCHALL "\\]\\([^)]+\\)" links "${guide}")
  string(REGEX REPLACE "\\]\\(([^)]+)\\)" "\\1" targets "${links}")
  foreach(target IN LISTS targets)
    if(NOT target MATCHES "^[a-z]+://" AND NOT target IN_LIST linked)
      if(NOT EXISTS "${source_folder}/${target}")
        message(FATAL_ERROR "the operator's guide links ${target}, which does not exist")
      endif()
      configure_file("${source_folder}/${target}" "${output_folder}/${target}" COPYONLY)
      list(APPEND linked "${target}")
    endif()
  endforeach()

  string(REPLACE "\n" "\r\n" guide "${guide}")
  string(ASCII 239 187 191 byte_order_mark)
  file(WRITE "${output_folder}/README.md" "${byte_order_mark}${guide}")
  # A change to the README configures the build again, and so the guide.
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${readme}")
  set(${files_variable} "${linked}" PARENT_SCOPE)
endfunction()
