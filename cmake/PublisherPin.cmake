# The publisher pin: the SHA-256 of the SubjectPublicKeyInfo of the
# certificate the installer must be signed with. A release build sets it; a
# build without it runs whatever installer arrives, and says so here.
#   openssl x509 -in publisher.crt -noout -pubkey |
#     openssl pkey -pubin -outform DER | openssl dgst -sha256
set(KOVRA_PUBLISHER_KEY_SHA256 "" CACHE STRING
  "SHA-256 (64 hex digits) of the installer signer's SubjectPublicKeyInfo; empty: no signature check")

# kovra_publisher_pin_header(<folder> <pin>): writes PinnedPublisher.h with the
# pin into the folder. A malformed pin stops the configure: a typo must never
# build a loader that refuses every installer, or one that checks nothing.
function(kovra_publisher_pin_header folder pin)
  string(LENGTH "${pin}" length)
  if(NOT pin STREQUAL "" AND (NOT pin MATCHES "^[0-9a-fA-F]+$" OR NOT length EQUAL 64))
    message(FATAL_ERROR "KOVRA_PUBLISHER_KEY_SHA256 \"${pin}\" is not 64 hex digits")
  endif()
  set(KOVRA_PUBLISHER_KEY_SHA256 "${pin}")
  configure_file(${PROJECT_SOURCE_DIR}/common/PinnedPublisher.h.in ${folder}/PinnedPublisher.h @ONLY)
endfunction()

kovra_publisher_pin_header(${CMAKE_BINARY_DIR}/generated "${KOVRA_PUBLISHER_KEY_SHA256}")
if(KOVRA_PUBLISHER_KEY_SHA256 STREQUAL "")
  message(STATUS "Installer signature: NOT CHECKED, no publisher pin (KOVRA_PUBLISHER_KEY_SHA256): "
    "the loader runs any installer it downloads; a release build sets the pin")
else()
  message(STATUS "Installer signature: required, publisher key SHA-256 ${KOVRA_PUBLISHER_KEY_SHA256}")
endif()
