# The results service and the sample draw history (outside the library):
# the game tables, the request payload, the answer writer and the history
# generator in the static library "draws", and the two programs on it.
# Linux programs only, like the other tools.
if(WIN32)
  return()
endif()
find_package(nlohmann_json REQUIRED)
find_package(PkgConfig REQUIRED)
pkg_check_modules(CPP_HTTPLIB REQUIRED IMPORTED_TARGET GLOBAL cpp-httplib)
find_package(Threads REQUIRED)

add_library(draws STATIC
  ${CMAKE_CURRENT_LIST_DIR}/draws/draw_games.cc
  ${CMAKE_CURRENT_LIST_DIR}/draws/draw_payload.cc
  ${CMAKE_CURRENT_LIST_DIR}/draws/draw_answer.cc
  ${CMAKE_CURRENT_LIST_DIR}/draws/draw_history.cc)
target_include_directories(draws PUBLIC ${PROJECT_SOURCE_DIR})
target_compile_options(draws PRIVATE ${DOWNSQL_WARNINGS})
target_link_libraries(draws PUBLIC storage base platform nlohmann_json::nlohmann_json)

# draws-service: the results service.
downsql_program(draws-service
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/draws_service_main.cc
  DEPS draws PkgConfig::CPP_HTTPLIB Threads::Threads)

# draws-history: the sample history of both databases.
downsql_program(draws-history
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/draws_history_main.cc
  DEPS draws ui)
