# Writes the SHA-256 of the payload archive as 64 lower-case hexadecimal
# digits, the content of the resource that Setup.exe checks its payload
# against before it decodes it.
#   cmake -DARCHIVE=payload.qpk -DOUTPUT=payload.sha256 -P payload_digest.cmake
foreach(var ARCHIVE OUTPUT)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "payload_digest.cmake: ${var} is not set")
  endif()
endforeach()
file(SHA256 "${ARCHIVE}" digest)
file(WRITE "${OUTPUT}" "${digest}")
