# kit_add_resources(TARGET DESIGN RC): draws DESIGN.ico with the icon
# generator and compiles the resource script RC, which names it and the
# application manifest DESIGN.manifest beside RC, into TARGET.
function(kit_add_resources target design rc)
  set(icon ${CMAKE_CURRENT_BINARY_DIR}/${design}.ico)
  add_custom_command(OUTPUT ${icon}
    COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tools/make_icon.py ${design} ${icon}
    DEPENDS ${PROJECT_SOURCE_DIR}/tools/make_icon.py
    COMMENT "Drawing ${design}.ico")
  get_filename_component(rc_dir ${rc} DIRECTORY)
  set(manifest ${CMAKE_CURRENT_SOURCE_DIR}/${rc_dir}/${design}.manifest)
  set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS "${icon};${manifest}")
  target_sources(${target} PRIVATE ${rc})
  target_include_directories(${target} PRIVATE ${CMAKE_CURRENT_BINARY_DIR})
endfunction()
