# Helper programs of the whole-program benchmarks (bench/run_benchmarks.sh): a SEED file
# generator and a reference decoder (both on libmseed), and a runner that measures a program's
# wall time and peak memory.
add_executable(measure_tool ${CMAKE_CURRENT_SOURCE_DIR}/measure_tool.cpp)
tarnvel_warnings(measure_tool)
if(MSEED_BENCH_FOUND)
  add_executable(seed_generate_tool ${CMAKE_CURRENT_SOURCE_DIR}/seed_generate_tool.cpp)
  target_link_libraries(seed_generate_tool PRIVATE PkgConfig::MSEED_BENCH)
  target_include_directories(seed_generate_tool PRIVATE ${PROJECT_SOURCE_DIR})
  tarnvel_warnings(seed_generate_tool)
  add_executable(mseed_decode_tool ${CMAKE_CURRENT_SOURCE_DIR}/mseed_decode_tool.cpp)
  target_link_libraries(mseed_decode_tool PRIVATE PkgConfig::MSEED_BENCH)
  tarnvel_warnings(mseed_decode_tool)
endif()
