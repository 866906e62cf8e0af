# A program that runs on a bare Windows: console subsystem, the C and C++
# runtimes linked in, no DLL beside it but the system's own.
function(varnock_standalone_program target)
  # Visual Studio links its runtime in for every target (CMAKE_MSVC_RUNTIME_LIBRARY).
  if(MINGW)
    target_compile_options(${target} PRIVATE -fno-exceptions -fno-rtti)
    # printf and the rest from msvcrt itself, not MinGW's own copies linked in.
    target_compile_definitions(${target} PRIVATE __USE_MINGW_ANSI_STDIO=0)
    # No link timestamp, so that the same sources give the same bytes.
    target_link_options(${target} PRIVATE -static -s -Wl,--no-insert-timestamp)
  endif()
endfunction()
