# velmora_warnings(target): the project's warning set, errors when VELMORA_WERROR is on.
function(velmora_warnings target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4 $<$<BOOL:${VELMORA_WERROR}>:/WX>)
  else()
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion
      -Wno-sign-conversion -Wold-style-cast -Wnon-virtual-dtor -Woverloaded-virtual
      $<$<BOOL:${VELMORA_WERROR}>:-Werror>)
  endif()
endfunction()
