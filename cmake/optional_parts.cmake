# Build options for the parts that need a library beyond the compiler and CMake.
#
#   varnel_optional_part(<option> <doc>)
#     declares <option> as ON, OFF or AUTO: AUTO by default in a top-level build, OFF in a
#     subproject.
#   varnel_resolve_part(<option> <found-variable> <what> <library> <debian-package>)
#     turns the option into ON or OFF for the rest of the configuration, as a normal variable over
#     the cache entry, so that `if(<option>)` reads as usual while the cache keeps what the user
#     chose. AUTO without the library prints one line naming the package and the option; an
#     explicit ON without it stops the configuration with the package to install.

function(varnel_optional_part option doc)
  set(default OFF)
  if(PROJECT_IS_TOP_LEVEL)
    set(default AUTO)
  endif()
  set(${option} ${default} CACHE STRING "${doc}: ON, OFF or AUTO (built when its library is found)")
  set_property(CACHE ${option} PROPERTY STRINGS ON OFF AUTO)
endfunction()

function(varnel_resolve_part option found what library package)
  string(TOUPPER "${${option}}" value)
  if(value STREQUAL "AUTO")
    if(${found})
      set(${option} ON PARENT_SCOPE)
    else()
      message(STATUS "varnel: skipping ${what}: ${library} not found (Debian package ${package}; "
        "option ${option})")
      set(${option} OFF PARENT_SCOPE)
    endif()
  elseif(${option})
    if(NOT ${found})
      message(FATAL_ERROR "${option} is ON but ${library} was not found: install the Debian "
        "package ${package} (apt-get install ${package}), or configure with -D${option}=OFF")
    endif()
    set(${option} ON PARENT_SCOPE)
  else()
    set(${option} OFF PARENT_SCOPE)
  endif()
endfunction()
