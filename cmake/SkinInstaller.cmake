# orvanta_add_skin_installer(<target> SKIN <file>
#                            [OUTPUT_DIRECTORY <dir>]
#                            [PAYLOADS <name> <file> [<name> <file> ...] | NO_PAYLOAD])
#
# Builds "setup [<file name of SKIN>].exe", the installer that carries the
# skin file as a resource of type "SKIN" named after the file (upper case).
# PAYLOADS lays other payloads in its stead (a name may be an integer id);
# NO_PAYLOAD builds an installer that carries none.
function(orvanta_add_skin_installer target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "NO_PAYLOAD" "SKIN;OUTPUT_DIRECTORY" "PAYLOADS")
  if(NOT arg_SKIN)
    message(FATAL_ERROR "orvanta_add_skin_installer(${target}): SKIN is required")
  endif()
  get_filename_component(skin_file_name "${arg_SKIN}" NAME)
  get_filename_component(skin_path "${arg_SKIN}" ABSOLUTE)

  set(payloads)
  if(arg_PAYLOADS)
    set(payloads ${arg_PAYLOADS})
  elseif(NOT arg_NO_PAYLOAD)
    string(TOUPPER "${skin_file_name}" resource_name)
    set(payloads "${resource_name}" "${skin_path}")
  endif()

  # Each payload line follows a LANGUAGE statement of its own: windres would
  # join a quoted file name with a quoted name on the next line into one
  # string.
  set(script)
  set(depends)
  while(payloads)
    list(POP_FRONT payloads name file)
    get_filename_component(file "${file}" ABSOLUTE)
    string(APPEND script "LANGUAGE 9, 1\n")
    if(name MATCHES "^[0-9]+$")
      string(APPEND script "${name} SKIN \"${file}\"\n")
    else()
      string(TOUPPER "${name}" name)
      string(APPEND script "\"${name}\" SKIN \"${file}\"\n")
    endif()
    list(APPEND depends "${file}")
  endwhile()
  string(APPEND script "LANGUAGE 9, 1\n102 ICON \"${ORVANTA_ICON}\"\n")

  set(rc "${CMAKE_CURRENT_BINARY_DIR}/${target}.rc")
  file(GENERATE OUTPUT "${rc}" CONTENT "${script}")
  set_source_files_properties("${rc}" PROPERTIES OBJECT_DEPENDS "${depends};${ORVANTA_ICON}")

  add_executable(${target} WIN32 "${rc}")
  target_link_libraries(${target} PRIVATE orvanta::installer_code)
  set_target_properties(${target} PROPERTIES OUTPUT_NAME "setup [${skin_file_name}]")
  add_dependencies(${target} installer_icon)
  if(arg_OUTPUT_DIRECTORY)
    set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${arg_OUTPUT_DIRECTORY}")
  endif()
endfunction()
