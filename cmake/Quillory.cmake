# Project-wide compiler settings and the helpers every library folder uses.

add_compile_options(-Wall -Wextra)
if(QUILLORY_WERROR)
  add_compile_options(-Werror)
endif()

if(QUILLORY_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
elseif(QUILLORY_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(NOT QUILLORY_SANITIZE STREQUAL "")
  message(FATAL_ERROR "QUILLORY_SANITIZE must be '', 'address' or 'thread'")
endif()

# quillory_library(NAME DEPS...): a static library from NAME/src/*.cpp with public headers in
# NAME/include, plus (when tests are on) one test program NAME_tests from NAME/tests/*.cpp.
function(quillory_library name)
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/src/*.cpp)
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/include)
  target_link_libraries(${name} PUBLIC ${ARGN})
  if(QUILLORY_TESTS)
    file(GLOB tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tests/*.cpp)
    if(tests)
      add_executable(${name}_tests ${tests})
      target_include_directories(${name}_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/tests)
      target_link_libraries(${name}_tests PRIVATE ${name} GTest::gtest_main GTest::gmock Threads::Threads)
      gtest_discover_tests(${name}_tests DISCOVERY_MODE PRE_TEST
                           PROPERTIES ENVIRONMENT "QUILLORY_SOURCE_DIR=${PROJECT_SOURCE_DIR}")
    endif()
  endif()
endfunction()

find_package(Threads REQUIRED)
