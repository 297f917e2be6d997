# Verification keys, generated at configure time by scripts/keyblob.py as
# initializer lists (generated/*.inc); changing a key file or the script
# configures again.
#
# - MSISTUB_PUBLIC_KEY (a PEM file, default empty): the key launcher.exe's key
#   section is built with. Without it the section holds no key, as in the
#   release launcher: `stubpack stamp` writes the publisher's key into a copy.
# - The development key under keys/ always becomes the library
#   development_key (testing/development_key.h), which the tests, the fuzz
#   targets and the Wine test helpers check signatures with.
set(MSISTUB_PUBLIC_KEY "" CACHE FILEPATH
    "Public key (PEM) built into the launcher's key section; empty: a launcher without a key")

find_package(Python3 REQUIRED COMPONENTS Interpreter)

# Writes the key of pem_file into output (an .inc), or stops the configure.
function(msistub_key_blob pem_file output)
  execute_process(
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/scripts/keyblob.py ${pem_file} ${output}
    RESULT_VARIABLE key_result)
  if(NOT key_result EQUAL 0)
    message(FATAL_ERROR "No verification key from ${pem_file}")
  endif()
  set_property(DIRECTORY ${CMAKE_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
    ${pem_file} ${CMAKE_SOURCE_DIR}/scripts/keyblob.py)
endfunction()

set(MSISTUB_GENERATED ${CMAKE_BINARY_DIR}/generated)
if(MSISTUB_PUBLIC_KEY)
  msistub_key_blob(${MSISTUB_PUBLIC_KEY} ${MSISTUB_GENERATED}/verification_key.inc)
  message(STATUS "Launcher key section: ${MSISTUB_PUBLIC_KEY}")
else()
  file(REMOVE ${MSISTUB_GENERATED}/verification_key.inc)
  message(STATUS "Launcher key section: no key (stamp one with stubpack stamp)")
endif()

msistub_key_blob(${CMAKE_SOURCE_DIR}/keys/dev_public.pem ${MSISTUB_GENERATED}/development_key.inc)
add_library(development_key STATIC ${CMAKE_SOURCE_DIR}/testing/development_key.cpp)
