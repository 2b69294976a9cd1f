# kit_system_dlls(TARGET): TARGET takes its DLLs from the system folder only
# (platform/windows/system_dlls.cpp), and its image's load configuration
# entry points at the structure that asks for that (tools/pe_load_config.py
# sets it from the linker's map, which GNU ld 2.40 does not do itself).
function(kit_system_dlls target)
  target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/platform/windows/system_dlls.cpp)
  set(map ${CMAKE_CURRENT_BINARY_DIR}/${target}.map)
  target_link_options(${target} PRIVATE LINKER:-Map=${map})
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tools/pe_load_config.py
            $<TARGET_FILE:${target}> ${map}
    VERBATIM)
endfunction()
