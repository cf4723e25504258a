# The service benchmark (bench/service_bench.sh): a client of the real
# service, built on the end-to-end tests' support code.
add_executable(service_bench ${CMAKE_CURRENT_LIST_DIR}/service_bench.cpp)
target_link_libraries(service_bench PRIVATE krvn_e2e_service_support)
add_dependencies(service_bench Tolvane substitute_server)
krvn_unicode_entry(service_bench)
