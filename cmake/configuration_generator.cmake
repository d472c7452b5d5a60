# The configuration block's codec and torvane-config-block, the generator
# that the build runs on the build machine to make the block.
add_library(torvane_configuration_block STATIC ${CMAKE_SOURCE_DIR}/launcher/configuration_block.cc)
target_link_libraries(torvane_configuration_block PUBLIC torvane_support)
add_executable(torvane-config-block ${CMAKE_SOURCE_DIR}/tools/config_block_generator.cc)
target_link_libraries(torvane-config-block PRIVATE torvane_configuration_block)
